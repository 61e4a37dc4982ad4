// The UI thread, the host's own window, and the commands that open windows:
// window, wait, show, hostdialog.
#include "host/host_ui.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace zvkhost {
namespace {

constexpr UINT kRunMessage = WM_APP + 1;
constexpr int kHostTemplate = 5000;  // the host's own template of that id

const zvk::PluginDescriptor* gPlugin = nullptr;
HWND gUiWindow = nullptr;
HWND gHostWindow = nullptr;
DWORD gUiThreadId = 0;
std::thread gUiThread;

LRESULT CALLBACK UiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kRunMessage) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY && window == gHostWindow)
        gHostWindow = nullptr;
    return DefWindowProcA(window, message, wParam, lParam);
}

// The loop of a host that knows nothing of dialogs.
void UiThreadMain(HANDLE ready)
{
    gUiThreadId = GetCurrentThreadId();
    WNDCLASSA ui = {};
    ui.lpfnWndProc = UiWindowProc;
    ui.hInstance = GetModuleHandleA(nullptr);
    ui.lpszClassName = "ZvkHostUi";
    WNDCLASSA host = ui;
    host.lpfnWndProc = HostWindowProc;
    host.hCursor = LoadCursor(nullptr, IDC_ARROW);
    host.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    host.lpszClassName = "ZvkHostWindow";
    if (RegisterClassA(&ui) && RegisterClassA(&host))
        gUiWindow = CreateWindowExA(0, ui.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ui.hInstance, nullptr);
    SetEvent(ready);
    if (!gUiWindow)
        return;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

INT_PTR CALLBACK HostDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_CLOSE) {
        DestroyWindow(dialog);
        return TRUE;
    }
    (void)wParam;
    return FALSE;
}

// What a show did. An opening may take long on a loaded machine, so its
// time says nothing; the caption flash of a window already open sleeps
// 4 x 60 ms, which no load can shorten.
void ReportShow(bool wasOpen, bool isOpen, DWORD ms)
{
    if (!isOpen)
        std::printf("show: no window\n");
    else if (!wasOpen)
        std::printf("show: opened the window\n");
    else
        std::printf("show: the open window %s\n", ms >= 230 ? "flashed its caption" : "returned at once");
}

bool WindowLevelCommand(const std::vector<std::string>& words, std::string& error)
{
    const std::string& command = words[0];
    const size_t args = words.size() - 1;
    if (command == "window") {
        int r[4];
        if (args != 4 || !ParseNumber(words[1], r[0]) || !ParseNumber(words[2], r[1]) ||
            !ParseNumber(words[3], r[2]) || !ParseNumber(words[4], r[3])) {
            error = "usage: window X Y W H";
            return false;
        }
        bool made = false;
        OnUi([&] {
            if (gHostWindow) {
                made = SetWindowPos(gHostWindow, nullptr, r[0], r[1], r[2], r[3], SWP_NOZORDER | SWP_NOACTIVATE);
                return;
            }
            gHostWindow = CreateWindowExA(0, "ZvkHostWindow", "zvkhost", WS_OVERLAPPEDWINDOW | WS_VISIBLE, r[0], r[1],
                                          r[2], r[3], nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
            if (gHostWindow) {
                UpdateWindow(gHostWindow);
                SetForegroundWindow(gHostWindow);
                made = true;
            }
        });
        if (!made) {
            error = "cannot make or move the host window";
            return false;
        }
    } else if (command == "move") {
        // What a user dragging the caption achieves, also off the screen.
        int x = 0, y = 0;
        const HWND dialog = FindSettingsDialog();
        if (args != 2 || !ParseNumber(words[1], x) || !ParseNumber(words[2], y) || !dialog) {
            error = dialog ? "usage: move X Y" : "no dialog to move";
            return false;
        }
        OnUi([&] { SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE); });
        Settle();
    } else if (command == "wait") {
        int ms = 0;
        if (args != 1 || !ParseNumber(words[1], ms) || ms < 0) {
            error = "usage: wait MS";
            return false;
        }
        Sleep(static_cast<DWORD>(ms));
        Settle();
    } else if (command == "show") {
        if (args != 0) {
            error = "usage: show";
            return false;
        }
        DWORD took = 0;
        const bool wasOpen = FindSettingsDialog() != nullptr;
        OnUi([&] {
            const zvk::DialogParams params = {gHostWindow};
            const DWORD start = GetTickCount();
            gPlugin->showDialog(&params);
            took = GetTickCount() - start;
        });
        ReportShow(wasOpen, FindSettingsDialog() != nullptr, took);
        Settle();
    } else if (command == "hostdialog") {
        if (args != 0) {
            error = "usage: hostdialog";
            return false;
        }
        HWND dialog = nullptr;
        OnUi([&] {
            dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kHostTemplate), gHostWindow,
                                        HostDialogProc, 0);
            if (dialog)
                ShowWindow(dialog, SW_SHOW);
        });
        if (!dialog) {
            error = "cannot open the host's own template";
            return false;
        }
        Settle();
    }
    return true;
}

}  // namespace

