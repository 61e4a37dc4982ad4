// Window framework: which module's resources (dialog templates, bitmaps) the
// user-interface code of the current thread finds, and whether code of the
// library runs at all. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace zvk::fw {

// The module this code is linked into (the plug-in DLL in the product).
HINSTANCE OwnModule();

// The module whose resources are used on this thread: the process's own
// executable unless a ModuleStateGuard is active.
HINSTANCE ResourceModule();

// The file name of a module without folder and extension, letter case kept.
std::string ModuleBaseName(HMODULE module);

// True while any thread is inside a call from outside into the library (an
// entry point, a window or hook procedure of ours): each of them holds a
// ModuleStateGuard. A thread the host killed inside one does not count.
bool LibraryCodeRunning();

// Told by the library's DllMain at DLL_PROCESS_DETACH, before the static
// objects go: a non-null reserved argument means the process is exiting.
// Its other threads are gone by then, killed wherever they were, perhaps
// inside the window system holding its locks; at exit the static objects
// and the entry points call no USER or GDI function and wait for nothing.
// ProcessExiting also asks the system, for calls from a DLL of the host's
// detached before this one.
void NoteDetach(bool processExit);
bool ProcessExiting();

// Makes OwnModule() the resource module for the guard's lifetime and puts the
// caller's back on every way out, an exception included. Every way into the
// library from outside holds one, first thing, so that the library knows
// when none of its code runs (see module_lifetime.h).
class ModuleStateGuard {
public:
    ModuleStateGuard();
    ~ModuleStateGuard();
    ModuleStateGuard(const ModuleStateGuard&) = delete;
    ModuleStateGuard& operator=(const ModuleStateGuard&) = delete;

private:
    HINSTANCE previous_;
    int slot_;  // this thread's count of calls in progress, or -1
};

}  // namespace zvk::fw
