// The Win32 file access of the settings store: no sharing, whole reads, and
// a replace that either happens completely or not at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "framework/system_files.h"
#include "framework/system_location.h"
#include "settings/settings_store.h"

namespace zvk {
namespace {

class Win32Files : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH] = {};
        ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
        folder = std::string(temp) + "zvk-files-" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(folder.c_str(), nullptr);
    }
    void TearDown() override
    {
        for (const char* name : {"a.ini", "a.ini.tmp", "b.ini"})
            DeleteFileA((folder + name).c_str());
        RemoveDirectoryA(folder.c_str());
    }
    static std::string Content(const std::string& path)
    {
        std::unique_ptr<File> file = files.OpenForReading(path);
        uint64_t length = 0;
        if (!file || !file->GetLength(length))
            return "<cannot open>";
        std::string text(static_cast<size_t>(length), '\0');
        if (length && !file->Read(&text[0], text.size()))
            return "<cannot read>";
        return text;
    }
    static void Put(const std::string& path, const std::string& text)
    {
        std::unique_ptr<File> file = files.CreateForWriting(path);
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->Write(text.data(), text.size()));
        ASSERT_TRUE(file->Commit());
    }
    static bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

    static inline FileSystem& files = fw::SystemFileSystem();
    std::string folder;
};

TEST_F(Win32Files, OpeningForReadingCreatesTheFileAndSharesItWithNoOne)
{
    const std::string path = folder + "a.ini";
    std::unique_ptr<File> first = files.OpenForReading(path);
    ASSERT_TRUE(first);
    uint64_t length = 99;
    EXPECT_TRUE(first->GetLength(length));
    EXPECT_EQ(length, 0u);
    char byte = 0;
    EXPECT_FALSE(first->Read(&byte, 1)) << "nothing to read";
    EXPECT_FALSE(files.OpenForReading(path)) << "not while another opener has it";
    EXPECT_FALSE(files.CreateForWriting(path));
    first.reset();
    EXPECT_TRUE(files.OpenForReading(path));
}

TEST_F(Win32Files, WritingTruncatesAndReplacingTakesTheOldPlace)
{
    const std::string target = folder + "a.ini";
    const std::string source = folder + "b.ini";
    Put(target, "old and longer");
    Put(target, "old");
    EXPECT_EQ(Content(target), "old");
    Put(source, "new");
    EXPECT_TRUE(files.Replace(source, target));
    EXPECT_EQ(Content(target), "new");
    EXPECT_FALSE(Exists(source));
    EXPECT_TRUE(files.Remove(target));
    EXPECT_FALSE(files.Remove(target));
}

// A settings file that another program holds open cannot be replaced: the
// store then leaves it as it was and removes its temporary file.
TEST_F(Win32Files, ASaveOverAFileHeldOpenLeavesItAlone)
{
    struct HereLocation : LocationPlatform {
        std::string folder;
        bool QueryPlatform(bool& nt) override { return nt = true; }
        uint32_t StoreInUsersFolder() override { return 0; }
        std::string AppDataFolder() override { return folder; }
        std::string HostExecutablePath() override { return folder + "host.exe"; }
        std::string CommandLine() override { return "host.exe"; }
        void CreateFolder(const std::string& path) override { CreateDirectoryA(path.c_str(), nullptr); }
    } here;
    here.folder = folder;
    const std::string ini = folder + "Plugins\\a.ini";
    SettingsStore store;
    store.UsePlatform(&here, &files);
    store.Load("a", nullptr);
    ASSERT_TRUE(Exists(ini));
    store.SelectSection(5);
    {
        const HANDLE held = CreateFileA(ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        store.Save();
        CloseHandle(held);
    }
    EXPECT_EQ(Content(ini), "");
    EXPECT_FALSE(Exists(ini + ".tmp"));

    store.Save();  // free again: now it is written
    EXPECT_EQ(Content(ini).substr(0, 10), "[DIALOG]\r\n");
    DeleteFileA(ini.c_str());
    RemoveDirectoryA((folder + "Plugins").c_str());
}

}  // namespace
}  // namespace zvk
