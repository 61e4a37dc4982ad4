// A small host for the DLL as a guest in its process, shared by the guest
// tests and the fault-injection host: the DLL loaded with LoadLibrary, the
// host's UI thread with its window and plain message loop, and a vectored
// handler that turns an access violation in the DLL's code (mapped or not)
// into a report with its address.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "plugin/host_records.h"
#include "resources/resource_ids.h"

namespace zvk {

constexpr UINT kRunOnUi = WM_APP + 1;

// Where the DLL under test is mapped, for the crash report.
inline std::atomic<uintptr_t> gDllBase{0};
inline std::atomic<uintptr_t> gDllSize{0};

// Reports an exception with where it happened and what it touched, and
// ends the process.
[[noreturn]] inline void ReportAndEnd(const EXCEPTION_RECORD& record, const char* where)
{
    const auto address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
    char module[MAX_PATH] = "";
    HMODULE handle = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(address), &handle))
        GetModuleFileNameA(handle, module, sizeof module);
    std::fprintf(stderr, "\nFATAL: exception 0x%08lx at 0x%llx (%s %s), thread %lu", record.ExceptionCode,
                 static_cast<unsigned long long>(address), where, module, GetCurrentThreadId());
    if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2)
        std::fprintf(stderr, ", %s 0x%llx", record.ExceptionInformation[0] ? "writing" : "reading",
                     static_cast<unsigned long long>(record.ExceptionInformation[1]));
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    ExitProcess(3);
}

inline LONG CALLBACK ReportCrash(EXCEPTION_POINTERS* info)
{
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_ILLEGAL_INSTRUCTION &&
        code != EXCEPTION_PRIV_INSTRUCTION)
        return EXCEPTION_CONTINUE_SEARCH;
    const auto address = reinterpret_cast<uintptr_t>(info->ExceptionRecord->ExceptionAddress);
    HMODULE module = nullptr;
    const bool mapped = GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                           reinterpret_cast<LPCSTR>(address), &module);
    const bool inDll = address - gDllBase.load() < gDllSize.load();
    // Faults the system raises and handles inside its own libraries are
    // not ours to judge; one nobody handles ends up below.
    if (mapped && !inDll)
        return EXCEPTION_CONTINUE_SEARCH;
    ReportAndEnd(*info->ExceptionRecord,
                 inDll ? (mapped ? "in the DLL" : "in the DLL's unloaded code") : "in no module");
}

// A fault nobody handled, wherever it happened (a system function the DLL
// called, say): reported, instead of a debugger started for no one.
inline LONG WINAPI ReportUnhandled(EXCEPTION_POINTERS* info)
{
    ReportAndEnd(*info->ExceptionRecord, "unhandled, in");
}

inline std::string ExeFolder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// The DLL loaded as a host loads it: by path, both exports by name.
class Guest {
public:
    explicit Guest(const std::string& path)
    {
        module_ = LoadLibraryA(path.c_str());
        if (!module_)
            return;
        MODULEINFO info = {};
        GetModuleInformation(GetCurrentProcess(), module_, &info, sizeof info);
        gDllBase = reinterpret_cast<uintptr_t>(info.lpBaseOfDll);
        gDllSize = info.SizeOfImage;
        const auto pr = reinterpret_cast<const PluginDescriptor* (*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_, "Zentavio_Plugin_PR")));
        if (pr)
            d = *pr();
    }
    bool Loaded() const { return module_ && d.init; }
    // The host's own reference goes; the library may stay while it holds itself.
    void Unload()
    {
        if (module_)
            FreeLibrary(module_);
        module_ = nullptr;
    }

    void Init() const
    {
        const InitParams params = {0, nullptr};
        d.init(&params);
    }
    void Format(int32_t width, int32_t height, int32_t colourFormat, int32_t yuvVariant = 0) const
    {
        const FrameFormat format = {width, height, 0, colourFormat, yuvVariant};
        d.setFormat(&format);
    }
    int32_t Frame(int64_t section, uint8_t* pixels) const
    {
        SectionInfo info = {static_cast<int32_t>(section & 0xFFFFFFFF), static_cast<int32_t>(section >> 32), 0, {0}};
        FrameParams params = {};
        params.pixels = pixels;
        params.section = &info;
        return d.process(&params);
    }

    PluginDescriptor d = {};

