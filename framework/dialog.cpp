#include "framework/dialog_keys.h"
#include "framework/module_lifetime.h"
#include "framework/module_state.h"
#include "framework/window.h"

#include <utility>

namespace zvk::fw {

CDialog::~CDialog()
{
    // A window holds the library, so this runs with a window open only at
    // process exit; the window must not call into a destroyed object.
    if (m_hWnd) {
        ::SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        if (modeless_)
            DialogKeys::Remove(m_hWnd);
    }
}

BOOL CDialog::Create(CWnd* parent)
{
    modeless_ = true;
    const HWND window = ::CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(templateId_),
                                             parent ? parent->m_hWnd : nullptr, DialogProc,
                                             reinterpret_cast<LPARAM>(this));
    return window != nullptr;
}

INT_PTR CDialog::DoModal(HWND owner)
{
    modeless_ = false;
    return ::DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(templateId_), owner, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Handlers run from the host's message loop, outside any entry point:
    // whatever they load (the About box) must come from this library.
    ModuleStateGuard guard;
    try {
        return Route(window, message, wParam, lParam);
    } catch (...) {
        // Memory ran out in a handler (std::bad_alloc, the only exception
        // our code raises): a window that could not initialise does not
        // open; any other message is dropped.
        if (message == WM_INITDIALOG) {
            const auto* self = reinterpret_cast<CDialog*>(lParam);
            if (self->modeless_)
                ::DestroyWindow(window);
            else
                ::EndDialog(window, -1);
        }
        return FALSE;
    }
}

INT_PTR CDialog::Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(window, DWLP_USER));
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->open_.store(true);
        self->library_ = LibraryReference::Take();
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->Attach(window);
        if (self->modeless_)
            DialogKeys::Add(window);
        DataExchange exchange(window);
        self->DoDataExchange(exchange);
        return self->OnInitDialog();
    }
    if (!self)
        return FALSE;
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(window, DWLP_USER, 0);
        if (self->open_.exchange(false))
            self->EndOfWindow(window);
        return FALSE;
    }
    return self->Dispatch(message, wParam, lParam);
}

bool CDialog::ForgetLostWindow()
{
    const HWND window = m_hWnd;
    if (!window || ::IsWindow(window) || !open_.exchange(false))
        return false;
    OnWindowLost();
    EndOfWindow(window);
    return true;
}

void CDialog::EndOfWindow(HWND window)
{
    if (modeless_)
        DialogKeys::Remove(window);
    Detach();
    PostNcDestroy();
    LetGoWhenLeft(std::move(library_));
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (const MessageEntry* entry = Find(message, wParam)) {
        wantDefault_ = false;
        const LRESULT result = entry->call(*this, wParam, lParam);
        if (wantDefault_)
            return FALSE;
        ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
    // The dialog keys: Enter and Esc arrive as commands 1 and 2.
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}

const MessageEntry* CDialog::Find(UINT message, WPARAM wParam) const
{
    const MessageMap map = GetMessageMap();
    for (size_t i = 0; i < map.count; ++i) {
        const MessageEntry& entry = map.entries[i];
        if (entry.message != message)
            continue;
        if (message != WM_COMMAND || (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == entry.commandId))
            return &entry;
    }
    return nullptr;
}

}  // namespace zvk::fw
