// The six entry points driven directly, with the plug-in's state in view.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/module_state.h"
#include "plugin/plugin_state.h"

namespace zvk {
namespace {

constexpr size_t kGuard = 32;

std::string SettingsFile()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    folder.erase(folder.find_last_of('\\') + 1);
    return folder + "Plugins\\" + fw::ModuleBaseName(fw::OwnModule()) + ".ini";
}

class EntryPoints : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileA(SettingsFile().c_str());
        const InitParams params = {0, nullptr};
        Init(&params);
    }
    void TearDown() override
    {
        Close();
        DeleteFileA(SettingsFile().c_str());
    }

    static void Format(int32_t width, int32_t height, int32_t colourFormat, int32_t yuvVariant = 0)
    {
        const FrameFormat format = {width, height, 0, colourFormat, yuvVariant};
        EXPECT_EQ(SetFormat(&format), 1);
    }
    static void NewSectionsGet(int32_t gamma, int32_t enable = 1)
    {
        SettingsRecord& d = State().store.defaults;
        d.RGamma = d.GGamma = d.BGamma = gamma;
        d.Enable = enable;
    }
    // Frame bytes followed by a guard that the kernels must not touch.
    static std::vector<uint8_t> Buffer(std::vector<uint8_t> bytes)
    {
        bytes.insert(bytes.end(), kGuard, 0xA5);
        return bytes;
    }
    static int32_t Frame(int64_t section, uint8_t* pixels, bool withSection = true)
    {
        SectionInfo info = {static_cast<int32_t>(section & 0xFFFFFFFF), static_cast<int32_t>(section >> 32), 0, {0}};
        FrameParams params = {};
        params.pixels = pixels;
        params.section = withSection ? &info : nullptr;
        return Process(&params);
    }
    static int32_t Lut(int index) { return GammaTables::Reader(State().tables)->lut[index]; }
};

TEST_F(EntryPoints, TheFirstFrameBuildsAllThreeChannels)
{
    for (int i = 0; i < 768; ++i)
        ASSERT_EQ(Lut(i), 0) << "entry " << i << " before the first frame";
    Format(1, 1, kBgr24);
    std::vector<uint8_t> frame = Buffer({10, 20, 30});
    EXPECT_EQ(Frame(7, frame.data()), 1);
    for (int i = 0; i < 768; ++i)
        ASSERT_EQ(Lut(i), i % 256) << "entry " << i;
    EXPECT_EQ(frame, Buffer({10, 20, 30}));
}

TEST_F(EntryPoints, OnlyASectionChangeInEitherHalfRebuilds)
{
    Format(1, 1, kBgr24);
    std::vector<uint8_t> frame = Buffer({10, 20, 30});
    Frame(7, frame.data());

    // A live change without a section switch leaves the tables as they are.
    State().store.current.GGamma = 50;
    NewSectionsGet(200);
    Frame(7, frame.data());
    EXPECT_EQ(Lut(256 + 128), 128);
    EXPECT_EQ(Lut(128), 128);

    Frame(7 + (int64_t{1} << 32), frame.data());  // high half differs
    EXPECT_EQ(Lut(128), 181);
    NewSectionsGet(50);
    Frame(7 + (int64_t{1} << 32) + 1, frame.data());  // low half differs
    EXPECT_EQ(Lut(128), 64);

    // Back in section 7 its live green change was kept and is built now.
    Frame(7, frame.data());
    EXPECT_EQ(Lut(256 + 128), 64);
    EXPECT_EQ(Lut(128), 128);
}

TEST_F(EntryPoints, TheFormatChoosesTheKernel)
{
    struct {
        int32_t colourFormat, yuvVariant;
        std::vector<uint8_t> in, out;
    } const cases[] = {
        {kYuv422, 0, {81, 90, 145, 240}, {115, 96, 189, 222}},
        {kYuv422, 1, {81, 90, 145, 240}, {115, 96, 189, 222}},
        {kYuv422, 3, {81, 90, 145, 240}, {115, 96, 189, 222}},
        {kYuv422, 2, {81, 90, 145, 240}, {115, 98, 189, 215}},
        {kBgr24, 2, {192, 128, 64}, {221, 181, 128}},
        {kBgr24, 0, {192, 128, 64}, {221, 181, 128}},
        {2, 0, {192, 128, 64}, {192, 128, 64}},
        {-1, 2, {81, 90, 145, 240}, {81, 90, 145, 240}},
    };
    NewSectionsGet(200);
    for (const auto& c : cases) {
        Format(c.colourFormat == kBgr24 || c.in.size() == 3 ? 1 : 2, 1, c.colourFormat, c.yuvVariant);
        std::vector<uint8_t> frame = Buffer(c.in);
        EXPECT_EQ(Frame(5, frame.data()), 1);
        EXPECT_EQ(frame, Buffer(c.out)) << "colour format " << c.colourFormat << ", variant " << c.yuvVariant;
    }
}

