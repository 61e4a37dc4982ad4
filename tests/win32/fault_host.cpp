// Fault injection through the real DLL. A host that loads ZVK_Gamma.dll with
// LoadLibrary and, before the DLL's own start-up code runs, puts wrappers in
// place of the calls of fault_calls.h in its import table. One scripted
// session (Init with a file of several sections, frames in both formats
// with section switches, the settings window with slider moves, the link box
// and the About box, OK, more frames, the window again, Close) is run once to
// count the calls, then once per failure point: the n-th call of a function
// fails, or every call of it from the n-th on. Each run is a process of its
// own, bounded in time, and must show:
// - no crash and no exception out of the DLL (a vectored handler, and the
//   DLL's runtime's abort, report them with the address);
// - every frame corrected exactly as the tables of its section's values say,
//   or left as it was, never anything else;
// - the settings file either as it was or, byte for byte, what a save of the
//   session's values writes, with the attributes it had; no temporary file
//   of ours left beside it;
// - the open window showing the current section's values after each switch,
//   and Cancel closing it;
// - the library leaving the process at FreeLibrary, and a fresh load (no
//   faults) reading the file and correcting frames by it, its window opening.
//
//   zvk_fault_host DLL count                 the session once, counting
//   zvk_fault_host DLL fail NAME N once|on   one run with one failure point
//   zvk_fault_host DLL sweep [sample|all]    every point (or a fixed sample)
#include <windows.h>
#include <winternl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dialog/slider_scale.h"
#include "gamma/kernels.h"
#include "tests/native/built_tables.h"
#include "tests/win32/fault_calls.h"
#include "tests/win32/guest_host.h"

namespace zvk {
namespace {

using fault::kCallCount;
using fault::kCalls;

constexpr char kGuestName[] = "fault_guest";
constexpr DWORD kRunTimeoutMs = 20000;
// The system exception a C++ throw raises where the runtime unwinds through
// the system (x86-64); the 32-bit runtime unwinds by itself.
constexpr DWORD kGccException = 0x20474343;

// ---- the import table

bool SameName(const char* a, const char* b)
{
    return lstrcmpiA(a, b) == 0;
}

void PutInImportTable(HMODULE module)
{
    auto* base = reinterpret_cast<uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         library->Name; ++library) {
        const char* libraryName = reinterpret_cast<const char*>(base + library->Name);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        const auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(
            base + (library->OriginalFirstThunk ? library->OriginalFirstThunk : library->FirstThunk));
        for (; name->u1.AddressOfData; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal))
                continue;
            const char* function =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name;
            void* wrapper = nullptr;
            if (SameName(libraryName, "msvcrt.dll") && std::strcmp(function, "abort") == 0)
                wrapper = reinterpret_cast<void*>(fault::AbortInDll);
            for (const fault::CallEntry& call : kCalls) {
                if (SameName(libraryName, call.module) && std::strcmp(function, call.name) == 0)
                    wrapper = call.wrapper;
            }
            if (!wrapper)
                continue;
            DWORD old = 0;
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &old);
            slot->u1.Function = reinterpret_cast<uintptr_t>(wrapper);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old, &old);
        }
    }
}

// The loader's notice of a new module comes after its imports are bound and
// before its start-up code runs, so the static constructors' calls count too.
struct LoadedNotice {
    ULONG flags;
    const UNICODE_STRING* fullName;
    const UNICODE_STRING* baseName;
    void* base;
    ULONG size;
};
using Notify = void(CALLBACK*)(ULONG reason, const LoadedNotice* notice, void* context);
using RegisterNotify = LONG(NTAPI*)(ULONG flags, Notify notify, void* context, void** cookie);

void CALLBACK OnModuleLoaded(ULONG reason, const LoadedNotice* notice, void*)
{
    constexpr ULONG kLoaded = 1;
    if (reason != kLoaded)
        return;
    char name[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, notice->baseName->Buffer, notice->baseName->Length / 2, name, MAX_PATH - 1,
                        nullptr, nullptr);
    if (!SameName(name, (std::string(kGuestName) + ".dll").c_str()))
        return;
    gDllBase = reinterpret_cast<uintptr_t>(notice->base);
    gDllSize = notice->size;
    PutInImportTable(static_cast<HMODULE>(notice->base));
}

