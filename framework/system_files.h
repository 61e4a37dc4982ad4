// File access for the settings store on the system this is built for: Win32
// calls in the DLL, POSIX calls natively. Portable header.
#pragma once

#include "settings/settings_platform.h"

namespace zvk::fw {

// The one instance, alive for the program's whole life.
FileSystem& SystemFileSystem();

}  // namespace zvk::fw
