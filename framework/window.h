// Window framework: the least of a dialog-class layer that the settings
// window needs, as thin wrappers over Win32. A wrapper holds only a window
// handle; each method is one message or one call. Windows only.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstddef>

#include "framework/module_lifetime.h"

namespace zvk::fw {

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    void Attach(HWND window) { m_hWnd = window; }
    HWND Detach()
    {
        HWND window = m_hWnd;
        m_hWnd = nullptr;
        return window;
    }
    HWND GetSafeHwnd() const { return m_hWnd; }

    virtual BOOL DestroyWindow() { return ::DestroyWindow(m_hWnd); }
    BOOL ShowWindow(int command) const { return ::ShowWindow(m_hWnd, command); }
    HWND SetFocus() const { return ::SetFocus(m_hWnd); }
    BOOL EnableWindow(BOOL enable) const { return ::EnableWindow(m_hWnd, enable); }
    BOOL SetWindowText(const char* text) const { return ::SetWindowTextA(m_hWnd, text); }
    BOOL GetWindowRect(RECT* rect) const { return ::GetWindowRect(m_hWnd, rect); }
    BOOL GetClientRect(RECT* rect) const { return ::GetClientRect(m_hWnd, rect); }
    BOOL SetWindowPos(HWND after, int x, int y, int cx, int cy, UINT flags) const
    {
        return ::SetWindowPos(m_hWnd, after, x, y, cx, cy, flags);
    }
    BOOL FlashWindow(BOOL invert) const { return ::FlashWindow(m_hWnd, invert); }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageA(m_hWnd, message, wParam, lParam);
    }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    // WM_TIMER to this window every ms; it ends with the window.
    UINT_PTR SetTimer(UINT_PTR id, UINT ms) const { return ::SetTimer(m_hWnd, id, ms, nullptr); }

    HWND m_hWnd = nullptr;
};

class CButton : public CWnd {
public:
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int check) const { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
};

class CStatic : public CWnd {
public:
    HBITMAP SetBitmap(HBITMAP bitmap) const
    {
        return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
    }
};

class CSliderCtrl : public CWnd {
public:
    int GetPos() const { return static_cast<int>(SendMessage(TBM_GETPOS)); }
    void SetPos(int position) const { SendMessage(TBM_SETPOS, TRUE, position); }
    void SetRange(int low, int high, BOOL redraw) const { SendMessage(TBM_SETRANGE, redraw, MAKELPARAM(low, high)); }
    int SetPageSize(int size) const { return static_cast<int>(SendMessage(TBM_SETPAGESIZE, 0, size)); }
};

// Binds dialog controls to their wrappers while the dialog initialises.
class DataExchange {
public:
    explicit DataExchange(HWND dialog) : dialog_(dialog) {}
    void Control(int id, CWnd& control) const { control.Attach(::GetDlgItem(dialog_, id)); }

private:
    HWND dialog_;
};

class CDialog;

// One entry of a dialog's static message map: the message (and, for
// WM_COMMAND, the control id) and a thunk that unpacks the parameters and
// calls the typed member handler.
struct MessageEntry {
    UINT message;
    UINT commandId;
    LRESULT (*call)(CDialog& dialog, WPARAM wParam, LPARAM lParam);
};

struct MessageMap {
    const MessageEntry* entries;
    size_t count;
};

template <size_t N>
constexpr MessageMap MapOf(const MessageEntry (&entries)[N])
{
    return {entries, N};
}

namespace detail {
template <class T>
struct MemberOf;
template <class D, class R, class... A>
struct MemberOf<R (D::*)(A...)> {
    using Class = D;
};
template <auto F>
using ClassOf = typename MemberOf<decltype(F)>::Class;
}  // namespace detail

// A button click (BN_CLICKED) from control id: void handler().
template <auto F>
constexpr MessageEntry OnCommand(UINT id)
{
    return {WM_COMMAND, id, [](CDialog& d, WPARAM, LPARAM) -> LRESULT {
                (static_cast<detail::ClassOf<F>&>(d).*F)();
                return 0;
            }};
}

// A message without parameters (WM_CLOSE, WM_DESTROY): void handler().
template <auto F>
constexpr MessageEntry OnMessage(UINT message)
{
    return {message, 0, [](CDialog& d, WPARAM, LPARAM) -> LRESULT {
                (static_cast<detail::ClassOf<F>&>(d).*F)();
                return 0;
            }};
}

// WM_HSCROLL: void handler(UINT code, UINT position, HWND scrollBar).
template <auto F>
constexpr MessageEntry OnHScroll()
{
    return {WM_HSCROLL, 0, [](CDialog& d, WPARAM w, LPARAM l) -> LRESULT {
                (static_cast<detail::ClassOf<F>&>(d).*F)(LOWORD(w), HIWORD(w), reinterpret_cast<HWND>(l));
                return 0;
            }};
}

// A private message with its two parameters: LRESULT handler(WPARAM, LPARAM).
template <auto F>
constexpr MessageEntry OnPrivateMessage(UINT message)
{
    return {message, 0, [](CDialog& d, WPARAM w, LPARAM l) -> LRESULT {
                return (static_cast<detail::ClassOf<F>&>(d).*F)(w, l);
            }};
}

// A dialog from a template in the resource module of the current module
// state: modeless with Create, modal with DoModal. Messages found in the
// derived class's map go to its handlers; a handler that wants the system's
// own handling as well calls Default() on its way out.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId) : templateId_(templateId) {}
    ~CDialog() override;

    BOOL Create(CWnd* parent);
    INT_PTR DoModal(HWND owner);

    // The system destroys a thread's windows when the thread ends, without
    // a last message to their procedure. When that befell the window, this
    // lets go of what its end would have let go (the derived dialog's share
    // through OnWindowLost, the keyboard hook, the library reference) and
    // forgets it: true then. False while the window exists, or without one.
    bool ForgetLostWindow();

protected:
    virtual MessageMap GetMessageMap() const { return {nullptr, 0}; }
    virtual void DoDataExchange(DataExchange&) {}
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { ::EndDialog(m_hWnd, IDOK); }
    virtual void OnCancel() { ::EndDialog(m_hWnd, IDCANCEL); }
    // After the window's last message; the object itself lives on.
    virtual void PostNcDestroy() {}
    // What WM_DESTROY would have done, for a window lost with its thread.
    virtual void OnWindowLost() {}
    // Hands the message being handled to the system's dialog handling too.
    void Default() { wantDefault_ = true; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    const MessageEntry* Find(UINT message, WPARAM wParam) const;
    void EndOfWindow(HWND window);

    UINT templateId_;
    bool modeless_ = false;
    bool wantDefault_ = false;
    // From the first message to the last (framework/module_lifetime.h).
    LibraryReference library_;
    // From the first message to the end, which only one of the last message
    // and ForgetLostWindow may claim.
    std::atomic<bool> open_{false};
};

}  // namespace zvk::fw