bool WatchLoads()
{
    const auto registerNotify = reinterpret_cast<RegisterNotify>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "LdrRegisterDllNotification")));
    void* cookie = nullptr;
    return registerNotify && registerNotify(0, OnModuleLoaded, nullptr, &cookie) == 0;
}

// ---- crashes and exceptions

std::atomic<long> gDllThrows{0};

// C++ exceptions raised (the host raises none) are counted: one the DLL
// catches harms no one; one it does not ends in its runtime's abort,
// reported there. Only where the runtime raises them as system exceptions.
LONG CALLBACK CountThrows(EXCEPTION_POINTERS* info)
{
    if (info->ExceptionRecord->ExceptionCode == kGccException)
        ++gDllThrows;
    return EXCEPTION_CONTINUE_SEARCH;
}

// ---- files

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteAll(const std::string& path, const std::string& text)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// ---- the session's settings: what the file holds, what a save writes

struct Values {
    int32_t r, g, b, binding, enable;
};
constexpr Values kBuiltIn = {100, 100, 100, 1, 1};
constexpr Values kDefault = {150, 150, 150, 0, 1};

struct Section {
    int64_t id;
    Values values;
};
// The file's sections in its order; 30 is new, made by a frame.
const Section kFileSections[] = {
    {10, {200, 50, 300, 0, 1}},
    {20, {80, 120, 250, 0, 1}},
    {40, {130, 70, 90, 0, 0}},
};
constexpr int64_t kNewSection = 30;
constexpr int64_t kEditedSection = 20;
constexpr int kStoredX = 50;
constexpr int kStoredY = 60;

std::string Record(int64_t id, const Values& v)
{
    std::ostringstream text;
    text << "[" << id << "]\r\nRGamma=" << v.r << "\r\nGGamma=" << v.g << "\r\nBGamma=" << v.b
         << "\r\nBinding=" << v.binding << "\r\nEnable=" << v.enable << "\r\n";
    return text.str();
}

std::string DialogRecord(int x, int y)
{
    return "[DIALOG]\r\nDlgWndPosX=" + std::to_string(x) + "\r\nDlgWndPosY=" + std::to_string(y) + "\r\n";
}

std::string OldFile()
{
    std::string text = DialogRecord(kStoredX, kStoredY);
    const std::string defaults = Record(0, kDefault);
    text += "[DEFAULT]" + defaults.substr(defaults.find("\r\n"));
    for (const Section& section : kFileSections)
        text += Record(section.id, section.values);
    return text;
}

// Left by an earlier save that was cut short, read-only.
constexpr char kStaleTemp[] = "cut short\r\n";

// The values of every section as the session leaves them.
struct Model {
    bool edited = false;  // the window took the slider moves
    Values edit = {};
    int x = kStoredX, y = kStoredY;

    Values Of(int64_t id, bool fileRead) const
    {
        if (edited && id == kEditedSection)
            return edit;
        if (!fileRead)
            return kBuiltIn;
        for (const Section& section : kFileSections) {
            if (section.id == id)
                return section.values;
        }
        return kDefault;
    }
    // Whether the file is what Close writes: the dialog's position, then
    // every section in the order the store holds them (the file's, then the
    // new one). A window the session never saw (one that could not finish
    // opening) may have stored a position of its own.
    bool SavedAs(const std::string& file) const
    {
        std::string sections;
        for (const Section& section : kFileSections)
            sections += Record(section.id, Of(section.id, true));
        sections += Record(kNewSection, Of(kNewSection, true));
        if (file == DialogRecord(x, y) + sections)
            return true;
        int storedX = 0, storedY = 0;
        return !edited && std::sscanf(file.c_str(), "[DIALOG]\r\nDlgWndPosX=%d\r\nDlgWndPosY=%d", &storedX, &storedY) == 2 &&
               file == DialogRecord(storedX, storedY) + sections;
    }
};

// ---- frames