bool StartUi(const zvk::PluginDescriptor* plugin)
{
    gPlugin = plugin;
    const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ready)
        return false;
    gUiThread = std::thread(UiThreadMain, ready);
    WaitForSingleObject(ready, INFINITE);
    CloseHandle(ready);
    if (!gUiWindow) {
        gUiThread.join();
        return false;
    }
    return true;
}

void StopUi()
{
    StopFrameThread();
    if (!gUiThread.joinable())
        return;
    PostThreadMessageA(gUiThreadId, WM_QUIT, 0, 0);
    gUiThread.join();
}

void OnUi(const std::function<void()>& work)
{
    if (GetCurrentThreadId() == gUiThreadId)
        work();
    else
        SendMessageA(gUiWindow, kRunMessage, 0, reinterpret_cast<LPARAM>(&work));
}

const zvk::PluginDescriptor& Plugin()
{
    return *gPlugin;
}

HWND HostWindow()
{
    return gHostWindow;
}

DWORD UiThreadId()
{
    return gUiThreadId;
}

namespace {

struct DialogSearch {
    HWND settings = nullptr;
    HWND about = nullptr;
    int settingsCount = 0;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM data)
{
    auto* found = reinterpret_cast<DialogSearch*>(data);
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) != "#32770")
        return TRUE;
    if (GetDlgItem(window, IDOK))
        found->about = found->about ? found->about : window;
    else if (GetWindow(window, GW_OWNER) == gHostWindow && ++found->settingsCount == 1)
        found->settings = window;
    return TRUE;
}

DialogSearch SearchDialogs()
{
    DialogSearch found;
    OnUi([&] { EnumThreadWindows(gUiThreadId, CollectDialog, reinterpret_cast<LPARAM>(&found)); });
    return found;
}

}  // namespace

HWND FindSettingsDialog()
{
    return SearchDialogs().settings;
}

HWND FindAboutBox()
{
    return SearchDialogs().about;
}

int CountSettingsDialogs()
{
    return SearchDialogs().settingsCount;
}

HWND FindTarget(const std::string& which)
{
    return which == "about" ? FindAboutBox() : FindSettingsDialog();
}

void Settle()
{
    // Input sent a moment ago may still be on its way into the queue.
    Sleep(20);
    for (int round = 0; round < 300; ++round) {
        DWORD pending = 0;
        OnUi([&] { pending = HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE)); });
        if (!pending)
            return;
        Sleep(10);
    }
}

bool ParseNumber(const std::string& text, int& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    value = static_cast<int>(parsed);
    return true;
}

bool IsWindowCommand(const std::string& command)
{
    return command == "window" || command == "move" || command == "wait" || command == "show" ||
           command == "hostdialog" ||
           command == "state" || IsInputCommand(command) || IsCaptureCommand(command) ||
           IsFrameThreadCommand(command);
}

bool WindowCommand(const std::vector<std::string>& words, std::string& error)
{
    const std::string& command = words[0];
    if (command == "state")
        return StateCommand(words, error);
    if (IsInputCommand(command))
        return InputCommand(words, error);
    if (IsCaptureCommand(command))
        return CaptureCommand(words, error);
    if (IsFrameThreadCommand(command))
        return FrameThreadCommand(words, error);
    return WindowLevelCommand(words, error);
}

}  // namespace zvkhost
