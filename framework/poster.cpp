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

Poster::~Poster() = default;

bool Poster::Start()
{
    if (generation_.load() & 1)
        return true;
    if (!wake_ && !wake_.emplace().IsValid()) {
        wake_.reset();
        return false;
    }
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
    wake_->Signal();
}

void Poster::Post(HWND window, UINT message, WPARAM wParam)
{
    if (!(generation_.load() & 1))
        return;
    message_.store(message, std::memory_order_relaxed);
    wParam_.store(wParam, std::memory_order_relaxed);
    window_.store(window, std::memory_order_release);
    wake_->Signal();
}

void Poster::Run(void* context)
{
    const Launch start = *static_cast<Launch*>(context);
    delete static_cast<Launch*>(context);
    Poster* const self = start.self;
    const unsigned generation = start.generation;
    for (;;) {
        self->wake_->Wait();
        if (const HWND window = self->window_.exchange(nullptr, std::memory_order_acquire))
            ::PostMessageA(window, self->message_.load(std::memory_order_relaxed),
                           self->wParam_.load(std::memory_order_relaxed), 0);
        if (self->generation_.load() != generation) {
            // A thread started after the stop may be waiting on the same
            // event: what woke this one may have been meant for it.
            self->wake_->Signal();
            return;
        }
    }
}

}  // namespace zvk::fw