struct Format {
    int32_t width, height;
    bool yuv;  // YUY2 with averaged chroma, else BGR24
    size_t Bytes() const { return size_t(width) * size_t(height) * (yuv ? 2 : 3); }
};
// Big enough to be cut into slices on any machine; small.
constexpr Format kBig = {7680, 4320, true};
constexpr Format kSmall = {64, 16, false};

// A frame is one block repeated; a prime number of words, so that a slice
// corrected with other tables, or in the wrong place, still shows.
std::vector<uint8_t> Block(const Format& format)
{
    std::vector<uint8_t> block(format.yuv ? 257 * 4 : format.Bytes());
    std::mt19937 random(format.yuv ? 11 : 12);
    for (uint8_t& byte : block)
        byte = static_cast<uint8_t>(random());
    return block;
}

std::vector<uint8_t> Corrected(std::vector<uint8_t> block, const Format& format, const Values& v)
{
    if (!v.enable)
        return block;
    const TableSet set = Built(v.r, v.g, v.b);
    if (format.yuv)
        CorrectYuvAveraged(block.data(), static_cast<uint32_t>(block.size() / 2), set.yuvDelta);
    else
        CorrectRgb24(block.data(), static_cast<uint32_t>(block.size() / 3), set.lut);
    return block;
}

void Fill(std::vector<uint8_t>& frame, const std::vector<uint8_t>& block)
{
    for (size_t at = 0; at < frame.size(); at += block.size())
        std::memcpy(frame.data() + at, block.data(), std::min(block.size(), frame.size() - at));
}

bool Repeats(const std::vector<uint8_t>& frame, const std::vector<uint8_t>& block)
{
    for (size_t at = 0; at < frame.size(); at += block.size()) {
        if (std::memcmp(frame.data() + at, block.data(), std::min(block.size(), frame.size() - at)) != 0)
            return false;
    }
    return true;
}

// ---- one run

struct Paths {
    std::string dll;
    std::string ini;
    std::string temp;
    // Where the settings go when the registry cannot be read: beside the host.
    std::string hostIni;
};

Paths PathsFor(const std::string& folder)
{
    char appData[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE);
    const std::string plugins = std::string(appData) + "\\Zentavio\\Plugins\\";
    CreateDirectoryA((std::string(appData) + "\\Zentavio").c_str(), nullptr);
    CreateDirectoryA(plugins.c_str(), nullptr);
    return {folder + kGuestName + ".dll", plugins + kGuestName + ".ini", plugins + kGuestName + ".ini.tmp",
            folder + "Plugins\\" + kGuestName + ".ini"};
}

// Files in the settings folder other than ours, and the folder the
// settings would find without the user's application-data folder; each
// is removed, so that the next run starts without it.
std::vector<std::string> StrayFiles(const Paths& paths)
{
    std::vector<std::string> found;
    const std::string folder = paths.ini.substr(0, paths.ini.find_last_of('\\') + 1);
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &entry)) {
        const std::string path = folder + entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || path == paths.ini || path == paths.temp)
            continue;
        found.push_back(path);
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    for (const char* elsewhere : {"\\Zentavio", "C:\\Zentavio"}) {
        if (Exists(elsewhere))
            found.push_back(elsewhere);
    }
    return found;
}

class Run {
public:
    explicit Run(const Paths& paths) : paths_(paths) {}

    // Problems found, one a line; empty when the run passed.
    std::string problems;

    void Session(bool faults, const fault::Plan& plan);

private:
    void Problem(const std::string& text) { problems += "problem: " + text + "\n"; }
    // Runs one frame of the format in the section; checks what became of it.
    void Frame(const Guest& guest, const Format& format, int64_t section, std::vector<uint8_t>& frame,
               const Model& model, bool exact);
    void MoveSlider(const UiThread& ui, HWND dialog, int id, int position) const;
    void Window(const Guest& guest, const UiThread& ui, Model& model);
    void CancelWindow(const Guest& guest, const UiThread& ui, const Model& model);
    void ExpectShown(HWND dialog, const Model& model);
    void FreshLoad(const Model& inFile, bool mayStay);

    const Paths& paths_;
    // The sections that may be current: the last corrected frame's, and
    // those of the frames left as they were since (a section switched off,
    // or a switch that did not happen).
    std::vector<int64_t> mayBeCurrent_;

public:
    // Calls of each function in the session itself, the fresh load not counted.
    long calls[kCallCount] = {};
};

