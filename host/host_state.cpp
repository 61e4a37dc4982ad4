// The `state` command: what a user could see of the host window, the
// settings dialog and the About box, one key=value a line, plus the dialog
// position in the settings file.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

#include "host/host_ui.h"

namespace zvkhost {
namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

std::string RectText(const RECT& r)
{
    char text[64];
    std::snprintf(text, sizeof text, "%ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
    return text;
}

// Printable ASCII as it is, every other byte as <XX>, so that code page 1251
// texts can be checked byte by byte.
std::string Escaped(const std::string& bytes)
{
    std::string text;
    char byte[8];
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && b != '<') {
            text += c;
        } else {
            std::snprintf(byte, sizeof byte, "<%02X>", b);
            text += byte;
        }
    }
    return text;
}

std::string HexBytes(const std::string& bytes)
{
    std::string text;
    char byte[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", static_cast<unsigned char>(bytes[i]));
        text += byte;
    }
    return text;
}

std::string WindowText(HWND window)
{
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string Flag(BOOL value)
{
    return value ? "1" : "0";
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// A control's key: its id, or id#n (n counting from 1) where ids repeat.
std::vector<std::string> ControlKeys(const std::vector<HWND>& children)
{
    std::map<int, int> seen, total;
    for (const HWND child : children)
        ++total[GetDlgCtrlID(child)];
    std::vector<std::string> keys;
    for (const HWND child : children) {
        const int id = GetDlgCtrlID(child);
        std::string key = std::to_string(id);
        if (total[id] > 1)
            key += "#" + std::to_string(++seen[id]);
        keys.push_back(key);
    }
    return keys;
}

std::string FocusName(HWND window)
{
    const HWND focus = GetFocus();
    if (!focus)
        return "none";
    if (focus == window)
        return "window";
    if (IsChild(window, focus))
        return std::to_string(GetDlgCtrlID(focus));
    return "elsewhere";
}

std::string ImageText(HWND control)
{
    const auto bitmap = reinterpret_cast<HBITMAP>(SendMessageA(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP info = {};
    if (!bitmap || !GetObjectA(bitmap, sizeof info, &info))
        return "none";
    return std::to_string(info.bmWidth) + "x" + std::to_string(info.bmHeight);
}

void AddControls(Lines& lines, const std::string& prefix, HWND window)
{
    const std::vector<HWND> children = Children(window);
    const std::vector<std::string> keys = ControlKeys(children);
    std::string order;
    for (const HWND child : children)
        order += (order.empty() ? "" : " ") + std::to_string(GetDlgCtrlID(child));
    lines.emplace_back(prefix + ".controls", order);
    for (size_t i = 0; i < children.size(); ++i) {
        const HWND c = children[i];
        const std::string key = prefix + "." + keys[i];
        const std::string cls = ClassOf(c);
        const LONG style = GetWindowLongA(c, GWL_STYLE);
        lines.emplace_back(key + ".class", cls);
        lines.emplace_back(key + ".text", Escaped(WindowText(c)));
        lines.emplace_back(key + ".enabled", Flag(IsWindowEnabled(c)));
        lines.emplace_back(key + ".visible", Flag(IsWindowVisible(c)));
        if (lstrcmpiA(cls.c_str(), "Button") == 0) {
            const LONG type = style & BS_TYPEMASK;
            if (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON && type != BS_GROUPBOX)
                lines.emplace_back(key + ".check", std::to_string(SendMessageA(c, BM_GETCHECK, 0, 0)));
        } else if (cls == TRACKBAR_CLASSA) {
            lines.emplace_back(key + ".range", std::to_string(SendMessageA(c, TBM_GETRANGEMIN, 0, 0)) + " " +
                                                   std::to_string(SendMessageA(c, TBM_GETRANGEMAX, 0, 0)));
            lines.emplace_back(key + ".pos", std::to_string(SendMessageA(c, TBM_GETPOS, 0, 0)));
            lines.emplace_back(key + ".page", std::to_string(SendMessageA(c, TBM_GETPAGESIZE, 0, 0)));
        } else if (lstrcmpiA(cls.c_str(), "Static") == 0 && (style & SS_TYPEMASK) == SS_BITMAP) {
            lines.emplace_back(key + ".image", ImageText(c));
        }
    }
}

void AddWindow(Lines& lines, const std::string& prefix, HWND window)
{
    lines.emplace_back(prefix, Flag(window != nullptr));
    if (!window)
        return;
    RECT r = {};
    GetWindowRect(window, &r);
    lines.emplace_back(prefix + ".rect", RectText(r));
    lines.emplace_back(prefix + ".caption", HexBytes(WindowText(window)));
    lines.emplace_back(prefix + ".visible", Flag(IsWindowVisible(window)));
    lines.emplace_back(prefix + ".enabled", Flag(IsWindowEnabled(window)));
    lines.emplace_back(prefix + ".focus", FocusName(window));
    AddControls(lines, prefix, window);
}

// The [DIALOG] keys of Plugins\ZVK_Gamma.ini beside the host, as stored.
void AddStoredPosition(Lines& lines)
{
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path = exe;
    path = path.substr(0, path.find_last_of('\\') + 1) + "Plugins\\ZVK_Gamma.ini";
    std::ifstream in(path, std::ios::binary);
    std::map<std::string, std::string> values;
    bool inDialog = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '[')
            inDialog = line == "[DIALOG]";
        else if (inDialog && line.find('=') != std::string::npos)
            values.emplace(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
    }
    for (const char* key : {"DlgWndPosX", "DlgWndPosY"})
        lines.emplace_back(std::string("ini.") + key, values.count(key) ? values[key] : "missing");
}

// A line is shown when no filter is given, or when its key equals a filter;
// a filter ending in ".*" takes every key below it.
bool Wanted(const std::string& key, const std::vector<std::string>& words)
{
    if (words.size() == 1)
        return true;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& f = words[i];
        const bool below = f.size() > 2 && f.compare(f.size() - 2, 2, ".*") == 0;
        if (below ? key.compare(0, f.size() - 1, f, 0, f.size() - 1) == 0 : key == f)
            return true;
    }
    return false;
}

}  // namespace

bool StateCommand(const std::vector<std::string>& words, std::string& error)
{
    const HWND dialog = FindSettingsDialog();
    const HWND about = FindAboutBox();
    const int dialogs = CountSettingsDialogs();
    Lines lines;
    OnUi([&] {
        const HWND host = HostWindow();
        lines.emplace_back("host", Flag(host != nullptr));
        if (host) {
            RECT r = {};
            GetWindowRect(host, &r);
            lines.emplace_back("host.rect", RectText(r));
            lines.emplace_back("host.enabled", Flag(IsWindowEnabled(host)));
        }
        lines.emplace_back("dialogs", std::to_string(dialogs));
        AddWindow(lines, "dialog", dialog);
        AddWindow(lines, "about", about);
    });
    AddStoredPosition(lines);
    size_t shown = 0;
    for (const auto& line : lines) {
        if (Wanted(line.first, words)) {
            std::printf("%s=%s\n", line.first.c_str(), line.second.c_str());
            ++shown;
        }
    }
    if (!shown) {
        error = "state: no key matches";
        return false;
    }
    return true;
}

}  // namespace zvkhost
