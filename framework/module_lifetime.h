// Window framework: keeps the library in memory while code of ours may still
// run without the host knowing: a window of ours (its procedure is called for
// every message) or a modal loop of ours. A host that unloads the library
// with such a window open, or from inside such a loop, only lets go of its
// own reference; ours keeps the code where the window and the loop need it.
//
// Letting go of our reference cannot be done from our own code, which would
// then return into unmapped memory. So it is handed to a short-lived thread
// that waits until no thread runs code of the library and the thread that
// let go has left it, then releases the reference through
// FreeLibraryAndExitThread, which never returns. (Threads of ours hold the
// library in the same way: framework/threads.h.) Windows only.
#pragma once

namespace zvk::fw {

// One more reference to the library; false if none could be taken.
bool HoldLibrary();
// Lets go of one reference that HoldLibrary took, once it is safe.
void LetGoOfLibrary();

}  // namespace zvk::fw