void Run::Frame(const Guest& guest, const Format& format, int64_t section, std::vector<uint8_t>& frame,
                const Model& model, bool exact)
{
    const std::vector<uint8_t> block = Block(format);
    frame.resize(format.Bytes());
    Fill(frame, block);
    guest.Frame(section, frame.data());
    // Left as it was, or corrected with one whole set of the section's
    // tables, whether the file could be read or not.
    const bool left = Repeats(frame, block);
    mayBeCurrent_.resize(left ? mayBeCurrent_.size() : 0);
    mayBeCurrent_.push_back(section);
    if (!exact && left)
        return;
    for (const bool fileRead : {true, false}) {
        if (exact && !fileRead)
            continue;
        if (Repeats(frame, Corrected(block, format, model.Of(section, fileRead))))
            return;
    }
    Problem("frame of section " + std::to_string(section) + (format.yuv ? " (YUY2)" : " (BGR24)") +
            " is neither left as it was nor corrected with its section's tables");
}

// The window's thread takes the refreshes it posted itself first: a full
// refresh between the two messages would put the slider back.
void Run::MoveSlider(const UiThread& ui, HWND dialog, int id, int position) const
{
    const HWND slider = GetDlgItem(dialog, id);
    ui.Pump(20);
    SendMessageA(slider, TBM_SETPOS, TRUE, position);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), reinterpret_cast<LPARAM>(slider));
}

// What the window shows, as the value texts, the slider positions and the
// two boxes.
std::string ShownBy(HWND dialog)
{
    std::string shown;
    for (const int id : {IDC_TEXT_RED, IDC_TEXT_GREEN, IDC_TEXT_BLUE}) {
        char text[32] = {};
        GetDlgItemTextA(dialog, id, text, sizeof text);
        shown += std::string(text) + " ";
    }
    for (const int id : {IDC_SLIDER_RED, IDC_SLIDER_GREEN, IDC_SLIDER_BLUE})
        shown += std::to_string(SendDlgItemMessageA(dialog, id, TBM_GETPOS, 0, 0)) + " ";
    for (const int id : {IDC_LINK, IDC_ON})
        shown += SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED ? "x" : "-";
    return shown;
}

// What a window that shows the values looks like.
std::string ShownAs(const Values& v)
{
    std::string shown;
    for (const int32_t gamma : {v.r, v.g, v.b}) {
        char text[kGammaTextSize];
        FormatGamma(gamma, text);
        shown += std::string(text) + " ";
    }
    for (const int32_t gamma : {v.r, v.g, v.b})
        shown += std::to_string(PositionOfGamma(gamma)) + " ";
    return shown + (v.binding ? "x" : "-") + (v.enable ? "x" : "-");
}

// The window must catch up with the current section by itself within a
// moment, whatever it could not have (its poster thread, a posted message).
// A second here, for a machine under load.
void Run::ExpectShown(HWND dialog, const Model& model)
{
    std::vector<std::string> wanted;
    for (const int64_t section : mayBeCurrent_) {
        for (const bool fileRead : {true, false})
            wanted.push_back(ShownAs(model.Of(section, fileRead)));
    }
    const auto current = [&] { return std::count(wanted.begin(), wanted.end(), ShownBy(dialog)) > 0; };
    if (!WaitFor(current, 1000))
        Problem("the window shows " + ShownBy(dialog) + " while section " + std::to_string(mayBeCurrent_.back()) +
                " is current (" + wanted.front() + ")");
}

