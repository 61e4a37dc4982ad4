// Settings file location: beside the host executable or in the user's
// application-data folder, per host instance, named after the plug-in.
// Portable code; the system is asked through LocationPlatform.
#pragma once

#include <string>

#include "settings/settings_platform.h"

namespace zvk {

struct SettingsLocation {
    std::string instanceName;  // empty or one lower-case character
    std::string folder;        // ends in a backslash
    std::string baseName;
    std::string fileName;
    std::string filePath;      // the only field that loading and saving use
};

// Fills the location fields for the plug-in library named baseName (no
// folder, no extension). When the system cannot tell its version, nothing
// changes.
void ResolvePath(LocationPlatform& platform, const std::string& baseName, SettingsLocation& location);

}  // namespace zvk
