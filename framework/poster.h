// Window framework: posts a window message from a thread of its own, for a
// caller that must never wait. Posting takes the system's window locks,
// which another thread (the window's own, handling its messages) may hold
// while it is descheduled; setting an event takes none. Requests coalesce:
// one pending message at a time, the last one asked for. Windows only.
#pragma once

#include <windows.h>

#include <atomic>
#include <optional>

#include "framework/threads.h"

namespace zvk::fw {

class Poster {
public:
    Poster() = default;
    // No thread can be running here: it holds the library.
    ~Poster();
    Poster(const Poster&) = delete;
    Poster& operator=(const Poster&) = delete;

    // Starts the thread unless it runs already; not on the frame path.
    bool Start();
    // Asks the thread to end; it lets go of the library by itself.
    void Stop();
    // Never waits. Without a running thread (the window has just closed, or
    // its thread could not start) the request is dropped: posting here would
    // take the window system's locks.
    void Post(HWND window, UINT message, WPARAM wParam);

private:
    struct Launch;
    static void Run(void* start);

    std::optional<AutoResetEvent> wake_;  // made at the first Start
    std::atomic<unsigned> generation_{0};  // odd while a thread should run
    std::atomic<HWND> window_{nullptr};
    std::atomic<UINT> message_{0};
    std::atomic<WPARAM> wParam_{0};
};

}  // namespace zvk::fw