// The settings window: sliders, the link box, the About box, OK.
void Run::Window(const Guest& guest, const UiThread& ui, Model& model)
{
    fault::SetStep("ShowDialog");
    ShowDialog(guest, ui);
    const HWND dialog = ui.Dialog();
    if (!dialog)
        return;
    fault::SetStep("sliders");
    MoveSlider(ui, dialog, IDC_SLIDER_RED, 170);
    MoveSlider(ui, dialog, IDC_SLIDER_GREEN, 60);
    MoveSlider(ui, dialog, IDC_SLIDER_BLUE, 100);
    fault::SetStep("link box");
    const HWND link = GetDlgItem(dialog, IDC_LINK);
    ui.Pump(20);
    SendMessageA(link, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_LINK, BN_CLICKED), reinterpret_cast<LPARAM>(link));
    MoveSlider(ui, dialog, IDC_SLIDER_RED, 40);
    const int32_t linked = PositionToGamma(40);
    model.edited = true;
    model.edit = {linked, linked, linked, 1, 1};
    ui.Pump(50);

    fault::SetStep("About");
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_ABOUT, BN_CLICKED), 0);
    if (WaitFor([&ui] { return ui.About() != nullptr; }, 2000)) {
        const HWND about = ui.About();
        PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        if (!WaitFor([about] { return !IsWindow(about); }, 3000))
            Problem("the About box did not close");
    }
    ui.Pump(50);

    fault::SetStep("OK");
    RECT rect = {};
    GetWindowRect(dialog, &rect);
    model.x = rect.left;
    model.y = rect.top;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_OK)));
    ui.Pump(50);
    if (IsWindow(dialog))
        Problem("OK did not close the window");
}

// The window again: it follows the section switches while it is open; a
// slider move, then Cancel, which closes it and takes the move back.
void Run::CancelWindow(const Guest& guest, const UiThread& ui, const Model& model)
{
    fault::SetStep("ShowDialog");
    ShowDialog(guest, ui);
    const HWND dialog = ui.Dialog();
    if (!dialog)
        return;
    fault::SetStep("switches");
    ExpectShown(dialog, model);
    std::vector<uint8_t> frame;
    for (const int64_t section : {int64_t{40}, kNewSection, kEditedSection}) {
        Frame(guest, kSmall, section, frame, model, false);
        ExpectShown(dialog, model);
    }
    fault::SetStep("Cancel");
    MoveSlider(ui, dialog, IDC_SLIDER_RED, 0);
    ui.Pump(20);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_CANCEL)));
    ui.Pump(50);
    if (IsWindow(dialog))
        Problem("Cancel did not close the window");
}

void Run::Session(bool faults, const fault::Plan& plan)
{
    DeleteFileA(paths_.hostIni.c_str());
    WriteAll(paths_.ini, OldFile());
    const DWORD attributes = GetFileAttributesA(paths_.ini.c_str());
    WriteAll(paths_.temp, kStaleTemp);
    SetFileAttributesA(paths_.temp.c_str(), FILE_ATTRIBUTE_READONLY);
    if (faults)
        fault::Arm(plan);

    Model model;
    const Model before;
    std::vector<uint8_t> frame;
    {
        fault::SetStep("load");
        Guest guest(paths_.dll);
        if (guest.Loaded()) {
            UiThread ui;
            fault::SetStep("Init");
            guest.Init();
            fault::SetStep("frames");
            guest.Format(kBig.width, kBig.height, 0, kYuvVariantAveraged);
            Frame(guest, kBig, 10, frame, model, false);
            Frame(guest, kBig, 20, frame, model, false);
            guest.Format(kSmall.width, kSmall.height, 1);
            Frame(guest, kSmall, kNewSection, frame, model, false);
            Frame(guest, kSmall, kEditedSection, frame, model, false);
            Window(guest, ui, model);
            fault::SetStep("frames");
            Frame(guest, kSmall, kEditedSection, frame, model, false);
            Frame(guest, kSmall, 40, frame, model, false);
            guest.Format(kBig.width, kBig.height, 0, kYuvVariantAveraged);
            Frame(guest, kBig, kNewSection, frame, model, false);
            Frame(guest, kBig, 10, frame, model, false);
            guest.Format(kSmall.width, kSmall.height, 1);
            CancelWindow(guest, ui, model);
            fault::SetStep("frames");
            Frame(guest, kSmall, kEditedSection, frame, model, false);
            Frame(guest, kSmall, 10, frame, model, false);
            // Closed with the window open, from a thread not the window's.
            fault::SetStep("ShowDialog");
            ShowDialog(guest, ui);
            fault::SetStep("Close");
            guest.d.close();
            fault::SetStep("unload");
            guest.Unload();
        } else if (!faults) {
            Problem("the DLL did not load");
        }
    }
    // A window lets go of the library through a thread of ours, which needs
    // a handle and a thread: without them the library stays (never unmapped
    // under code that runs), and so it does after the fresh load.
    const bool mayStay = faults && (plan.call == fault::kDuplicateHandle || plan.call == fault::kCreateThread) &&
                         (fault::FailedIn("About") || fault::FailedIn("OK") || fault::FailedIn("Cancel") ||
                          fault::FailedIn("Close"));
    if (!UnloadsWithin(kGuestName, 3000) && !mayStay)
        Problem("the library did not leave the process after FreeLibrary");
    fault::Disarm();
    fault::SetStep("fresh load");
    for (int call = 0; call < kCallCount; ++call)
        calls[call] = fault::CallsOf(call);

    // The file as it was, or what a save of the session's values writes.
    const std::string file = ReadAll(paths_.ini);
    const Model* inFile = nullptr;
    if (file == OldFile())
        inFile = &before;
    else if (model.SavedAs(file))
        inFile = &model;
    else
        Problem("the settings file is neither the old one nor what a save writes:\n" + file);
    if (!faults && inFile != &model)
        Problem("a run without faults did not save");
    // A save takes the old file's attributes, never those of a temporary.
    if (const DWORD now = GetFileAttributesA(paths_.ini.c_str()); now != attributes) {
        char text[64];
        std::snprintf(text, sizeof text, "0x%lx to 0x%lx", attributes, now);
        Problem(std::string("the settings file's attributes went from ") + text);
    }
    // Our temporary goes whatever happens; the stale one may stay where it
    // could not be removed. Nothing is written anywhere else.
    if (Exists(paths_.temp) && ReadAll(paths_.temp) != kStaleTemp)
        Problem("a temporary file is left beside the settings file");
    for (const std::string& stray : StrayFiles(paths_))
        Problem("a file was written in the wrong place: " + stray);
    if (inFile)
        FreshLoad(*inFile, mayStay);
    DeleteFileA(paths_.hostIni.c_str());
}

