// The Win32 file access of the settings store: no sharing, whole reads, and
// a replace that either happens completely or not at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

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

// A replace hands on the old file's attributes and none of the new one's: a
// read-only temporary never makes the settings read-only.
TEST_F(Win32Files, ReplacingKeepsTheOldAttributesOnly)
{
    constexpr DWORD kSeen = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const struct {
        DWORD source, target;
    } cases[] = {
        {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_ARCHIVE},
        {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_NORMAL},
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_NORMAL},
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_HIDDEN},
        {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
    };
    const std::string target = folder + "a.ini";
    const std::string source = folder + "b.ini";
    for (const auto& attributes : cases) {
        SCOPED_TRACE(std::to_string(attributes.source) + " over " + std::to_string(attributes.target));
        for (const std::string& path : {target, source}) {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            Put(path, path == target ? "old" : "new");
        }
        ASSERT_TRUE(SetFileAttributesA(source.c_str(), attributes.source));
        ASSERT_TRUE(SetFileAttributesA(target.c_str(), attributes.target));
        EXPECT_TRUE(files.Replace(source, target));
        EXPECT_EQ(Content(target), "new");
        EXPECT_EQ(GetFileAttributesA(target.c_str()) & kSeen, attributes.target & kSeen);
        SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// The store's files below a host folder of the test's own.
struct HereLocation : LocationPlatform {
    std::string folder;
    bool QueryPlatform(bool& nt) override { return nt = true; }
    uint32_t StoreInUsersFolder() override { return 0; }
    std::string AppDataFolder() override { return folder; }
    std::string HostExecutablePath() override { return folder + "host.exe"; }
    std::string CommandLine() override { return "host.exe"; }
    void CreateFolder(const std::string& path) override { CreateDirectoryA(path.c_str(), nullptr); }
};

class Win32Store : public Win32Files {
protected:
    void SetUp() override
    {
        Win32Files::SetUp();
        here.folder = folder;
        ini = folder + "Plugins\\a.ini";
        store.UsePlatform(&here, &files);
    }
    void TearDown() override
    {
        for (const std::string& path : {ini, ini + ".tmp"}) {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
        RemoveDirectoryA((folder + "Plugins").c_str());
        Win32Files::TearDown();
    }
    // A file as another program leaves it, with the given attributes.
    void Make(const std::string& path, const std::string& text, DWORD attributes)
    {
        CreateDirectoryA((folder + "Plugins").c_str(), nullptr);
        Put(path, text);
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes));
    }
    // Load, a new section, Save.
    void Session()
    {
        store.Load("a", nullptr);
        store.SelectSection(5);
        store.Save();
    }

    HereLocation here;
    std::string ini;
    SettingsStore store;
};

const char kOld[] = "[DIALOG]\r\nDlgWndPosX=1\r\nDlgWndPosY=2\r\n";
const char kNew[] = "[DIALOG]\r\nDlgWndPosX=1\r\nDlgWndPosY=2\r\n"
                    "[5]\r\nRGamma=100\r\nGGamma=100\r\nBGamma=100\r\nBinding=1\r\nEnable=1\r\n";

// A settings file that another program holds open cannot be replaced: the
// store then leaves it as it was and removes its temporary file.
TEST_F(Win32Store, ASaveOverAFileHeldOpenLeavesItAlone)
{
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
}

// The file's identity on its volume: a replaced file is another one, a file
// rewritten in place stays the same.
uint64_t FileIndex(const std::string& path)
{
    const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return known ? uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow : 0;
}

// Held for a moment while a save replaces it (a scan just after the last
// write): the save waits for it, and still replaces the file in one step.
TEST_F(Win32Store, ASaveOverAFileHeldForAMomentWaitsForIt)
{
    Make(ini, kOld, FILE_ATTRIBUTE_ARCHIVE);
    const uint64_t before = FileIndex(ini);
    ASSERT_NE(before, 0u);
    store.Load("a", nullptr);
    store.SelectSection(5);
    const HANDLE held = CreateFileA(ini.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread release([held] {
        Sleep(300);
        CloseHandle(held);
    });
    store.Save();
    release.join();
    EXPECT_EQ(Content(ini), kNew);
    EXPECT_NE(FileIndex(ini), before) << "rewritten in place, not replaced";
    EXPECT_FALSE(Exists(ini + ".tmp"));
}

// A temporary file left read-only by an earlier save is removed, and the
// new file keeps the old one's attributes.
TEST_F(Win32Store, AStaleTemporaryFileGoesAndAttributesStay)
{
    Make(ini, kOld, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    Make(ini + ".tmp", "stale", FILE_ATTRIBUTE_READONLY);
    Session();
    EXPECT_EQ(Content(ini), kNew);
    EXPECT_FALSE(Exists(ini + ".tmp"));
    EXPECT_EQ(GetFileAttributesA(ini.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              DWORD{FILE_ATTRIBUTE_HIDDEN});
}

TEST_F(Win32Store, AReadOnlyFileIsNotWritten)
{
    Make(ini, kOld, FILE_ATTRIBUTE_READONLY);
    Session();
    EXPECT_EQ(Content(ini), kOld);
    EXPECT_FALSE(Exists(ini + ".tmp"));
    EXPECT_FALSE(files.CreateForWriting(ini)) << "and the file layer refuses it too";
    EXPECT_FALSE(files.Replace(ini + ".tmp", ini));
}

// Rewriting in place, as a save does where there is no replace, keeps a
// hidden file hidden.
TEST_F(Win32Store, RewritingKeepsAttributes)
{
    Make(ini, kOld, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    Put(ini, "new");
    EXPECT_EQ(Content(ini), "new");
    EXPECT_EQ(GetFileAttributesA(ini.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
}

}  // namespace
}  // namespace zvk
