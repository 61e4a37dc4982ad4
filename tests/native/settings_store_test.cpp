// The settings store's life cycle against a pretend Windows: load, section
// switches, snapshots, saving, and files it must survive.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "gamma/gamma_tables.h"
#include "settings/settings_store.h"
#include "tests/native/settings_fakes.h"

namespace zvk {
namespace {

using fake::kIniPath;
using Records = std::vector<SettingsRecord>;

std::set<int64_t> gConfirmed;
std::vector<int64_t> gAsked;

int32_t Confirm(int64_t sectionId)
{
    gAsked.push_back(sectionId);
    return gConfirmed.count(sectionId) ? 1 : 0;
}

int32_t ConfirmAll(int64_t sectionId)
{
    gAsked.push_back(sectionId);
    return 1;
}

std::string Section(int64_t id, int r, int g, int b, int binding = 1, int enable = 1)
{
    return "[" + std::to_string(id) + "]\r\nRGamma=" + std::to_string(r) + "\r\nGGamma=" + std::to_string(g) +
           "\r\nBGamma=" + std::to_string(b) + "\r\nBinding=" + std::to_string(binding) +
           "\r\nEnable=" + std::to_string(enable) + "\r\n";
}

std::string Dialog(int x = -100, int y = -100)
{
    return "[DIALOG]\r\nDlgWndPosX=" + std::to_string(x) + "\r\nDlgWndPosY=" + std::to_string(y) + "\r\n";
}

class Store : public ::testing::Test {
protected:
    void SetUp() override
    {
        gConfirmed.clear();
        gAsked.clear();
        system.folders.insert(fake::kPluginsFolder);
        store.UsePlatform(&system, &system);
    }
    void LoadFile(const std::string& text, SectionCallback callback = ConfirmAll)
    {
        system.files[kIniPath] = text;
        store.Load("ZVK_Gamma", callback);
    }
    std::string& File() { return system.files[kIniPath]; }