// A load without faults reads the file and works as usual.
void Run::FreshLoad(const Model& inFile, bool mayStay)
{
    std::vector<uint8_t> frame;
    {
        Guest guest(paths_.dll);
        if (!guest.Loaded()) {
            Problem("a fresh load failed");
            return;
        }
        UiThread ui;
        guest.Init();
        guest.Format(kSmall.width, kSmall.height, 1);
        for (const int64_t section : {10, 20, 30, 40})
            Frame(guest, kSmall, section, frame, inFile, true);
        ShowDialog(guest, ui);
        const HWND dialog = ui.Dialog();
        if (!dialog)
            Problem("a fresh load opened no window");
        else
            ClickOnUi(ui, dialog, IDC_OK);
        guest.d.close();
        guest.Unload();
    }
    if (!UnloadsWithin(kGuestName, 3000) && !mayStay)
        Problem("a fresh load did not leave the process");
}

// ---- the runs, each a process of its own

struct Outcome {
    DWORD code;
    std::string output;
};

Outcome RunChild(const std::string& arguments, const std::string& log)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const HANDLE out = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string line = "\"" + std::string(self) + "\" " + arguments;
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = out;
    start.hStdError = out;
    PROCESS_INFORMATION process = {};
    Outcome outcome = {~DWORD{0}, ""};
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
        if (WaitForSingleObject(process.hProcess, kRunTimeoutMs) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, 4);
            WaitForSingleObject(process.hProcess, INFINITE);
            outcome.output = "problem: the run did not end within 20 s\n";
        }
        GetExitCodeProcess(process.hProcess, &outcome.code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    outcome.output = ReadAll(log) + outcome.output;
    return outcome;
}

// The points of a function with `calls` calls that the sample tries: all
// of one or two; of more, the first, the middle and the last.
std::vector<long> SamplePoints(long calls)
{
    if (calls > 2)
        return {1, (calls + 1) / 2, calls};
    std::vector<long> points;
    for (long n = 1; n <= calls; ++n)
        points.push_back(n);
    return points;
}

