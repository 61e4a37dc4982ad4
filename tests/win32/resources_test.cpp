// The dialog templates and the About bitmap as they sit in the built DLL,
// parsed field by field and compared with the layout the dialog code expects.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "resources/resource_ids.h"

namespace {

const WORD kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);  // 1049
// Predefined window classes are stored as ordinals: 0xFFFF, then the atom.
const std::u16string kButton{0xFFFF, 0x0080};
const std::u16string kStatic{0xFFFF, 0x0082};
const std::u16string kSlider = u"msctls_trackbar32";
const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kSliderStyle = kChild | TBS_AUTOTICKS | TBS_TOP | TBS_NOTICKS | WS_TABSTOP;
const DWORD kValueStyle = kChild | SS_CENTER | SS_CENTERIMAGE | WS_GROUP;

struct Item {
    int32_t id;
    std::u16string cls, text;
    short x, y, cx, cy;
    DWORD style, exStyle;
    auto Fields() const { return std::tie(id, cls, text, x, y, cx, cy, style, exStyle); }
};

// The layout fields of a template; version, help ids, menu, class, position
// and font are the same for both templates and are checked while parsing.
struct Dialog {
    DWORD style, exStyle;
    short cx, cy;
    std::u16string caption;
    std::vector<Item> items;
};

// Window class names match without regard to case, and the resource compiler
// stores a named class in capitals.
std::u16string Lower(std::u16string name)
{
    for (char16_t& c : name)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return name;
}

// Little-endian fields of a template, in order.
class Reader {
public:
    explicit Reader(const std::vector<BYTE>& bytes) : base_(bytes.data()), p_(base_), end_(base_ + bytes.size()) {}
    template <typename T>
    T Get()
    {
        T value{};
        if (p_ + sizeof value <= end_)
            std::memcpy(&value, p_, sizeof value);
        p_ += sizeof value;
        return value;
    }
    // A null-terminated UTF-16 string, or an ordinal as {0xFFFF, value}.
    std::u16string SzOrOrd()
    {
        char16_t c = Get<char16_t>();
        if (c == 0xFFFF)
            return {c, Get<char16_t>()};
        std::u16string text;
        for (; c && p_ < end_; c = Get<char16_t>())
            text += c;
        return text;
    }
    void AlignDword() { p_ = base_ + ((p_ - base_ + 3) & ~3); }
    bool Overran() const { return p_ > end_; }

private:
    const BYTE *base_, *p_, *end_;
};

class Resources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExA(ZVK_PLUGIN_DLL, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << "cannot load " << ZVK_PLUGIN_DLL << ", error " << GetLastError();
    }
    void TearDown() override
    {
        if (module_)
            FreeLibrary(module_);
    }

    std::vector<BYTE> Load(LPCSTR type, WORD id) const
    {
        HRSRC found = FindResourceExA(module_, type, MAKEINTRESOURCEA(id), kRussian);
        if (!found)
            return {};
        const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
        return std::vector<BYTE>(data, data + SizeofResource(module_, found));
    }

    // Parses an extended dialog template, checking on the way the fields that must be empty.
    Dialog LoadDialog(WORD id) const
    {
        const std::vector<BYTE> bytes = Load(RT_DIALOG, id);
        EXPECT_FALSE(bytes.empty()) << "no dialog " << id << " in language 1049";
        Reader r(bytes);
        Dialog d{};
        EXPECT_EQ(r.Get<WORD>(), 1) << "version";
        EXPECT_EQ(r.Get<WORD>(), 0xFFFF) << "signature";
        EXPECT_EQ(r.Get<DWORD>(), 0u) << "help id";
        d.exStyle = r.Get<DWORD>(), d.style = r.Get<DWORD>();
        const WORD count = r.Get<WORD>();
        EXPECT_EQ(r.Get<short>(), 0) << "x";
        EXPECT_EQ(r.Get<short>(), 0) << "y";
        d.cx = r.Get<short>(), d.cy = r.Get<short>();
        EXPECT_EQ(r.SzOrOrd(), u"") << "menu";
        EXPECT_EQ(r.SzOrOrd(), u"") << "window class";
        d.caption = r.SzOrOrd();
        EXPECT_EQ(r.Get<WORD>(), 8) << "point size";
        EXPECT_EQ(r.Get<WORD>(), 0) << "weight";
        EXPECT_EQ(r.Get<BYTE>(), 0) << "italic";
        EXPECT_EQ(r.Get<BYTE>(), DEFAULT_CHARSET) << "character set";
        EXPECT_EQ(r.SzOrOrd(), u"MS Sans Serif");
        for (WORD i = 0; i < count && !r.Overran(); ++i) {
            r.AlignDword();
            Item item{};
            EXPECT_EQ(r.Get<DWORD>(), 0u) << "help id of control " << i;
            item.exStyle = r.Get<DWORD>(), item.style = r.Get<DWORD>();
            item.x = r.Get<short>(), item.y = r.Get<short>(), item.cx = r.Get<short>(), item.cy = r.Get<short>();
            item.id = r.Get<int32_t>();
            item.cls = Lower(r.SzOrOrd());
            item.text = r.SzOrOrd();
            EXPECT_EQ(r.Get<WORD>(), 0) << "creation data of control " << i;
            d.items.push_back(item);
        }
        EXPECT_FALSE(r.Overran()) << "template overruns its resource";
        return d;
    }

    HMODULE module_ = nullptr;
};

