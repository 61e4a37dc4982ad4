#include "framework/dialog_keys.h"

#include "framework/module_state.h"

namespace zvk::fw {
namespace {

// The plug-in has one modeless dialog; its thread is the one that created it.
HWND gDialog = nullptr;
HHOOK gHook = nullptr;

LRESULT CALLBACK GetMessageHook(int code, WPARAM removal, LPARAM lParam)
{
    ModuleStateGuard guard;
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && removal == PM_REMOVE && gDialog && msg->message >= WM_KEYFIRST &&
        msg->message <= WM_KEYLAST && (msg->hwnd == gDialog || ::IsChild(gDialog, msg->hwnd)) &&
        ::IsDialogMessageA(gDialog, msg)) {
        msg->message = WM_NULL;
        msg->wParam = 0;
        msg->lParam = 0;
    }
    return ::CallNextHookEx(gHook, code, removal, lParam);
}

}  // namespace

void DialogKeys::Add(HWND dialog)
{
    gDialog = dialog;
    if (!gHook)
        gHook = ::SetWindowsHookExA(WH_GETMESSAGE, GetMessageHook, nullptr, ::GetCurrentThreadId());
}

void DialogKeys::Remove(HWND dialog)
{
    if (dialog != gDialog)
        return;
    gDialog = nullptr;
    if (gHook) {
        ::UnhookWindowsHookEx(gHook);
        gHook = nullptr;
    }
}

}  // namespace zvk::fw
