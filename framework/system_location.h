// The Windows queries behind the settings file's location: version, registry,
// application-data folder, host executable, command line, folder creation.
// Portable header; the implementation is Windows only.
#pragma once

#include "settings/settings_platform.h"

namespace zvk::fw {

// The one instance, alive for the program's whole life.
LocationPlatform& SystemLocation();

}  // namespace zvk::fw
