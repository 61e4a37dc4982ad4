// The curve view on a real picture control: what the bitmap holds after each
// step, read back with GetDIBits. Needs a display (Xvfb in the test command).
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "dialog/curve_points.h"
#include "dialog/curve_view.h"
#include "gamma/gamma_tables.h"
#include "tests/native/built_tables.h"

namespace zvk {
namespace {

constexpr int kWidth = 148;
constexpr int kHeight = 131;

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
};

std::ostream& operator<<(std::ostream& out, const Rgb& c)
{
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

const Rgb kBlack = {0, 0, 0};
const Rgb kBackground = {0, 0, 64};

class CurveViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        control.Attach(CreateWindowExA(WS_EX_STATICEDGE, "STATIC", "", WS_POPUP | SS_BITMAP | SS_CENTERIMAGE,
                                       10, 10, kWidth + 2, kHeight + 2, nullptr, nullptr, nullptr, nullptr));
        ASSERT_NE(control.m_hWnd, nullptr);
        RECT client;
        GetClientRect(control.m_hWnd, &client);
        ASSERT_EQ(client.right, kWidth);
        ASSERT_EQ(client.bottom, kHeight);
        view = std::make_unique<CurveView>(&control);
    }
    void TearDown() override
    {
        view.reset();
        DestroyWindow(control.m_hWnd);
    }

    // Top-down rows of the view's bitmap.
    std::vector<Rgb> Pixels() const
    {
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        std::vector<RGBQUAD> quads(kWidth * kHeight);
        HDC dc = GetDC(nullptr);
        const int rows = GetDIBits(dc, view->Bitmap(), 0, kHeight, quads.data(), &info, DIB_RGB_COLORS);
        ReleaseDC(nullptr, dc);
        EXPECT_EQ(rows, kHeight);
        std::vector<Rgb> pixels;
        for (const RGBQUAD& q : quads)
            pixels.push_back({q.rgbRed, q.rgbGreen, q.rgbBlue});
        return pixels;
    }
    static Rgb At(const std::vector<Rgb>& pixels, int x, int row) { return pixels[row * kWidth + x]; }

    static std::vector<int32_t> Rows(const TableSet& set, int channel)
    {
        std::vector<int32_t> rows(kWidth);
        ResampleTable(set.lut + 256 * channel, 256, kWidth, kHeight, kSampleLinear, 255, rows.data());
        return rows;
    }

    fw::CStatic control;
    std::unique_ptr<CurveView> view;
};

TEST_F(CurveViewTest, BlackUntilTheFirstRefreshThenTheBackground)
{
    EXPECT_EQ(reinterpret_cast<HBITMAP>(SendMessageA(control.m_hWnd, STM_GETIMAGE, IMAGE_BITMAP, 0)), view->Bitmap());
    for (const Rgb& pixel : Pixels())
        ASSERT_EQ(pixel, kBlack);
    view->Clear(RGB(0, 0, 64));
    for (const Rgb& pixel : Pixels())
        ASSERT_EQ(pixel, kBackground);
}

// Equal tables: the curves coincide, so every curve pixel is the OR of all
// three, white, but the end pixel that each curve sets plainly: blue last.
TEST_F(CurveViewTest, EqualCurvesAreWhiteButTheBlueEndPixel)
{
    const TableSet identity = Built(100, 100, 100);
    view->DrawCurves(identity);
    const std::vector<Rgb> pixels = Pixels();
    const std::vector<int32_t> rows = Rows(identity, kRed);
    int curvePixels = 0;
    for (int x = 0; x < kWidth; ++x) {
        for (int row = 0; row < kHeight; ++row) {
            const Rgb pixel = At(pixels, x, row);
            if (pixel == kBackground)
                continue;
            ++curvePixels;
            if (x == kWidth - 1 && row == kHeight - 1 - rows.back())
                EXPECT_EQ(pixel, (Rgb{0, 0, 255}));
            else
                EXPECT_EQ(pixel, (Rgb{255, 255, 255})) << "column " << x << " row " << row;
        }
        EXPECT_NE(At(pixels, x, kHeight - 1 - rows[x]), kBackground) << "column " << x;
    }
    EXPECT_GE(curvePixels, kWidth);
}

