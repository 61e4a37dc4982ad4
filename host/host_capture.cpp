// Pictures: the curve control's image as the control holds it, and
// screenshots read back from the screen.
//   curve FILE.png                     the image of control 5061 as PNG
//   curvepixel X Y                     one pixel of it (Y up from the bottom)
//   curvecolumn X                      every pixel of a column that is not background
//   curvecolours                       how many pixels of each colour
//   screenshot FILE.png [dialog|about|host|screen]
#include <cstdio>
#include <map>

#include "host/host_ui.h"
#include "host/png.h"

namespace zvkhost {
namespace {

constexpr int kCurveControl = 5061;

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // rows top to bottom

    uint32_t At(int x, int yFromBottom) const
    {
        const size_t i = (static_cast<size_t>(height - 1 - yFromBottom) * static_cast<size_t>(width) +
                          static_cast<size_t>(x)) * 3;
        return static_cast<uint32_t>(rgb[i]) << 16 | static_cast<uint32_t>(rgb[i + 1]) << 8 | rgb[i + 2];
    }
};

std::string ColourText(uint32_t rgb)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u %u %u", rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF);
    return text;
}

// 32-bit top-down pixels (B G R x) to R G B.
std::vector<uint8_t> ToRgb(const std::vector<uint8_t>& bgrx)
{
    std::vector<uint8_t> rgb;
    rgb.reserve(bgrx.size() / 4 * 3);
    for (size_t i = 0; i + 3 < bgrx.size(); i += 4) {
        rgb.push_back(bgrx[i + 2]);
        rgb.push_back(bgrx[i + 1]);
        rgb.push_back(bgrx[i]);
    }
    return rgb;
}

BITMAPINFO TopDown32(int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// The bitmap the curve control shows, read back at 32 bits.
bool ReadCurve(Picture& picture, std::string& error)
{
    const HWND dialog = FindSettingsDialog();
    OnUi([&] {
        const HWND control = dialog ? GetDlgItem(dialog, kCurveControl) : nullptr;
        const auto bitmap =
            control ? reinterpret_cast<HBITMAP>(SendMessageA(control, STM_GETIMAGE, IMAGE_BITMAP, 0)) : nullptr;
        BITMAP size = {};
        if (!bitmap || !GetObjectA(bitmap, sizeof size, &size)) {
            error = control ? "the curve control shows no bitmap" : "no curve control";
            return;
        }
        BITMAPINFO info = TopDown32(size.bmWidth, size.bmHeight);
        std::vector<uint8_t> bgrx(static_cast<size_t>(size.bmWidth) * static_cast<size_t>(size.bmHeight) * 4);
        const HDC screen = GetDC(nullptr);
        const int rows = GetDIBits(screen, bitmap, 0, static_cast<UINT>(size.bmHeight), bgrx.data(), &info,
                                   DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        if (rows != size.bmHeight) {
            error = "cannot read the curve bitmap";
            return;
        }
        picture.width = size.bmWidth;
        picture.height = size.bmHeight;
        picture.rgb = ToRgb(bgrx);
    });
    return error.empty();
}

HWND ShotWindow(const std::string& which)
{
    if (which == "host")
        return HostWindow();
    if (which == "screen")
        return GetDesktopWindow();
    return FindTarget(which);
}

bool Screenshot(const std::string& which, Picture& picture, std::string& error)
{
    const HWND window = ShotWindow(which);
    if (!window) {
        error = "no " + which + " window";
        return false;
    }
    Settle();
    OnUi([&] {
        // Paint what is pending first, so the shot shows the window as it is now.
        RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        RECT r = {};
        GetWindowRect(window, &r);
        const int width = r.right - r.left, height = r.bottom - r.top;
        BITMAPINFO info = TopDown32(width, height);
        void* bits = nullptr;
        const HDC screen = GetDC(nullptr);
        const HDC memory = CreateCompatibleDC(screen);
        const HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (dib && bits && width > 0 && height > 0) {
            const HGDIOBJ old = SelectObject(memory, dib);
            BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
            GdiFlush();
            const auto* first = static_cast<const uint8_t*>(bits);
            picture.width = width;
            picture.height = height;
            picture.rgb = ToRgb(std::vector<uint8_t>(first, first + static_cast<size_t>(width) * height * 4));
            SelectObject(memory, old);
        } else {
            error = "cannot capture the " + which;
        }
        if (dib)
            DeleteObject(dib);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
    });
    return error.empty();
}

bool Save(const std::string& path, const Picture& picture, std::string& error)
{
    if (!WritePng(path, picture.width, picture.height, picture.rgb)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace

bool IsCaptureCommand(const std::string& command)
{
    return command == "curve" || command == "curvepixel" || command == "curvecolumn" || command == "curvecolours" ||
           command == "screenshot";
}

bool CaptureCommand(const std::vector<std::string>& words, std::string& error)
{
    const std::string& command = words[0];
    const size_t args = words.size() - 1;
    Picture picture;
    if (command == "screenshot") {
        const std::string which = args == 2 ? words[2] : "dialog";
        if (args < 1 || args > 2 ||
            (which != "dialog" && which != "about" && which != "host" && which != "screen")) {
            error = "usage: screenshot FILE.png [dialog|about|host|screen]";
            return false;
        }
        return Screenshot(which, picture, error) && Save(words[1], picture, error);
    }
    int x = 0, y = 0;
    const bool usage = (command == "curve" && args != 1) || (command == "curvecolours" && args != 0) ||
                       (command == "curvepixel" && (args != 2 || !ParseNumber(words[1], x) || !ParseNumber(words[2], y))) ||
                       (command == "curvecolumn" && (args != 1 || !ParseNumber(words[1], x)));
    if (usage) {
        static const std::map<std::string, std::string> forms = {{"curve", "curve FILE.png"},
                                                                 {"curvecolours", "curvecolours"},
                                                                 {"curvepixel", "curvepixel X Y"},
                                                                 {"curvecolumn", "curvecolumn X"}};
        error = "usage: " + forms.at(command);
        return false;
    }
    if (!ReadCurve(picture, error))
        return false;
    if (command == "curve")
        return Save(words[1], picture, error);
    if (x < 0 || x >= picture.width || y < 0 || y >= picture.height) {
        error = "outside the " + std::to_string(picture.width) + "x" + std::to_string(picture.height) + " curve";
        return false;
    }
    if (command == "curvepixel") {
        std::printf("curve %d,%d: %s\n", x, y, ColourText(picture.At(x, y)).c_str());
    } else if (command == "curvecolumn") {
        // Background is what the top-left pixel shows; the curves do not reach it.
        const uint32_t background = picture.At(0, picture.height - 1);
        std::string text;
        for (int row = 0; row < picture.height; ++row)
            if (picture.At(x, row) != background)
                text += "; y=" + std::to_string(row) + " " + ColourText(picture.At(x, row));
        std::printf("curve column %d:%s\n", x, text.empty() ? " background only" : text.c_str() + 1);
    } else {
        std::map<uint32_t, int> counts;
        for (int row = 0; row < picture.height; ++row)
            for (int column = 0; column < picture.width; ++column)
                ++counts[picture.At(column, row)];
        std::printf("curve %dx%d\n", picture.width, picture.height);
        for (const auto& colour : counts)
            std::printf("colour %s: %d\n", ColourText(colour.first).c_str(), colour.second);
    }
    return true;
}

}  // namespace zvkhost
