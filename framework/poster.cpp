#include "framework/poster.h"

#include <new>

#include "framework/threads.h"

namespace zvk::fw {

// What a thread is started with: the generation it belongs to, fixed before
// it runs, so that a thread slow to start never takes a later one's place.
struct Poster::Launch {
    Poster* self;
    unsigned generation;
};

Poster::~Poster()
{
    if (wake_)
        ::CloseHandle(wake_);
}

bool Poster::Start()
{
    if (generation_.load() & 1)
        return true;
    if (!wake_ && !(wake_ = ::CreateEventA(nullptr, FALSE, FALSE, nullptr)))
        return false;
    auto* start = new (std::nothrow) Launch{this, generation_.fetch_add(1) + 1};
    ThreadHandle thread;
    if (!start || !StartThread(Run, start, thread)) {
        delete start;
        generation_.fetch_add(1);
        return false;
    }
    // It ends by itself after Stop, holding the library until then.
    ReleaseThread(thread);
    return true;
}

void Poster::Stop()
{
    if (!(generation_.load() & 1))
        return;
    generation_.fetch_add(1);
    ::SetEvent(wake_);
}

void Poster::Post(HWND window, UINT message, WPARAM wParam)
{
    if (!(generation_.load() & 1))
        return;
    message_.store(message, std::memory_order_relaxed);
    wParam_.store(wParam, std::memory_order_relaxed);
    window_.store(window, std::memory_order_release);
    ::SetEvent(wake_);
}

void Poster::Run(void* context)
{
    const Launch start = *static_cast<Launch*>(context);
    delete static_cast<Launch*>(context);
    Poster* const self = start.self;
    const unsigned generation = start.generation;
    for (;;) {
        ::WaitForSingleObject(self->wake_, INFINITE);
        if (const HWND window = self->window_.exchange(nullptr, std::memory_order_acquire))
            ::PostMessageA(window, self->message_.load(std::memory_order_relaxed),
                           self->wParam_.load(std::memory_order_relaxed), 0);
        if (self->generation_.load() != generation) {
            // A thread started after the stop may be waiting on the same
            // event: what woke this one may have been meant for it.
            ::SetEvent(self->wake_);
            return;
        }
    }
}

}  // namespace zvk::fw
