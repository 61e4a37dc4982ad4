// What a user does with the dialog: real mouse and keyboard input through
// SendInput, and the plain messages a program could send instead.
//   click ID [about]          mouse click at the centre of a control
//   clickat X Y               mouse click at a screen point
//   command ID [about]        WM_COMMAND / BN_CLICKED from that control, posted
//   key NAME...               real keys: Enter Esc Space Tab Shift+Tab Left
//                             Right Up Down Home End PageUp PageDown Alt+F4
//   sysclose                  WM_SYSCOMMAND / SC_CLOSE posted to the dialog
//   closebox                  mouse click on the dialog's caption close box
//   drag ID TO STEPS          drags a slider's thumb to position TO
//   channel ID POS            clicks a slider's channel where POS lies
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <map>

#include "host/host_ui.h"

namespace zvkhost {
namespace {

// Absolute mouse coordinates are 0..65535 over the screen; rounding up lands
// on the pixel whether the system scales by 65535 or by 65536.
LONG Normalise(int pixel, int screen)
{
    return static_cast<LONG>((static_cast<long long>(pixel) * 65536 + screen - 1) / screen);
}

bool MoveMouse(POINT to)
{
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = Normalise(to.x, GetSystemMetrics(SM_CXSCREEN));
    in.mi.dy = Normalise(to.y, GetSystemMetrics(SM_CYSCREEN));
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    if (SendInput(1, &in, sizeof in) != 1)
        return false;
    Settle();
    POINT at = {};
    return GetCursorPos(&at) && at.x == to.x && at.y == to.y;
}

void MouseButton(bool down)
{
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &in, sizeof in);
    Settle();
}

bool ClickAt(POINT at, std::string& error)
{
    if (!MoveMouse(at)) {
        error = "the mouse did not reach " + std::to_string(at.x) + "," + std::to_string(at.y);
        return false;
    }
    MouseButton(true);
    MouseButton(false);
    return true;
}

struct Key {
    WORD vk;
    bool shift, alt, extended;
};

const std::map<std::string, Key>& Keys()
{
    static const std::map<std::string, Key> keys = {
        {"Enter", {VK_RETURN, false, false, false}}, {"Esc", {VK_ESCAPE, false, false, false}},
        {"Space", {VK_SPACE, false, false, false}},  {"Tab", {VK_TAB, false, false, false}},
        {"Shift+Tab", {VK_TAB, true, false, false}},
        {"Left", {VK_LEFT, false, false, true}},     {"Right", {VK_RIGHT, false, false, true}},
        {"Up", {VK_UP, false, false, true}},         {"Down", {VK_DOWN, false, false, true}},
        {"Home", {VK_HOME, false, false, true}},     {"End", {VK_END, false, false, true}},
        {"PageUp", {VK_PRIOR, false, false, true}},  {"PageDown", {VK_NEXT, false, false, true}},
        {"Alt+F4", {VK_F4, false, true, false}},
    };
    return keys;
}

INPUT KeyInput(WORD vk, bool up, bool extended)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    return in;
}

void PressKey(const Key& key)
{
    std::vector<INPUT> in;
    if (key.shift)
        in.push_back(KeyInput(VK_SHIFT, false, false));
    if (key.alt)
        in.push_back(KeyInput(VK_MENU, false, false));
    in.push_back(KeyInput(key.vk, false, key.extended));
    in.push_back(KeyInput(key.vk, true, key.extended));
    if (key.alt)
        in.push_back(KeyInput(VK_MENU, true, false));
    if (key.shift)
        in.push_back(KeyInput(VK_SHIFT, true, false));
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
    Settle();
}

// Keys go to the foreground window; with no window manager nothing else
// brings the dialog there, so the host does as a user's click would.
void BringForward()
{
    HWND target = FindAboutBox();
    if (!target)
        target = FindSettingsDialog();
    if (!target)
        target = HostWindow();
    OnUi([&] {
        if (target && GetForegroundWindow() != target)
            SetForegroundWindow(target);
    });
}

HWND Control(const std::vector<std::string>& words, size_t idWord, size_t whichWord, int& id, std::string& error)
{
    if (!ParseNumber(words[idWord], id)) {
        error = "not a control id: " + words[idWord];
        return nullptr;
    }
    const std::string which = words.size() > whichWord ? words[whichWord] : "dialog";
    const HWND window = FindTarget(which);
    HWND control = nullptr;
    OnUi([&] { control = window ? GetDlgItem(window, id) : nullptr; });
    if (!control)
        error = "no control " + words[idWord] + " in the " + which;
    return control;
}

POINT Centre(const RECT& r)
{
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

struct Slider {
    RECT thumb, channel;  // screen coordinates
    int min, max, pos;
};

Slider ReadSlider(HWND slider)
{
    Slider s = {};
    OnUi([&] {
        SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&s.thumb));
        SendMessageA(slider, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&s.channel));
        MapWindowPoints(slider, nullptr, reinterpret_cast<POINT*>(&s.thumb), 2);
        MapWindowPoints(slider, nullptr, reinterpret_cast<POINT*>(&s.channel), 2);
        s.min = static_cast<int>(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0));
        s.max = static_cast<int>(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0));
        s.pos = static_cast<int>(SendMessageA(slider, TBM_GETPOS, 0, 0));
    });
    return s;
}

