// The settings store on a real disk through the POSIX file access: the file
// is replaced whole, or left alone.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "framework/system_files.h"
#include "settings/settings_store.h"

namespace zvk {
namespace {

// The host lives in a fresh folder; Windows paths reach the disk through
// the POSIX file access, which maps the backslashes.
class DiskLocation : public LocationPlatform {
public:
    explicit DiskLocation(std::string folder) : folder_(std::move(folder)) {}
    bool QueryPlatform(bool& nt) override
    {
        nt = true;
        return true;
    }
    uint32_t StoreInUsersFolder() override { return 0; }
    std::string AppDataFolder() override { return folder_ + "\\AppData"; }
    std::string HostExecutablePath() override { return folder_ + "\\tvhost.exe"; }
    std::string CommandLine() override { return "tvhost.exe"; }
    void CreateFolder(const std::string& path) override
    {
        std::string native = path;
        for (char& c : native)
            c = c == '\\' ? '/' : c;
        mkdir(native.c_str(), 0777);
    }

private:
    std::string folder_;
};

class DiskStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zvk-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        location = std::make_unique<DiskLocation>(root);
        store.UsePlatform(location.get(), &fw::SystemFileSystem());
    }
    void TearDown() override
    {
        unlink(IniPath().c_str());
        rmdir(IniPath().c_str());
        rmdir((root + "/Plugins").c_str());
        rmdir(root.c_str());
    }
    std::string IniPath() const { return root + "/Plugins/ZVK_Gamma.ini"; }
    std::string Read() const
    {
        std::ifstream in(IniPath(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void Write(const std::string& text) const
    {
        mkdir((root + "/Plugins").c_str(), 0777);
        std::ofstream(IniPath(), std::ios::binary) << text;
    }
    std::vector<std::string> PluginsFolder() const
    {
        std::vector<std::string> names;
        if (DIR* dir = opendir((root + "/Plugins").c_str())) {
            while (const dirent* entry = readdir(dir)) {
                if (entry->d_name[0] != '.')
                    names.push_back(entry->d_name);
            }
            closedir(dir);
        }
        return names;
    }
    struct stat Stat() const
    {
        struct stat info = {};
        stat(IniPath().c_str(), &info);
        return info;
    }

    std::string root;
    std::unique_ptr<DiskLocation> location;
    SettingsStore store;
};

const char kSaved[] = "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n"
                      "[6]\r\nRGamma=100\r\nGGamma=100\r\nBGamma=100\r\nBinding=1\r\nEnable=1\r\n";

TEST_F(DiskStore, ANewTextReplacesTheFileWhole)
{
    store.Load("ZVK_Gamma", nullptr);
    const struct stat empty = Stat();
    EXPECT_EQ(empty.st_size, 0) << "loading made an empty file";
    store.SelectSection(6);
    store.Save();
    EXPECT_EQ(Read(), kSaved);
    EXPECT_EQ(PluginsFolder(), std::vector<std::string>{"ZVK_Gamma.ini"}) << "no temporary file is left";
    EXPECT_NE(Stat().st_ino, empty.st_ino) << "a new file took the old one's place";
}

TEST_F(DiskStore, AnUnchangedFileIsNotTouched)
{
    Write(kSaved);
    utimbuf old = {978307200, 978307200};  // 2001-01-01
    ASSERT_EQ(utime(IniPath().c_str(), &old), 0);
    const struct stat before = Stat();
    store.Load("ZVK_Gamma", nullptr);
    store.SelectSection(6);
    store.Save();
    const struct stat after = Stat();
    EXPECT_EQ(after.st_mtime, 978307200);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(Read(), kSaved);
}

TEST_F(DiskStore, WhatCannotBeReplacedStaysAndTheTemporaryFileGoes)
{
    // A folder where the file should be: it can be neither read nor replaced.
    mkdir((root + "/Plugins").c_str(), 0777);
    ASSERT_EQ(mkdir(IniPath().c_str(), 0777), 0);
    store.Load("ZVK_Gamma", nullptr);
    store.SelectSection(6);
    store.Save();
    struct stat info = {};
    ASSERT_EQ(stat(IniPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(PluginsFolder(), std::vector<std::string>{"ZVK_Gamma.ini"});
}

// Only the holder of the lock may change the file: a refused second opener
// must not have emptied it on the way in.
TEST_F(DiskStore, ARefusedWriterLeavesTheFileWhole)
{
    Write(kSaved);
    FileSystem& files = fw::SystemFileSystem();
    const std::string path = root + "\\Plugins\\ZVK_Gamma.ini";
    std::unique_ptr<File> holder = files.OpenForReading(path);
    ASSERT_TRUE(holder);
    EXPECT_FALSE(files.CreateForWriting(path));
    EXPECT_FALSE(files.OpenForReading(path));
    EXPECT_EQ(Read(), kSaved);
}

}  // namespace
}  // namespace zvk