int Sweep(const std::string& dll, bool all)
{
    const std::string folder = ExeFolder();
    const std::string log = folder + "fault_run.log";
    const Outcome counted = RunChild("\"" + dll + "\" count", log);
    std::fputs(counted.output.c_str(), stdout);
    if (counted.code != 0) {
        std::printf("the session without faults failed (exit %lu)\n", counted.code);
        return 1;
    }
    long counts[kCallCount] = {};
    std::istringstream lines(counted.output);
    for (std::string word, name; lines >> word;) {
        long n = 0;
        if (word == "calls" && lines >> name >> n && fault::CallIndex(name.c_str()) >= 0)
            counts[fault::CallIndex(name.c_str())] = n;
    }
    int runs = 0, failed = 0;
    long points = 0;
    for (int call = 0; call < kCallCount; ++call) {
        std::vector<long> tried = SamplePoints(counts[call]);
        if (all) {
            tried.clear();
            for (long n = 1; n <= counts[call]; ++n)
                tried.push_back(n);
        }
        points += 2 * counts[call];
        for (const long n : tried) {
            for (const char* mode : {"once", "on"}) {
                const Outcome outcome = RunChild("\"" + dll + "\" fail " + kCalls[call].name + " " +
                                                     std::to_string(n) + " " + mode, log);
                ++runs;
                if (outcome.code == 0)
                    continue;
                ++failed;
                std::printf("FAILED: %s #%ld %s (exit %lu)\n%s\n", kCalls[call].name, n,
                            std::strcmp(mode, "once") == 0 ? "once" : "and every later call", outcome.code,
                            outcome.output.c_str());
                std::fflush(stdout);
            }
        }
    }
    std::printf("fault sweep: %ld failure points in the session, %d runs (%s), %d failed\n", points, runs,
                all ? "all" : "sample", failed);
    return failed == 0 ? 0 : 1;
}

// The folder the settings live in is the user's (the registry says so), so
// that the application-data query is among the calls; only in a Wine prefix
// of this test's own, which no other test shares.
bool OwnPrefix()
{
    char prefix[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH) || !std::strstr(prefix, "wineprefix-fault")) {
        std::fprintf(stderr, "run with WINEPREFIX set to a prefix named wineprefix-fault\n");
        return false;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zentavio", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr))
        return false;
    const DWORD one = 1;
    RegSetValueExA(key, "StoreInUsersFolder", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);
    // Windows the display's manager does not handle: Wine then waits for no
    // word from a manager that Xvfb lacks (2 s per window destroyed). Read
    // when a process starts, so the runs after the first see it.
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr))
        return false;
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
    return true;
}

int Main(int argc, char** argv)
{
    if (argc < 3 || !OwnPrefix())
        return 2;
    const std::string dll = argv[1];
    const std::string mode = argv[2];
    if (mode == "sweep")
        return Sweep(dll, argc > 3 && std::string(argv[3]) == "all");

    AddVectoredExceptionHandler(1, ReportCrash);
    AddVectoredExceptionHandler(1, CountThrows);
    if (!WatchLoads()) {
        std::printf("problem: no loader notifications\n");
        return 2;
    }
    const Paths paths = PathsFor(ExeFolder());
    CopyFileA(dll.c_str(), paths.dll.c_str(), FALSE);
    fault::Plan plan;
    if (mode == "fail" && argc >= 6) {
        plan.call = fault::CallIndex(argv[3]);
        plan.at = std::atol(argv[4]);
        plan.onward = std::string(argv[5]) == "on";
    } else if (mode != "count") {
        return 2;
    }
    Run run(paths);
    run.Session(mode == "fail", plan);
    if (mode == "count") {
        for (int call = 0; call < kCallCount; ++call)
            std::printf("calls %s %ld\n", kCalls[call].name, run.calls[call]);
    }
    if (fault::FailedCalls() > 0)
        std::printf("failed %ld calls from %s; C++ exceptions raised in the DLL: %ld\n", fault::FailedCalls(),
                    fault::FirstFailureStep(), gDllThrows.load());
    std::fputs(run.problems.c_str(), stdout);
    std::fflush(stdout);
    return run.problems.empty() ? 0 : 1;
}

}  // namespace
}  // namespace zvk

int main(int argc, char** argv)
{
    return zvk::Main(argc, argv);
}