// Where the thumb's centre stands at a position: the thumb travels over the
// channel less its own width.
int XOfPosition(const Slider& s, int pos)
{
    const int thumbWidth = s.thumb.right - s.thumb.left;
    const int travel = s.channel.right - s.channel.left - thumbWidth;
    const int range = s.max > s.min ? s.max - s.min : 1;
    return s.channel.left + thumbWidth / 2 + (pos - s.min) * travel / range;
}

// Presses on the thumb, moves there in steps and then pixel by pixel while
// the position is not yet the wanted one, as a user watching the thumb would.
bool Drag(HWND slider, int to, int steps, std::string& error)
{
    const Slider s = ReadSlider(slider);
    const POINT start = Centre(s.thumb);
    if (!MoveMouse(start)) {
        error = "the mouse did not reach the thumb";
        return false;
    }
    MouseButton(true);
    const int targetX = XOfPosition(s, to) - (XOfPosition(s, s.pos) - start.x);
    POINT at = start;
    for (int i = 1; i <= steps; ++i) {
        at.x = start.x + (targetX - start.x) * i / steps;
        MoveMouse(at);
    }
    int pos = ReadSlider(slider).pos;
    for (int tries = 0; pos != to && tries < 8; ++tries) {
        const int step = pos < to ? 1 : -1;
        at.x += step;
        MoveMouse(at);
        const int next = ReadSlider(slider).pos;
        if ((next - to) * step > 0 && std::abs(next - to) >= std::abs(pos - to)) {
            at.x -= step;  // went past and no nearer: back to the nearer pixel
            MoveMouse(at);
            break;
        }
        pos = next;
    }
    MouseButton(false);
    return true;
}

bool ChannelClick(HWND slider, int pos, std::string& error)
{
    const Slider s = ReadSlider(slider);
    const POINT at = {XOfPosition(s, pos), (s.channel.top + s.channel.bottom) / 2};
    if (at.x >= s.thumb.left - 2 && at.x < s.thumb.right + 2) {
        error = "position " + std::to_string(pos) + " lies under the thumb";
        return false;
    }
    return ClickAt(at, error);
}

// The close box: the caption point furthest right where the window itself
// reports HTCLOSE.
bool CloseBoxClick(HWND dialog, std::string& error)
{
    POINT found = {-1, -1};
    OnUi([&] {
        RECT r = {};
        GetWindowRect(dialog, &r);
        for (int y = r.top; y < r.top + 40 && found.x < 0; ++y)
            for (int x = r.right - 1; x > r.left && found.x < 0; --x)
                if (SendMessageA(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE)
                    found = {x - 3, y + 3};
    });
    if (found.x < 0) {
        error = "the dialog has no close box";
        return false;
    }
    return ClickAt(found, error);
}

}  // namespace

bool IsInputCommand(const std::string& command)
{
    return command == "click" || command == "clickat" || command == "command" || command == "key" || command == "sysclose" ||
           command == "closebox" || command == "drag" || command == "channel";
}

bool InputCommand(const std::vector<std::string>& words, std::string& error)
{
    const std::string& command = words[0];
    const size_t args = words.size() - 1;
    int id = 0;
    if (command == "clickat") {
        POINT at = {};
        int x = 0, y = 0;
        if (args != 2 || !ParseNumber(words[1], x) || !ParseNumber(words[2], y)) {
            error = "usage: clickat X Y";
            return false;
        }
        at.x = x;
        at.y = y;
        return ClickAt(at, error);
    }
    if (command == "click" || command == "command") {
        if (args < 1 || args > 2 || (args == 2 && words[2] != "about")) {
            error = "usage: " + command + " ID [about]";
            return false;
        }
        const HWND control = Control(words, 1, 2, id, error);
        if (!control)
            return false;
        if (command == "command") {
            const HWND parent = GetParent(control);
            PostMessageA(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
            Settle();
            return true;
        }
        RECT r = {};
        OnUi([&] { GetWindowRect(control, &r); });
        return ClickAt(Centre(r), error);
    }
    if (command == "key") {
        if (args == 0) {
            error = "usage: key NAME...";
            return false;
        }
        for (size_t i = 1; i <= args; ++i) {
            if (!Keys().count(words[i])) {
                error = "unknown key " + words[i];
                return false;
            }
        }
        for (size_t i = 1; i <= args; ++i) {
            BringForward();
            PressKey(Keys().at(words[i]));
        }
        return true;
    }
    if (command == "sysclose" || command == "closebox") {
        const HWND dialog = FindSettingsDialog();
        if (args != 0 || !dialog) {
            error = args ? "usage: " + command : "no dialog to close";
            return false;
        }
        if (command == "closebox")
            return CloseBoxClick(dialog, error);
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        Settle();
        return true;
    }
    int to = 0, steps = 0;
    const bool drag = command == "drag";
    if ((drag && (args != 3 || !ParseNumber(words[3], steps) || steps < 1)) || (!drag && args != 2) ||
        !ParseNumber(words[2], to)) {
        error = drag ? "usage: drag ID TO STEPS" : "usage: channel ID POS";
        return false;
    }
    const HWND slider = Control(words, 1, 9, id, error);
    if (!slider)
        return false;
    return drag ? Drag(slider, to, steps, error) : ChannelClick(slider, to, error);
}

}  // namespace zvkhost