    fake::System system;
    SettingsStore store;
};

TEST_F(Store, NoFileGivesTheBuiltInDefaults)
{
    store.Load("ZVK_Gamma", ConfirmAll);
    EXPECT_EQ(store.Location().filePath, kIniPath);
    ASSERT_EQ(system.files.count(kIniPath), 1u) << "loading creates an empty file";
    EXPECT_EQ(File(), "");
    EXPECT_EQ(store.defaults, (SettingsRecord{0, 100, 100, 100, 1, 1}));
    EXPECT_EQ(store.GetDialogPos().x, -100);
    EXPECT_EQ(store.GetDialogPos().y, -100);
    EXPECT_EQ(store.CurrentIndex(), -1);

    EXPECT_EQ(store.SelectSection(5), 1);
    EXPECT_EQ(store.current, (SettingsRecord{5, 100, 100, 100, 1, 1}));
    EXPECT_EQ(store.SelectSection(5), 0) << "the same section again";
    store.Save();
    EXPECT_EQ(File(), Dialog() + Section(5, 100, 100, 100));
    EXPECT_EQ(system.removed, std::vector<std::string>{}) << "the temporary file became the settings file";
    EXPECT_EQ(system.files.size(), 1u);
}

TEST_F(Store, SectionsFollowTheHostAndKeepTheirLiveValues)
{
    LoadFile(Dialog(412, 230) + Section(1, 100, 100, 100) + Section(7, 135, 120, 100, 0, 1));
    EXPECT_EQ(store.GetDialogPos().x, 412);
    EXPECT_EQ(store.GetDialogPos().y, 230);
    EXPECT_EQ(store.Records(), (Records{{1, 100, 100, 100, 1, 1}, {7, 135, 120, 100, 0, 1}}));
    EXPECT_EQ(store.current, (SettingsRecord{7, 135, 120, 100, 0, 1})) << "the last section read is live";

    EXPECT_EQ(store.SelectSection(7), 1) << "the first switch always reports a change";
    store.current.RGamma = 222;
    EXPECT_EQ(store.SelectSection(1), 1);
    EXPECT_EQ(store.current.RGamma, 100);
    EXPECT_EQ(store.SelectSection(7), 1);
    EXPECT_EQ(store.current.RGamma, 222) << "committed at the switch";
    store.current.BGamma = 50;
    store.Save();
    EXPECT_EQ(File(), Dialog(412, 230) + Section(1, 100, 100, 100) + Section(7, 222, 120, 50, 0, 1));
}

TEST_F(Store, WhichSectionsBecomeRecords)
{
    LoadFile("[5]\r\nRGamma=1\r\n"               // before "DIALOG": loaded too
             + Dialog() +                        //
             "[0]\r\nRGamma=2\r\n"               // identifier 0
             "[abc]\r\nRGamma=3\r\n"             // not numeric
             "[12abc]\r\nRGamma=4\r\n"           // read as 12
             "[-3]\r\nRGamma=5\r\n"              // negative identifiers are fine
             "[8]\r\nRGamma=6\r\n"               //
             "[8]\r\nRGamma=7\r\nGGamma=\r\n"    // a duplicate; an empty value
             "[ 9 ]\r\nRGamma=8\r\n"             // looked up as "[9]", which is missing
             "[10]\r\nrgamma=9\r\nRGamma=x\r\n"  // lower case is another key; letters read 0
    );
    EXPECT_EQ(store.Records(), (Records{{5, 1, 100, 100, 1, 1},
                                        {12, 4, 100, 100, 1, 1},
                                        {-3, 5, 100, 100, 1, 1},
                                        {8, 6, 100, 100, 1, 1},
                                        {8, 7, 100, 100, 1, 1},
                                        {9, 100, 100, 100, 1, 1},
                                        {10, 0, 100, 100, 1, 1}}));
    EXPECT_EQ(store.SelectSection(8), 1);
    EXPECT_EQ(store.CurrentIndex(), 3) << "the first of two";
    EXPECT_EQ(store.current.RGamma, 6);
    store.Save();
    EXPECT_EQ(File(), Dialog() + Section(5, 1, 100, 100) + Section(12, 4, 100, 100) + Section(-3, 5, 100, 100) + Section(8, 6, 100, 100) +
                          Section(8, 7, 100, 100) + Section(9, 100, 100, 100) + Section(10, 0, 100, 100));
}

// " 5 " is looked up as "[5]", wherever that stands; the enumeration still
// goes on from the header it found, so it neither loops nor skips sections.
TEST_F(Store, AHeaderLookedUpElsewhereKeepsTheEnumerationGoing)
{
    LoadFile(Dialog() + "[5]\r\nRGamma=1\r\n[ 5 ]\r\nRGamma=2\r\n[7]\r\nRGamma=3\r\n");
    EXPECT_EQ(store.Records(), (Records{{5, 1, 100, 100, 1, 1}, {5, 1, 100, 100, 1, 1}, {7, 3, 100, 100, 1, 1}}));
    LoadFile(Dialog() + "[ 6 ]\r\nRGamma=1\r\n[7]\r\nRGamma=2\r\n[6]\r\nRGamma=3\r\n");
    EXPECT_EQ(store.Records(), (Records{{6, 3, 100, 100, 1, 1}, {7, 2, 100, 100, 1, 1}, {6, 3, 100, 100, 1, 1}}));
}

TEST_F(Store, TheDefaultSectionSetsNewSectionsOnly)
{
    LoadFile(Dialog() + "[DEFAULT]\r\nRGamma=80\r\nEnable=0\r\n" + "[3]\r\nGGamma=90\r\n");
    EXPECT_EQ(store.defaults, (SettingsRecord{0, 80, 100, 100, 1, 0}));
    EXPECT_EQ(store.Records(), (Records{{3, 100, 90, 100, 1, 1}})) << "the table's defaults, not DEFAULT's";
    store.SelectSection(44);
    EXPECT_EQ(store.current, (SettingsRecord{44, 80, 100, 100, 1, 0}));
    store.current.RGamma = 300;
    store.ResetToDefaults();
    EXPECT_EQ(store.current, (SettingsRecord{44, 80, 100, 100, 1, 0})) << "the identifier stays";
    store.Save();
    EXPECT_EQ(File(), Dialog() + Section(3, 100, 90, 100) + Section(44, 80, 100, 100, 1, 0)) << "DEFAULT is gone";
}

// Hand-edited files: "DIALOG" and "DEFAULT" may stand anywhere, or be
// missing, and no numeric section is lost for it.
TEST_F(Store, EveryNumericSectionIsLoadedWhereverDialogAndDefaultStand)
{
    const std::string lastDefault = "[DEFAULT]\r\nRGamma=80\r\n";
    const struct {
        const char* name;
        std::string file;
        Records records;
    } cases[] = {
        {"a lone section", "[1]\r\nRGamma=961\r\n", {{1, 961, 100, 100, 1, 1}}},
        {"no DIALOG, no DEFAULT", Section(5, 1, 1, 1) + Section(6, 2, 2, 2), {{5, 1, 1, 1, 1, 1}, {6, 2, 2, 2, 1, 1}}},
        {"DEFAULT last", Section(2, 1, 1, 1) + Section(3, 3, 3, 3) + lastDefault,
         {{2, 1, 1, 1, 1, 1}, {3, 3, 3, 3, 1, 1}}},
        {"DEFAULT between", Dialog() + Section(2, 1, 1, 1) + lastDefault + Section(3, 3, 3, 3),
         {{2, 1, 1, 1, 1, 1}, {3, 3, 3, 3, 1, 1}}},
        {"DIALOG last", Section(2, 1, 1, 1) + "[DEFAULT]\r\n" + Section(3, 3, 3, 3) + Dialog(),
         {{2, 1, 1, 1, 1, 1}, {3, 3, 3, 3, 1, 1}}},
    };
    for (const auto& c : cases) {
        LoadFile(c.file);
        EXPECT_EQ(store.Records(), c.records) << c.name;
    }
    LoadFile(Section(2, 1, 1, 1) + lastDefault);
    EXPECT_EQ(store.defaults.RGamma, 80) << "DEFAULT is still read where it stands";

    LoadFile("[1]\r\nRGamma=961\r\n");
    EXPECT_EQ(store.SelectSection(1), 1);
    EXPECT_EQ(store.current.RGamma, 961);
    store.Save();
    EXPECT_EQ(File(), Dialog() + Section(1, 961, 100, 100));
}

TEST_F(Store, AnUnchangedTextIsNotWritten)
{
    const std::string text = Dialog(-5, 17) + Section(1, 100, 100, 100) + Section(7, 135, 120, 100, 0, 1);
    LoadFile(text);
    store.SelectSection(7);
    store.SelectSection(1);
    store.Save();
    EXPECT_EQ(system.createsForWriting, 0);
    EXPECT_EQ(File(), text);

    // One value back and forth is no change either.
    LoadFile(text);
    store.SelectSection(7);
    store.current.RGamma = 136;
    store.current.RGamma = 135;
    store.Save();
    EXPECT_EQ(system.createsForWriting, 0);

    // A text with LF line ends means the same but is not the same text.
    std::string lf = text;
    for (size_t at; (at = lf.find("\r\n")) != std::string::npos;)
        lf.erase(at, 1);
    LoadFile(lf);
    store.Save();
    EXPECT_EQ(system.createsForWriting, 1);
    EXPECT_EQ(File(), text);
}

// Saving is not a commit of anything but the file: the session goes on with
// the same current section, and saving again compares with what was written.
TEST_F(Store, ASaveLeavesTheSessionAsItWas)
{
    const std::string text = Dialog() + Section(7, 135, 120, 100, 0, 1) + Section(9, 80, 80, 80);
    LoadFile(text);
    store.SelectSection(7);
    store.Save();
    store.Save();
    EXPECT_EQ(File(), text) << "a second Close wrote over section 7";
    EXPECT_EQ(system.createsForWriting, 0);

    store.current.RGamma = 150;
    const Records before = {{7, 135, 120, 100, 0, 1}, {9, 80, 80, 80, 1, 1}};
    store.Save();
    EXPECT_EQ(store.current, (SettingsRecord{7, 150, 120, 100, 0, 1}));
    EXPECT_EQ(store.CurrentIndex(), 0);
    EXPECT_EQ(store.Records(), before) << "the live values go back at the next switch, not at a save";
    store.Save();
    EXPECT_EQ(system.createsForWriting, 1) << "unchanged since the last write";
    EXPECT_EQ(store.SelectSection(9), 1);
    store.Save();
    EXPECT_EQ(system.createsForWriting, 1);
    EXPECT_EQ(File(), Dialog() + Section(7, 150, 120, 100, 0, 1) + Section(9, 80, 80, 80));
}

TEST_F(Store, DeniedSectionsAreDroppedExceptOneToFour)
{
    std::string text = Dialog();
    for (int id = 0; id <= 6; ++id)
        text += Section(id, 100 + id, 100, 100);
    LoadFile(text, Confirm);
    gConfirmed = {6};
    store.Save();
    EXPECT_EQ(gAsked, (std::vector<int64_t>{1, 2, 3, 4, 5, 6})) << "every record is asked about once";
    EXPECT_EQ(File(), Dialog() + Section(1, 101, 100, 100) + Section(2, 102, 100, 100) + Section(3, 103, 100, 100) +
                          Section(4, 104, 100, 100) + Section(6, 106, 100, 100));
    EXPECT_EQ(store.Records().size(), 6u) << "records that are not written stay";
    EXPECT_EQ(store.current.sectionId, 6) << "the last record written";
}

// A section named 0 is never loaded; writing the host's section 0 would make
// every later save rewrite the file, so it is left out.
TEST_F(Store, TheHostsSectionZeroIsNotWritten)
{
    const std::string text = Dialog() + Section(5, 1, 2, 3);
    LoadFile(text);
    EXPECT_EQ(store.SelectSection(0), 1);
    store.current.RGamma = 250;
    EXPECT_EQ(store.SelectSection(5), 1);
    EXPECT_EQ(store.SelectSection(0), 1);
    EXPECT_EQ(store.current.RGamma, 250) << "kept while the plug-in runs";
    store.Save();
    EXPECT_EQ(system.createsForWriting, 0);
    EXPECT_EQ(File(), text);
}

TEST_F(Store, WithoutACallbackEverySectionIsKept)
{
    LoadFile(Dialog() + Section(5, 1, 2, 3) + Section(9, 4, 5, 6), nullptr);
    store.SelectSection(10);
    store.Save();
    EXPECT_EQ(File(), Dialog() + Section(5, 1, 2, 3) + Section(9, 4, 5, 6) + Section(10, 100, 100, 100));
}

TEST_F(Store, CancelRestoresTheOpeningStateAndKeepsNewSections)
{
    LoadFile(Dialog() + Section(1, 100, 100, 100) + Section(2, 150, 150, 150));
    store.SelectSection(2);
    store.current.RGamma = 160;  // before the dialog opens: kept
    store.TakeSnapshot();
    EXPECT_EQ(store.Snapshot(), store.Records());
    store.current.RGamma = 170;  // in the dialog
    store.SelectSection(9);      // the host moves on meanwhile
    store.current.GGamma = 10;
    store.SelectSection(2);
    store.RestoreSnapshot();
    EXPECT_EQ(store.Records(), (Records{{1, 100, 100, 100, 1, 1}, {2, 160, 150, 150, 1, 1}, {9, 100, 100, 100, 1, 1}}));
    EXPECT_EQ(store.current, (SettingsRecord{2, 160, 150, 150, 1, 1})) << "the current section reloaded";
    EXPECT_EQ(store.CurrentIndex(), 1);

    // Accepting instead keeps the edits.
    store.TakeSnapshot();
    store.current.BGamma = 33;
    store.SelectSection(1);
    EXPECT_EQ(store.Records()[1].BGamma, 33);
}

// A Cancel with no snapshot taken since the last Load (none ever, one from
// before Init, one from before a second Init) changes nothing: the records,
// the live values and the current section stay, and every section is saved.
TEST_F(Store, ARestoreWithoutASnapshotOfThisLoadChangesNothing)
{
    const std::string tuned = Dialog(300, 200) + Section(10, 150, 160, 170) + Section(20, 250, 260, 270, 0, 0);
    enum Before { kNoSnapshot, kSnapshotBeforeLoad, kSnapshotBeforeSecondLoad };
    const char* const names[] = {"no snapshot", "snapshot before the load", "snapshot before a second load"};
    for (Before before : {kNoSnapshot, kSnapshotBeforeLoad, kSnapshotBeforeSecondLoad}) {
        SCOPED_TRACE(names[before]);
        SettingsStore fresh;
        fresh.UsePlatform(&system, &system);
        File() = tuned;
        if (before == kSnapshotBeforeLoad)
            fresh.TakeSnapshot();
        if (before == kSnapshotBeforeSecondLoad) {
            fresh.Load("ZVK_Gamma", ConfirmAll);
            fresh.SelectSection(10);
            fresh.TakeSnapshot();
        }
        fresh.Load("ZVK_Gamma", ConfirmAll);
        fresh.SelectSection(20);
        fresh.current.RGamma = 333;
        fresh.SelectSection(30);  // new since the load
        fresh.current.GGamma = 444;

        fresh.RestoreSnapshot();
        EXPECT_EQ(fresh.Records(), (Records{{10, 150, 160, 170, 1, 1}, {20, 333, 260, 270, 0, 0},
                                            {30, 100, 100, 100, 1, 1}}));
        EXPECT_EQ(fresh.current, (SettingsRecord{30, 100, 444, 100, 1, 1})) << "the live values stay";
        EXPECT_EQ(fresh.CurrentIndex(), 2);
        fresh.Save();
        EXPECT_EQ(File(), Dialog(300, 200) + Section(10, 150, 160, 170) + Section(20, 333, 260, 270, 0, 0) +
                              Section(30, 100, 444, 100));
    }
}

TEST_F(Store, BeforeLoadThereIsNoDialogPosition)
{
    const SettingsStore fresh;
    EXPECT_EQ(fresh.GetDialogPos().x, kNoDialogPos);
    EXPECT_EQ(fresh.GetDialogPos().y, kNoDialogPos);
}

TEST_F(Store, TheDialogPositionIsWritten)
{
    LoadFile(Dialog() + Section(1, 100, 100, 100));
    store.SetDialogPos(-32000, 2147483647);
    EXPECT_EQ(store.GetDialogPos().x, -32000);
    store.Save();
    EXPECT_EQ(File(), Dialog(-32000, 2147483647) + Section(1, 100, 100, 100));
}

// Whatever goes wrong while saving, the old file stays as it was and no
// temporary file is left behind.
TEST_F(Store, AFailedSaveLeavesTheOldFile)
{
    const std::string old = Dialog() + Section(1, 100, 100, 100);
    const struct {
        const char* name;
        void (*fail)(fake::System&);
        bool tempMade;
    } cases[] = {
        {"the temporary file cannot be made", [](fake::System& s) { s.failCreateForWriting = true; }, false},
        {"the disk fills up", [](fake::System& s) { s.writableBytes = 20; }, true},
        {"the data cannot be flushed", [](fake::System& s) { s.failCommit = true; }, true},
    };
    for (const auto& c : cases) {
        fake::System world;
        world.folders.insert(fake::kPluginsFolder);
        world.files[kIniPath] = old;
        SettingsStore saver;
        saver.UsePlatform(&world, &world);
        saver.Load("ZVK_Gamma", ConfirmAll);
        saver.SelectSection(2);
        c.fail(world);
        saver.Save();
        EXPECT_EQ(world.files[kIniPath], old) << c.name;
        EXPECT_EQ(world.files.size(), 1u) << c.name << ": no temporary file left";
        EXPECT_EQ(world.removed.size(), c.tempMade ? 1u : 0u) << c.name;
    }
}

// The temporary file's way is only one way: where the system cannot replace
// a file in one step (Windows 9x), or a stale temporary file is in the way,
// the file is rewritten in place from the complete text.
TEST_F(Store, ASaveThatCannotReplaceRewritesInPlace)
{
    const std::string tmp = std::string(kIniPath) + ".tmp";
    const struct {
        const char* name;
        void (*setUp)(fake::System&);
        bool tmpStays;
    } cases[] = {
        {"no replace on this system", [](fake::System& s) { s.failReplace = true; }, false},
        {"a read-only temporary file",
         [](fake::System& s) {
             s.files[std::string(kIniPath) + ".tmp"] = "stale";
             s.readOnly.insert(std::string(kIniPath) + ".tmp");
         },
         false},
        {"a temporary file held open",
         [](fake::System& s) {
             s.files[std::string(kIniPath) + ".tmp"] = "stale";
             s.held.insert(std::string(kIniPath) + ".tmp");
         },
         true},
    };
    for (const auto& c : cases) {
        fake::System world;
        world.folders.insert(fake::kPluginsFolder);
        world.files[kIniPath] = Dialog() + Section(1, 100, 100, 100);
        c.setUp(world);
        SettingsStore saver;
        saver.UsePlatform(&world, &world);
        saver.Load("ZVK_Gamma", ConfirmAll);
        saver.SelectSection(2);
        saver.Save();
        EXPECT_EQ(world.files[kIniPath], Dialog() + Section(1, 100, 100, 100) + Section(2, 100, 100, 100)) << c.name;
        EXPECT_EQ(world.files.count(tmp), c.tmpStays ? 1u : 0u) << c.name;
    }

    // In place, a disk that fills up part-way gets the old text back.
    const std::string old = Dialog() + Section(1, 100, 100, 100);
    LoadFile(old);
    system.files[tmp] = "stale";
    system.held.insert(tmp);
    system.writableBytes = old.size() + 10;
    store.SelectSection(2);
    store.Save();
    EXPECT_EQ(File(), old);
}

// A read-only file is how a user freezes the settings.
TEST_F(Store, AReadOnlyFileIsNotWritten)
{
    const std::string text = Dialog() + Section(1, 100, 100, 100);
    system.readOnly.insert(kIniPath);
    LoadFile(text);
    store.SelectSection(2);
    store.Save();
    EXPECT_EQ(File(), text);
    EXPECT_EQ(system.createsForWriting, 0);
}

TEST_F(Store, ATextThatCannotGrowIsNotWritten)
{
    const std::string old = Dialog() + Section(1, 100, 100, 100);
    LoadFile(old);
    for (int id = 2; id < 2000; ++id)
        store.SelectSection(id);  // about 140 kB of text
    store.Text().writeCapacityLimit = 100000;
    store.Save();
    EXPECT_EQ(system.createsForWriting, 0);
    EXPECT_EQ(File(), old);
}

// Another program may hold the file at Init (a virus scanner, an editor):
// the session runs with the defaults and the file is not overwritten.
TEST_F(Store, AFileThatExistsButCannotBeReadIsLeftAlone)
{
    const std::string text = Dialog(5, 5) + Section(7, 200, 200, 200) + Section(8, 50, 50, 50);
    const struct {
        const char* name;
        void (*fail)(fake::System&);
    } cases[] = {
        {"held open by another program", [](fake::System& s) { s.held.insert(kIniPath); }},
        {"read fails part-way", [](fake::System& s) { s.readableBytes = 30; }},
    };
    for (const auto& c : cases) {
        fake::System world;
        world.folders.insert(fake::kPluginsFolder);
        world.files[kIniPath] = text;
        c.fail(world);
        SettingsStore blocked;
        blocked.UsePlatform(&world, &world);
        blocked.Load("ZVK_Gamma", ConfirmAll);
        EXPECT_EQ(blocked.GetDialogPos().x, -100) << c.name << ": nothing of the part that was read is used";
        EXPECT_TRUE(blocked.Records().empty()) << c.name;
        EXPECT_EQ(blocked.defaults, kBuiltInDefaults) << c.name;
        EXPECT_EQ(blocked.SelectSection(7), 1) << c.name;
        EXPECT_EQ(blocked.current, (SettingsRecord{7, 100, 100, 100, 1, 1})) << c.name;
        world.held.clear();
        blocked.Save();
        EXPECT_EQ(world.files[kIniPath], text) << c.name;
        EXPECT_EQ(world.createsForWriting, 0) << c.name;
    }
}

TEST_F(Store, NoFileCanBeHadWithoutItsFolder)
{
    const struct {
        const char* name;
        void (*setUp)(fake::System&);
    } cases[] = {
        {"the user's folder lacks Zentavio", [](fake::System& s) { s.usersFolderValue = 1; }},
        {"the instance folder is missing", [](fake::System& s) { s.commandLine = "tvhost.exe /inst:2"; }},
        {"the version is unknown", [](fake::System& s) { s.versionKnown = false; }},
    };
    for (const auto& c : cases) {
        fake::System world;
        c.setUp(world);
        SettingsStore lonely;
        lonely.UsePlatform(&world, &world);
        lonely.Load("ZVK_Gamma", ConfirmAll);
        EXPECT_EQ(lonely.defaults, kBuiltInDefaults) << c.name;
        EXPECT_EQ(lonely.SelectSection(3), 1) << c.name;
        EXPECT_EQ(lonely.current, (SettingsRecord{3, 100, 100, 100, 1, 1})) << c.name;
        lonely.Save();
        EXPECT_TRUE(world.files.empty()) << c.name << ": nothing written";
    }
    SettingsStore noSystem;
    noSystem.Load("ZVK_Gamma", nullptr);
    noSystem.SelectSection(1);
    noSystem.Save();
    EXPECT_TRUE(noSystem.Location().filePath.empty());
}

// Values from the file are untrusted: any 32-bit pattern is kept as it is,
// written back as it was, and still gives tables in range.
TEST_F(Store, ExtremeValuesStayInRange)
{
    LoadFile(Dialog(2147483647, -2147483647 - 1) +
             "[1]\r\nRGamma=0\r\nGGamma=-2147483648\r\nBGamma=2147483647\r\nBinding=-1\r\nEnable=4294967295\r\n"
             "[2]\r\nRGamma=-1\r\nGGamma=99999999999\r\nBGamma=1\r\nBinding=\r\nEnable=0\r\n");
    const Records expected = {{1, 0, INT32_MIN, INT32_MAX, -1, -1}, {2, -1, 1215752191, 1, 1, 0}};
    EXPECT_EQ(store.Records(), expected);
    for (const SettingsRecord& r : store.Records()) {
        TableSet tables;
        const int32_t gammas[3] = {r.RGamma, r.GGamma, r.BGamma};
        for (int channel = 0; channel < 3; ++channel)
            BuildChannel(tables, channel, gammas[channel]);
        for (int i = 0; i < 768; ++i) {
            ASSERT_GE(tables.lut[i], 0) << "section " << r.sectionId << ", entry " << i;
            ASSERT_LE(tables.lut[i], 255) << "section " << r.sectionId << ", entry " << i;
        }
    }
    store.Save();
    LoadFile(File());
    EXPECT_EQ(store.Records(), expected);
    EXPECT_EQ(store.GetDialogPos().x, INT32_MAX);
    EXPECT_EQ(store.GetDialogPos().y, INT32_MIN);
}

TEST_F(Store, GarbageIsReadSafely)
{
    static const char kWithNul[] = "[4\0]\r\n[5]\r\nRGamma=1\0 2\r\n\0";
    const struct {
        const char* name;
        std::string bytes;
        size_t records;
    } cases[] = {
        {"NUL bytes inside lines", Dialog() + std::string(kWithNul, sizeof kWithNul - 1), 2},
        {"brackets only", "[\r\n]\r\n[]\r\n[[]]\r\n[\n", 0},
        {"line ends only", "\r\n\n\r\r\r\n\n", 0},
        {"no line end", "[DIALOG]DlgWndPosX=1[5]RGamma=2", 0},
        {"all 256 byte values", [] {
             std::string all;
             for (int i = 0; i < 256; ++i)
                 all += static_cast<char>(i);
             return Dialog() + all + all;
         }(), 0},
        {"a header with only spaces after it", "[DIALOG]\r\n   \r\n[7]   ", 0},
    };
    for (const auto& c : cases) {
        LoadFile(c.bytes);
        EXPECT_EQ(store.Records().size(), c.records) << c.name;
        store.Save();
        const std::string written = File();
        LoadFile(written);
        store.Save();
        EXPECT_EQ(File(), written) << c.name << ": saving what was saved changes nothing";
    }
}

TEST_F(Store, A100MegabyteFile)
{
    std::string big(100u << 20, '\0');
    const std::string tail = "\r\n" + Dialog(3, 4) + Section(77, 90, 91, 92);
    big.replace(big.size() - tail.size(), tail.size(), tail);
    LoadFile(big);
    EXPECT_EQ(store.GetDialogPos().x, 3);
    EXPECT_EQ(store.Records(), (Records{{77, 90, 91, 92, 1, 1}}));
    store.Save();
    EXPECT_EQ(File(), Dialog(3, 4) + Section(77, 90, 91, 92));

    // The same size without any line end reads as nothing at all.
    LoadFile(std::string(100u << 20, 'x'));
    EXPECT_EQ(store.GetDialogPos().x, -100);
    EXPECT_TRUE(store.Records().empty());
}

// Crafted or damaged files of a megabyte load in linear time: headers that
// are looked up elsewhere, many alike, one huge section. The bound is far
// above the few milliseconds it takes, and far below the minutes that a
// search of the whole text per header took.
TEST_F(Store, AMegabyteOfAnyShapeLoadsInLinearTime)
{
    constexpr size_t kSize = 1u << 20;
    const auto repeated = [](const std::string& head, const std::string& unit) {
        std::string text = head;
        while (text.size() + unit.size() <= kSize)
            text += unit;
        return text;
    };
    const std::string blank = "[ 1 ]\r\n";        // looked up as "[1]"
    const std::string one = "[1]\r\nRGamma=7\r\n";
    const std::string four = "[4]\r\nRGamma=5\r\n";
    const struct {
        const char* name;
        std::string file;
        size_t records;
        int32_t RGamma;  // of the first and the last record
    } cases[] = {
        {"headers with blanks inside", repeated("", blank), kSize / blank.size(), 100},
        {"blank headers and their section", repeated(one, blank), 1 + (kSize - one.size()) / blank.size(), 7},
        {"one header, many times", repeated("", "[2]\r\n"), kSize / 5, 100},
        {"one huge section", repeated("[3]\r\n", "x=1\r\n") + "RGamma=9\r\n", 1, 9},
        {"short sections", repeated(Dialog(), four), (kSize - Dialog().size()) / four.size(), 5},
        {"lines without line ends", std::string(kSize, '['), 0, 0},
        {"only line ends", std::string(kSize, '\n'), 0, 0},
    };
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        LoadFile(c.file);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 20.0) << c.name;
        ASSERT_EQ(store.Records().size(), c.records) << c.name;
        if (c.records) {
            EXPECT_EQ(store.Records().front().RGamma, c.RGamma) << c.name;
            EXPECT_EQ(store.Records().back().RGamma, c.RGamma) << c.name;
        }
    }
}

TEST_F(Store, AMillionSections)
{
    constexpr int kSections = 1000000;
    std::string text = Dialog();
    text.reserve(size_t{kSections} * 80);
    for (int id = 1; id <= kSections; ++id)
        text += Section(id, id % 1000, 100, 100);
    LoadFile(text, nullptr);
    ASSERT_EQ(store.Records().size(), size_t{kSections});
    EXPECT_EQ(store.Records()[kSections - 1], (SettingsRecord{kSections, 0, 100, 100, 1, 1}));
    EXPECT_EQ(store.SelectSection(kSections), 1);
    store.Save();
    EXPECT_EQ(system.createsForWriting, 0) << "the same text: not written";
    store.current.GGamma = 5;
    store.Save();
    const std::string last = Section(kSections, 0, 100, 100);
    EXPECT_EQ(File().size(), text.size() - 2) << "GGamma=5 instead of GGamma=100";
    EXPECT_EQ(File().compare(0, text.size() - last.size(), text, 0, text.size() - last.size()), 0);
}

}  // namespace
}  // namespace zvk
