// Each thread's record of its C++ exceptions: the library's own, so that a
// thread's first exception needs no memory (see exception_records.cpp).
#pragma once

namespace zvk {

// At DLL_PROCESS_ATTACH; false when the system has no thread-local slot
// left, and the library then does not load.
bool AttachExceptionRecords();
// At DLL_THREAD_DETACH: the ending thread's record goes back.
void ThreadEndsExceptionRecords();
// At DLL_PROCESS_DETACH.
void DetachExceptionRecords();

}  // namespace zvk
