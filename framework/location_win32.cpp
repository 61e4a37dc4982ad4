// The settings file's location queries, answered by Windows.
#include <windows.h>
#include <shlobj.h>

#include "framework/system_location.h"

namespace zvk::fw {
namespace {

class Win32Location final : public LocationPlatform {
public:
    bool QueryPlatform(bool& ntFamily) override
    {
        OSVERSIONINFOEXA extended = {};
        extended.dwOSVersionInfoSize = sizeof extended;
        if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) {
            ntFamily = extended.dwPlatformId == VER_PLATFORM_WIN32_NT;
            return true;
        }
        OSVERSIONINFOA basic = {};
        basic.dwOSVersionInfoSize = sizeof basic;
        if (!GetVersionExA(&basic))
            return false;
        ntFamily = basic.dwPlatformId == VER_PLATFORM_WIN32_NT;
        return true;
    }

    // At most four bytes, whatever the value's type; any failure reads 0.
    uint32_t StoreInUsersFolder() override
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zentavio", 0, KEY_READ, &key) != ERROR_SUCCESS)
            return 0;
        DWORD value = 0;
        DWORD size = sizeof value;
        if (RegQueryValueExA(key, "StoreInUsersFolder", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS)
            value = 0;
        RegCloseKey(key);
        return value;
    }

    std::string AppDataFolder() override
    {
        char path[MAX_PATH + 1] = {};
        if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_APPDATA, FALSE))
            path[0] = '\0';
        return path;
    }

    std::string HostExecutablePath() override
    {
        char path[MAX_PATH + 1] = {};
        const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        return std::string(path, length < MAX_PATH ? length : MAX_PATH);
    }

    std::string CommandLine() override
    {
        const char* line = GetCommandLineA();
        return line ? line : "";
    }

    void CreateFolder(const std::string& path) override
    {
        CreateDirectoryA(path.c_str(), nullptr);
    }
};

}  // namespace

LocationPlatform& SystemLocation()
{
    static Win32Location location;
    return location;
}

}  // namespace zvk::fw
