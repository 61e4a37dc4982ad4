#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <new>

#include "framework/threads.h"

namespace zvk::fw {
namespace {

struct Start {
    ThreadMain main;
    void* context;
};

void* ThreadEntry(void* raw)
{
    const Start start = *static_cast<Start*>(raw);
    delete static_cast<Start*>(raw);
    start.main(start.context);
    return nullptr;
}

struct EventState {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t wake = PTHREAD_COND_INITIALIZER;
    bool set = false;
};

}  // namespace

bool StartThread(ThreadMain main, void* context, ThreadHandle& thread)
{
    auto* start = new (std::nothrow) Start{main, context};
    auto* id = new (std::nothrow) pthread_t;
    if (!start || !id || pthread_create(id, nullptr, ThreadEntry, start) != 0) {
        delete start;
        delete id;
        return false;
    }
    thread.impl = id;
    return true;
}

void ReleaseThread(ThreadHandle& thread)
{
    auto* id = static_cast<pthread_t*>(thread.impl);
    if (!id)
        return;
    pthread_detach(*id);
    delete id;
    thread.impl = nullptr;
}

AutoResetEvent::AutoResetEvent() : impl_(new (std::nothrow) EventState) {}

AutoResetEvent::~AutoResetEvent()
{
    auto* event = static_cast<EventState*>(impl_);
    if (!event)
        return;
    pthread_cond_destroy(&event->wake);
    pthread_mutex_destroy(&event->mutex);
    delete event;
}

void AutoResetEvent::Wait()
{
    auto* event = static_cast<EventState*>(impl_);
    if (!event)
        return;
    pthread_mutex_lock(&event->mutex);
    while (!event->set)
        pthread_cond_wait(&event->wake, &event->mutex);
    event->set = false;
    pthread_mutex_unlock(&event->mutex);
}

void AutoResetEvent::Signal()
{
    auto* event = static_cast<EventState*>(impl_);
    if (!event)
        return;
    pthread_mutex_lock(&event->mutex);
    event->set = true;
    pthread_cond_signal(&event->wake);
    pthread_mutex_unlock(&event->mutex);
}

ThreadPriority CurrentThreadPriority()
{
    int policy = 0;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0)
        return {};
    return {param.sched_priority, policy};
}

void ApplyThreadPriority(const ThreadHandle& thread, ThreadPriority priority)
{
    const auto* id = static_cast<const pthread_t*>(thread.impl);
    if (!id)
        return;
    sched_param param{};
    param.sched_priority = priority.level;
    pthread_setschedparam(*id, priority.policy, &param);
}

bool SetCurrentThreadPriority(ThreadPriority priority)
{
    sched_param param{};
    param.sched_priority = priority.level;
    return pthread_setschedparam(pthread_self(), priority.policy, &param) == 0;
}

ThreadPriority LowerThreadPriority()
{
    // Any thread may move itself to the batch policy, no rights needed.
    return {0, SCHED_BATCH};
}

ThreadPriority NormalThreadPriority()
{
    return {0, SCHED_OTHER};
}

void SleepBriefly()
{
    const timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);
}

int ProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

bool ThreadIdGone(unsigned long)
{
    return false;
}

}  // namespace zvk::fw
