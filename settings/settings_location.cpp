#include "settings/settings_location.h"

namespace zvk {
namespace {

// Only ASCII letters change: the command line is ANSI text in any code page.
std::string LowerCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The one character after the first occurrence of a switch; empty when the
// switch ends the text. Found anywhere, also inside another argument.
bool InstanceAfter(const std::string& commandLine, const char* option, std::string& instance)
{
    const size_t at = commandLine.find(option);
    if (at == std::string::npos)
        return false;
    const size_t next = at + std::char_traits<char>::length(option);
    instance = next < commandLine.size() ? commandLine.substr(next, 1) : std::string();
    return true;
}

}  // namespace

void ResolvePath(LocationPlatform& platform, const std::string& baseName, SettingsLocation& location)
{
    bool ntFamily = false;
    if (baseName.empty() || !platform.QueryPlatform(ntFamily))
        return;
    const uint32_t inUsersFolder = platform.StoreInUsersFolder();

    // A name or folder the system could not give forms no path either: the
    // file would land in the current folder or at the root of a drive.
    std::string folder;
    if (ntFamily && inUsersFolder != 0) {
        folder = platform.AppDataFolder();
        if (folder.empty())
            return;
        folder += "\\Zentavio\\";
    } else {
        folder = platform.HostExecutablePath();
        if (folder.empty())
            return;
        const size_t slash = folder.rfind('\\');
        folder.erase(slash == std::string::npos ? 0 : slash + 1);
    }

    // "/inst:" wins over "-inst:" when both are given.
    const std::string commandLine = LowerCase(platform.CommandLine());
    std::string instance;
    InstanceAfter(commandLine, "-inst:", instance);
    InstanceAfter(commandLine, "/inst:", instance);
    if (!instance.empty())
        folder += "Instances\\" + instance + "\\";

    // Only the last folder is made; its parents must exist already.
    folder += "Plugins\\";
    platform.CreateFolder(folder);

    location.instanceName = instance;
    location.folder = folder;
    location.baseName = baseName;
    location.fileName = baseName + ".ini";
    location.filePath = folder + location.fileName;
}

}  // namespace zvk