// Distinct gammas: each column's computed point carries its curve's colour
// bits, OR-mixed where curves meet, and nothing but the three colours and
// their mixes appears (the last column holds the plain end pixels).
TEST_F(CurveViewTest, DistinctCurvesMixTheirColoursAtTheirComputedPoints)
{
    const TableSet set = Built(316, 100, 31);
    view->DrawCurves(set);
    const std::vector<Rgb> pixels = Pixels();
    for (int channel = 0; channel < 3; ++channel) {
        const std::vector<int32_t> rows = Rows(set, channel);
        for (int x = 0; x < kWidth - 1; ++x) {
            const Rgb pixel = At(pixels, x, kHeight - 1 - rows[x]);
            const int component = channel == 0 ? pixel.r : channel == 1 ? pixel.g : pixel.b;
            EXPECT_EQ(component, 255) << "channel " << channel << " column " << x << " got " << pixel;
        }
    }
    for (int x = 0; x < kWidth - 1; ++x) {
        for (int row = 0; row < kHeight; ++row) {
            const Rgb pixel = At(pixels, x, row);
            EXPECT_TRUE(pixel.r == 0 || pixel.r == 255) << pixel;
            EXPECT_TRUE(pixel.g == 0 || pixel.g == 255) << pixel;
            EXPECT_TRUE(pixel.b == 64 || pixel.b == 255) << pixel;
        }
    }
    // End pixels in the order red, green, blue: where they coincide the later stays.
    std::map<int, Rgb> ends;
    for (int channel = 0; channel < 3; ++channel)
        ends[Rows(set, channel).back()] = {channel == 0 ? 255 : 0, channel == 1 ? 255 : 0, channel == 2 ? 255 : 0};
    for (const auto& [row, plain] : ends)
        EXPECT_EQ(At(pixels, kWidth - 1, kHeight - 1 - row), plain) << "row " << row;
    // The three curves separate in the middle: pure red, green and blue there.
    const int middle = kWidth / 2;
    EXPECT_EQ(At(pixels, middle, kHeight - 1 - Rows(set, kRed)[middle]), (Rgb{255, 0, 64}));
    EXPECT_EQ(At(pixels, middle, kHeight - 1 - Rows(set, kGreen)[middle]), (Rgb{0, 255, 64}));
    EXPECT_EQ(At(pixels, middle, kHeight - 1 - Rows(set, kBlue)[middle]), (Rgb{0, 0, 255}));
}

TEST_F(CurveViewTest, DotsAndBarsDrawTheirPointsAndAnUnknownStyleNothing)
{
    const TableSet set = Built(200, 200, 200);
    const std::vector<int32_t> rows = Rows(set, kRed);
    view->Clear(RGB(0, 0, 64));
    view->PlotTable(set.lut, 256, RGB(255, 0, 0), R2_MERGEPEN, 3, kSampleLinear, 255);
    view->PlotTable(set.lut, 256, RGB(255, 0, 0), R2_MERGEPEN, -1, kSampleLinear, 255);
    for (const Rgb& pixel : Pixels())
        ASSERT_EQ(pixel, kBackground);

    view->PlotTable(set.lut, 256, RGB(0, 255, 0), R2_MERGEPEN, kCurveDots, kSampleLinear, 255);
    std::vector<Rgb> pixels = Pixels();
    int dots = 0;
    for (const Rgb& pixel : pixels)
        dots += !(pixel == kBackground);
    EXPECT_EQ(dots, kWidth);

    view->Clear(RGB(0, 0, 64));
    view->PlotTable(set.lut, 256, RGB(255, 0, 0), R2_MERGEPEN, kCurveBars, kSampleLinear, 255);
    pixels = Pixels();
    for (int x = 0; x < kWidth; ++x) {
        // The bar mixes with the ground; its end pixel is set plainly.
        for (int y = 0; y < rows[x]; ++y) {
            ASSERT_EQ(At(pixels, x, kHeight - 1 - y), (Rgb{255, 0, 64})) << "column " << x << " y " << y;
        }
        ASSERT_EQ(At(pixels, x, kHeight - 1 - rows[x]), (Rgb{255, 0, 0})) << "column " << x;
        if (rows[x] + 1 < kHeight) {
            ASSERT_EQ(At(pixels, x, kHeight - 2 - rows[x]), kBackground) << "column " << x;
        }
    }
}

TEST_F(CurveViewTest, AfterDestructionTheControlShowsNoImage)
{
    view.reset();
    EXPECT_EQ(SendMessageA(control.m_hWnd, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
}

}  // namespace
}  // namespace zvk
