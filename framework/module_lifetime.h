// Window framework: the library's own lifetime, in one place. Windows only.
//
// A host may unload the library while code of ours still runs without its
// knowing: a thread of ours, a window of ours (its procedure is called for
// every message) or a modal loop of ours. So each of them holds a reference
// to the library, and a host that unloads it then only lets go of its own.
// A reference is never let go from code that returns into the library: the
// last one would unmap the code under it.
//
// Everything that holds the library, and when each lets go:
// - each thread of ours (the slice workers, a window's poster; see
//   framework/threads.h): from before it is created until it leaves through
//   FreeLibraryAndExitThread, which never returns;
// - each open window of ours (the settings window; the About box, whose
//   modal loop runs inside ours): from WM_INITDIALOG until its last message
//   (framework/dialog.cpp); a short-lived thread then waits until no thread
//   runs code of the library and the window's thread has left it, and lets
//   go through FreeLibraryAndExitThread (LetGoWhenLeft).
// Nothing else holds it. What the library owns (its state, the tables, the
// runtime's reserve) goes when it unloads, but never at process exit: the
// host's other threads are dead then, killed anywhere, perhaps holding the
// heap or the window system's locks, and the system takes everything back.
//
// Hence no thread of ours is ever waited for (there is no join): a thread's
// exit takes the loader lock, which the caller may hold (a DllMain of the
// host's). A thread that must end is told to, and frees what it shares with
// others on its way out. What the entry points promise a host on top of
// this (any thread, any order, threads killed anywhere) is in
// plugin/plugin_state.h.
#pragma once

namespace zvk::fw {

// One reference to the library; move-only. Let go in one of three ways
// below. One still held when destroyed stays taken: the library then never
// unloads, which is safe, where letting go could unmap code under its caller.
class LibraryReference {
public:
    LibraryReference() = default;
    ~LibraryReference() = default;
    LibraryReference(LibraryReference&& other) noexcept : module_(other.module_) { other.module_ = nullptr; }
    LibraryReference& operator=(LibraryReference&& other) noexcept
    {
        void* const held = module_;
        module_ = other.module_;
        other.module_ = held;
        return *this;
    }
    LibraryReference(const LibraryReference&) = delete;
    LibraryReference& operator=(const LibraryReference&) = delete;

    // One more reference; empty if the system gave none.
    static LibraryReference Take();
    explicit operator bool() const { return module_ != nullptr; }

    // Lets go and ends the calling thread, without returning into the
    // library: how a thread of ours ends.
    [[noreturn]] void LeaveThread();
    // Lets go at once of a reference whose thread never started: its taker
    // is inside a call that a reference of the host's covers.
    void ReleaseUnused();

private:
    friend void LetGoWhenLeft(LibraryReference reference);
    void* module_ = nullptr;
};

// A window's reference, let go once no code of the library runs and the
// calling thread has left it. Kept for good if no thread can do that.
void LetGoWhenLeft(LibraryReference reference);

}  // namespace zvk::fw
