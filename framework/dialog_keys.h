// Keyboard navigation (Tab, arrows, mnemonics) for modeless dialogs inside a
// message loop that is not ours. The host's loop never calls
// IsDialogMessage, so while a modeless dialog exists a message hook on its
// thread does: it offers every keyboard message that is about to be taken
// from the queue to IsDialogMessage and, when the dialog consumed it, turns
// it into WM_NULL so the host's loop dispatches nothing. Windows only.
#pragma once

#include <windows.h>

namespace zvk::fw {

class DialogKeys {
public:
    // Called by CDialog when a modeless dialog window comes and goes; the
    // hook exists on the window's thread while the window does.
    static void Add(HWND dialog);
    static void Remove(HWND dialog);
};

}  // namespace zvk::fw
