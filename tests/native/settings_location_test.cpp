// Where the settings file lives, against a pretend Windows.
#include <gtest/gtest.h>

#include <string>

#include "settings/settings_location.h"
#include "tests/native/settings_fakes.h"

namespace zvk {
namespace {

constexpr char kHost[] = "\"C:\\TV\\tvhost.exe\"";

TEST(SettingsLocation, TheSevenPlaces)
{
    const struct {
        bool nt;
        uint32_t registry;
        std::string commandLine;
        const char* filePath;
    } cases[] = {
        {true, 0, kHost, "C:\\TV\\Plugins\\ZVK_Gamma.ini"},
        {true, 0, std::string(kHost) + " /inst:2", "C:\\TV\\Instances\\2\\Plugins\\ZVK_Gamma.ini"},
        {false, 0, std::string(kHost) + " /INST:Beta", "C:\\TV\\Instances\\b\\Plugins\\ZVK_Gamma.ini"},
        {true, 0, std::string(kHost) + " -inst:3 /inst:5", "C:\\TV\\Instances\\5\\Plugins\\ZVK_Gamma.ini"},
        {true, 1, kHost, "C:\\Users\\viewer\\AppData\\Roaming\\Zentavio\\Plugins\\ZVK_Gamma.ini"},
        {true, 1, std::string(kHost) + " -inst:2",
         "C:\\Users\\viewer\\AppData\\Roaming\\Zentavio\\Instances\\2\\Plugins\\ZVK_Gamma.ini"},
        {false, 1, kHost, "C:\\TV\\Plugins\\ZVK_Gamma.ini"},
        // Any non-zero value counts, whatever its size.
        {true, 0x80000000u, kHost, "C:\\Users\\viewer\\AppData\\Roaming\\Zentavio\\Plugins\\ZVK_Gamma.ini"},
    };
    for (const auto& c : cases) {
        fake::System system;
        system.ntFamily = c.nt;
        system.usersFolderValue = c.registry;
        system.commandLine = c.commandLine;
        SettingsLocation location;
        ResolvePath(system, "ZVK_Gamma", location);
        const std::string label = c.commandLine + (c.nt ? ", NT" : ", not NT") + ", value " + std::to_string(c.registry);
        EXPECT_EQ(location.filePath, c.filePath) << label;
        EXPECT_EQ(location.fileName, "ZVK_Gamma.ini") << label;
        EXPECT_EQ(location.folder + location.fileName, location.filePath) << label;
        // Only the last folder is asked for, once.
        ASSERT_EQ(system.foldersAskedFor.size(), 1u) << label;
        EXPECT_EQ(system.foldersAskedFor[0], location.folder) << label;
    }
}

TEST(SettingsLocation, TheInstanceIsOneLowerCaseCharacter)
{
    const struct {
        const char* commandLine;
        const char* instance;
    } cases[] = {
        {"tvhost.exe /inst:12", "1"},
        {"tvhost.exe /INST:Q", "q"},
        {"tvhost.exe --skin=x/Inst:Zz", "z"},  // inside another argument
        {"tvhost.exe -inst:", ""},             // at the very end
        {"tvhost.exe -inst:7 /inst:", ""},     // "/inst:" wins, and it is at the end
        {"tvhost.exe /inst:4 -inst:6", "4"},   // "/inst:" wins whatever the order
        {"tvhost.exe -inst:a -inst:b", "a"},   // the first occurrence
        {"tvhost.exe /inst:_", "_"},
        {"tvhost.exe /inst: 1", " "},
        {"tvhost.exe \xC0/inst:\xC1", "\xC1"},  // only ASCII letters change case
        {"tvhost.exe inst:3 /inst", ""},
    };
    for (const auto& c : cases) {
        fake::System system;
        system.commandLine = c.commandLine;
        SettingsLocation location;
        ResolvePath(system, "ZVK_Gamma", location);
        EXPECT_EQ(location.instanceName, c.instance) << c.commandLine;
        const std::string instancePart = *c.instance ? std::string("Instances\\") + c.instance + "\\" : "";
        EXPECT_EQ(location.folder, "C:\\TV\\" + instancePart + "Plugins\\") << c.commandLine;
    }
}

TEST(SettingsLocation, NameAndFolderEdges)
{
    fake::System system;
    system.exePath = "tvhost.exe";  // no backslash: a relative path
    SettingsLocation location;
    ResolvePath(system, "zvk_GAMMA", location);
    EXPECT_EQ(location.filePath, "Plugins\\zvk_GAMMA.ini") << "the letter case of the name stays";
    EXPECT_EQ(location.baseName, "zvk_GAMMA");

}

// A query that failed gives an empty text: no path then, as for an unknown
// version, rather than a file in the current folder or at a drive's root.
TEST(SettingsLocation, AnEmptyAnswerFormsNoPath)
{
    const struct {
        const char* what;
        uint32_t registry;
        const char* appData;
        const char* exePath;
        const char* baseName;
    } cases[] = {
        {"application-data folder", 1, "", "C:\\TV\\tvhost.exe", "ZVK_Gamma"},
        {"host executable", 0, "C:\\Users\\viewer", "", "ZVK_Gamma"},
        {"library name", 0, "C:\\Users\\viewer", "C:\\TV\\tvhost.exe", ""},
    };
    for (const auto& c : cases) {
        fake::System system;
        system.usersFolderValue = c.registry;
        system.appData = c.appData;
        system.exePath = c.exePath;
        SettingsLocation location;
        ResolvePath(system, c.baseName, location);
        EXPECT_TRUE(location.filePath.empty()) << c.what << ": " << location.filePath;
        EXPECT_TRUE(system.foldersAskedFor.empty()) << c.what;
    }
}

TEST(SettingsLocation, AnUnknownVersionChangesNothing)
{
    fake::System system;
    system.versionKnown = false;
    SettingsLocation location;
    location.filePath = "kept";
    location.instanceName = "k";
    ResolvePath(system, "ZVK_Gamma", location);
    EXPECT_EQ(location.filePath, "kept");
    EXPECT_EQ(location.instanceName, "k");
    EXPECT_TRUE(location.folder.empty());
    EXPECT_TRUE(system.foldersAskedFor.empty()) << "no folder is made";
}

TEST(SettingsLocation, OnlyTheLastFolderIsMade)
{
    const struct {
        uint32_t registry;
        const char* commandLine;
        bool parentExists;
        const char* folder;
    } cases[] = {
        {0, "tvhost.exe", true, "C:\\TV\\Plugins\\"},
        {1, "tvhost.exe", false, "C:\\Users\\viewer\\AppData\\Roaming\\Zentavio\\Plugins\\"},
        {0, "tvhost.exe /inst:2", false, "C:\\TV\\Instances\\2\\Plugins\\"},
    };
    for (const auto& c : cases) {
        fake::System system;
        system.usersFolderValue = c.registry;
        system.commandLine = c.commandLine;
        SettingsLocation location;
        ResolvePath(system, "ZVK_Gamma", location);
        EXPECT_EQ(location.folder, c.folder);
        EXPECT_EQ(system.folders.count(c.folder) == 1, c.parentExists) << c.folder;
        // Asking again for a folder that exists is not an error.
        ResolvePath(system, "ZVK_Gamma", location);
        EXPECT_EQ(location.folder, c.folder);
    }
}

}  // namespace
}  // namespace zvk