void ExpectDialog(const Dialog& d, const Dialog& expected)
{
    EXPECT_EQ(d.style, expected.style) << std::hex << "style 0x" << d.style;
    EXPECT_EQ(d.exStyle, expected.exStyle);
    EXPECT_EQ(std::tie(d.cx, d.cy), std::tie(expected.cx, expected.cy));
    EXPECT_EQ(d.caption, expected.caption);
    ASSERT_EQ(d.items.size(), expected.items.size());
    for (size_t i = 0; i < d.items.size(); ++i)
        EXPECT_EQ(d.items[i].Fields(), expected.items[i].Fields()) << "control " << i << " in template order";
}

TEST_F(Resources, SettingsTemplateMatchesItsLayout)
{
    // An owned overlapped window: neither WS_CHILD nor WS_POPUP, hidden until
    // shown. Template order is the tab order.
    const Dialog expected{WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, WS_EX_TOOLWINDOW, 249, 134,
                          u"ZVK_Gamma плагин", {
        {IDC_OK, kButton, u"ОК", 152, 116, 44, 13, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0},
        {IDC_CANCEL, kButton, u"Отмена", 201, 116, 44, 13, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0},
        {IDC_ABOUT, kButton, u"О плагине", 3, 116, 44, 13, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0},
        {-1, kButton, u"", 3, 0, 242, 111, kChild | BS_GROUPBOX, 0},
        {-1, kStatic, u"Gamma (R)  =", 161, 11, 44, 8, kChild | SS_CENTER | WS_GROUP, 0},
        {-1, kStatic, u"Gamma (G)  =", 161, 38, 44, 8, kChild | SS_CENTER | WS_GROUP, 0},
        {-1, kStatic, u"Gamma (B)  =", 161, 65, 44, 8, kChild | SS_CENTER | WS_GROUP, 0},
        {IDC_SLIDER_RED, kSlider, u"Slider1", 123, 22, 114, 11, kSliderStyle, WS_EX_STATICEDGE},
        {IDC_SLIDER_GREEN, kSlider, u"Slider1", 123, 49, 114, 11, kSliderStyle, WS_EX_STATICEDGE},
        {IDC_SLIDER_BLUE, kSlider, u"Slider1", 123, 76, 114, 11, kSliderStyle, WS_EX_STATICEDGE},
        {IDC_TEXT_RED, kStatic, u"Static", 211, 10, 21, 9, kValueStyle, WS_EX_STATICEDGE},
        {IDC_TEXT_GREEN, kStatic, u"Static", 211, 37, 21, 9, kValueStyle, WS_EX_STATICEDGE},
        {IDC_TEXT_BLUE, kStatic, u"Static", 211, 64, 21, 9, kValueStyle, WS_EX_STATICEDGE},
        {IDC_LINK, kButton, u"Связать каналы", 169, 94, 71, 10, kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
        {IDC_CURVE, kStatic, u"", 10, 16, 100, 87, kChild | SS_BITMAP | SS_CENTERIMAGE, WS_EX_STATICEDGE},
        {IDC_DEFAULTS, kButton, u"По умолчанию", 91, 116, 56, 13, kChild | BS_PUSHBUTTON | WS_TABSTOP, 0},
        {IDC_ON, kButton, u"Вкл.", 123, 94, 31, 10, kChild | BS_AUTOCHECKBOX | WS_TABSTOP, 0},
    }};
    ExpectDialog(LoadDialog(IDD_GAMMA), expected);
}

TEST_F(Resources, AboutTemplateMatchesItsLayout)
{
    const std::u16string bitmap{0xFFFF, IDB_ABOUT};
    const Dialog expected{WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, WS_EX_TOOLWINDOW, 150, 106, u"", {
        {IDOK, kButton, u"OK", 54, 87, 44, 13, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
        {-1, kStatic, u"ZVK_Gamma плагин", 7, 41, 136, 8, kChild | SS_CENTER, 0},
        {-1, kStatic, u"Ver.1.03", 7, 54, 136, 10, kChild | SS_CENTER, 0},
        {-1, kButton, u"", 3, -2, 144, 106, kChild | BS_GROUPBOX, 0},
        {-1, kStatic, bitmap, 63, 12, 21, 20, kChild | SS_BITMAP, 0},
    }};
    ExpectDialog(LoadDialog(IDD_ABOUT), expected);
}

TEST_F(Resources, AboutBitmapIs32By32With24Bits)
{
    const std::vector<BYTE> bytes = Load(RT_BITMAP, IDB_ABOUT);
    ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER info;
    std::memcpy(&info, bytes.data(), sizeof info);
    EXPECT_EQ(info.biSize, sizeof info);
    EXPECT_EQ(std::tie(info.biWidth, info.biHeight), std::make_tuple(LONG(32), LONG(32)));
    EXPECT_EQ(std::tie(info.biPlanes, info.biBitCount), std::make_tuple(WORD(1), WORD(24)));
    EXPECT_EQ(info.biCompression, DWORD(BI_RGB));
    EXPECT_EQ(bytes.size(), sizeof info + 32 * 32 * 3);
}

BOOL CALLBACK AddLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR out)
{
    reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
    return TRUE;
}

TEST_F(Resources, EveryResourceIsInRussianOnly)
{
    const std::pair<LPCSTR, WORD> resources[] = {
        {RT_DIALOG, IDD_GAMMA}, {RT_DIALOG, IDD_ABOUT}, {RT_BITMAP, IDB_ABOUT}, {RT_VERSION, 1}};
    for (const auto& [type, id] : resources) {
        std::vector<WORD> languages;
        EnumResourceLanguagesA(module_, type, MAKEINTRESOURCEA(id), AddLanguage, reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(languages, std::vector<WORD>{kRussian}) << "resource " << id;
    }
}

}  // namespace