TEST_F(EntryPoints, CorrectionOffStillSwitchesSectionsAndRebuilds)
{
    NewSectionsGet(200, 0);
    Format(1, 1, kBgr24);
    std::vector<uint8_t> frame = Buffer({192, 128, 64});
    EXPECT_EQ(Frame(3, frame.data()), 1);
    EXPECT_EQ(frame, Buffer({192, 128, 64}));
    EXPECT_EQ(Lut(128), 181);
    EXPECT_EQ(State().store.current.sectionId, 3);
}

TEST_F(EntryPoints, FramesWithoutPixelsOrSectionDoNothingAndReturnZero)
{
    // Init keeps the tables of an earlier session: a build of 7.77 would
    // make entry 128 233, which no other test gives.
    const int32_t before = Lut(128);
    ASSERT_NE(before, 233);
    NewSectionsGet(777);
    Format(1, 1, kBgr24);
    EXPECT_EQ(Frame(4, nullptr), 0);
    std::vector<uint8_t> frame = Buffer({192, 128, 64});
    EXPECT_EQ(Frame(4, frame.data(), false), 0);
    EXPECT_EQ(frame, Buffer({192, 128, 64}));
    EXPECT_EQ(Lut(128), before) << "no section switch, so no table was built";
    EXPECT_EQ(Process(nullptr), 0);
}

TEST_F(EntryPoints, DegenerateSizesTouchNothing)
{
    struct {
        int32_t width, height, colourFormat;
    } const cases[] = {
        {1, 1, kYuv422}, {0, 4, kYuv422}, {4, 0, kBgr24}, {0, 0, kBgr24}, {-1, -1, kBgr24}, {-2, -2, kYuv422},
        {-4, 1, kBgr24}, {INT32_MIN, -1, kYuv422},
    };
    NewSectionsGet(200);
    const std::vector<uint8_t> bytes = {81, 90, 145, 240, 81, 90, 145, 240};
    for (const auto& c : cases) {
        Format(c.width, c.height, c.colourFormat);
        std::vector<uint8_t> frame = Buffer(bytes);
        EXPECT_EQ(Frame(6, frame.data()), 1);
        EXPECT_EQ(frame, Buffer(bytes)) << c.width << " x " << c.height << ", colour format " << c.colourFormat;
    }
}

TEST_F(EntryPoints, APalFrameIs207360WordsAndNoMore)
{
    NewSectionsGet(200);
    Format(720, 576, kYuv422);
    std::vector<uint8_t> bytes;
    for (int n = 0; n < 207360; ++n)
        bytes.insert(bytes.end(), {100, 128, 200, 128});
    std::vector<uint8_t> frame = Buffer(bytes);
    EXPECT_EQ(Frame(2, frame.data()), 1);
    for (size_t i = 0; i < bytes.size(); i += 4) {
        ASSERT_EQ(frame[i], 158) << "word " << i / 4;
        ASSERT_EQ(frame[i + 3], 129) << "word " << i / 4;
    }
    EXPECT_EQ(std::vector<uint8_t>(frame.end() - kGuard, frame.end()), std::vector<uint8_t>(kGuard, 0xA5));
}

TEST_F(EntryPoints, FramesAfterCloseAreLeftAlone)
{
    NewSectionsGet(200);
    Format(1, 1, kBgr24);
    Close();
    std::vector<uint8_t> frame = Buffer({192, 128, 64});
    EXPECT_EQ(Frame(2, frame.data()), 1);
    EXPECT_EQ(frame, Buffer({192, 128, 64}));
}

}  // namespace
}  // namespace zvk