private:
    HMODULE module_ = nullptr;
};

inline bool ModuleMapped(const std::string& name)
{
    return GetModuleHandleA((name + ".dll").c_str()) != nullptr;
}

// Waits up to ms for the library to leave the process.
inline bool UnloadsWithin(const std::string& name, DWORD ms)
{
    const DWORD start = GetTickCount();
    while (ModuleMapped(name)) {
        if (GetTickCount() - start > ms)
            return false;
        Sleep(10);
    }
    return true;
}

// The settings window among a thread's windows: the #32770 with the red
// slider; with about, the About box: the #32770 with an OK button and no
// slider.
struct DialogSearch {
    bool about;
    HWND found;
};

inline BOOL CALLBACK VisitForDialog(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<DialogSearch*>(lParam);
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) != "#32770")
        return TRUE;
    const bool about = GetDlgItem(window, IDOK) != nullptr && GetDlgItem(window, IDC_SLIDER_RED) == nullptr;
    if (about != search->about)
        return TRUE;
    search->found = window;
    return FALSE;
}

inline HWND DialogOf(DWORD thread, bool about = false)
{
    DialogSearch search = {about, nullptr};
    EnumThreadWindows(thread, VisitForDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The host's UI thread: a top-level window and a plain message loop, as a
// host that knows nothing of dialogs has. Run() executes a call on it
// through SendMessage, which every message loop delivers, modal ones too.
class UiThread {
public:
    UiThread()
    {
        thread_ = CreateThread(nullptr, 0, Start, this, 0, nullptr);
        while (!window_.load())
            Sleep(1);
    }
    ~UiThread()
    {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }

    void Run(const std::function<void()>& call) const
    {
        SendMessageA(window_, kRunOnUi, 0, reinterpret_cast<LPARAM>(&call));
    }
    // Posted: returns at once, also while the UI thread is busy.
    void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        PostMessageA(window_, message, wParam, lParam);
    }
    HWND Host() const { return window_; }
    DWORD Id() const { return threadId_; }
    HANDLE Handle() const { return thread_; }

    // The settings window: the #32770 the host window owns; the About box:
    // the #32770 with an OK button.
    HWND Dialog() const { return Find(false); }
    HWND About() const { return Find(true); }
    // Lets the thread pump its messages for ms.
    void Pump(DWORD ms) const
    {
        Run([ms] {
            const DWORD start = GetTickCount();
            MSG msg;
            while (GetTickCount() - start < ms) {
                while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
                Sleep(5);
            }
        });
    }

    // What the host does on WM_CLOSE of its window, when set.
    std::function<void()> onClose;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<UiThread*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == kRunOnUi) {
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return 0;
        }
        if (message == WM_CLOSE && self && self->onClose) {
            self->onClose();
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    static DWORD WINAPI Start(void* self)
    {
        static_cast<UiThread*>(self)->Loop();
        return 0;
    }
    void Loop()
    {
        threadId_ = GetCurrentThreadId();
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ZvkGuestHost";
        RegisterClassA(&wc);
        HWND window = CreateWindowA("ZvkGuestHost", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 640, 480,
                                    nullptr, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        window_ = window;
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (IsWindow(window))
            DestroyWindow(window);
    }

    HWND Find(bool about) const { return DialogOf(threadId_, about); }

    HANDLE thread_ = nullptr;
    std::atomic<HWND> window_{nullptr};
    DWORD threadId_ = 0;
};

inline bool WaitFor(const std::function<bool()>& condition, DWORD ms)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > ms)
            return false;
        Sleep(5);
    }
    return true;
}

inline void ShowDialog(const Guest& guest, const UiThread& ui)
{
    const HWND host = ui.Host();
    ui.Run([&guest, host] {
        const DialogParams params = {host};
        guest.d.showDialog(&params);
    });
}

inline void ClickOnUi(const UiThread& ui, HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    ui.Pump(50);
}

}  // namespace zvk
