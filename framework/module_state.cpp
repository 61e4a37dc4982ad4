#include "framework/module_state.h"

#include "framework/threads.h"

#include <atomic>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace zvk::fw {
namespace {

// Per thread, like the host's own module state: a guard on one thread must
// not change what another thread's dialogs load. A TLS index of our own,
// given back at unload: a thread_local would take one per load and never
// give it back, and after about a thousand loads the process has none left.
class ResourceModuleSlot {
public:
    ResourceModuleSlot() : index_(::TlsAlloc()) {}
    ~ResourceModuleSlot()
    {
        if (index_ != TLS_OUT_OF_INDEXES)
            ::TlsFree(index_);
        // A guard in a later destructor must not read the freed index.
        index_ = TLS_OUT_OF_INDEXES;
    }
    ResourceModuleSlot(const ResourceModuleSlot&) = delete;
    ResourceModuleSlot& operator=(const ResourceModuleSlot&) = delete;

    bool Exists() const { return index_ != TLS_OUT_OF_INDEXES; }
    HINSTANCE Get() const
    {
        return index_ == TLS_OUT_OF_INDEXES ? nullptr : static_cast<HINSTANCE>(::TlsGetValue(index_));
    }
    void Set(HINSTANCE module) const
    {
        if (index_ != TLS_OUT_OF_INDEXES)
            ::TlsSetValue(index_, module);
    }

private:
    DWORD index_;
};

const ResourceModuleSlot gResourceModule;

// Calls from outside into the library now in progress, counted per thread:
// a thread the host killed inside a call never leaves it, and only the
// system can tell that it is gone. A thread takes a slot at its outermost
// entry and gives it back when it leaves; threads beyond the slots are
// counted in one sum, which never forgets them.
struct EntrySlot {
    std::atomic<DWORD> thread{0};
    std::atomic<long> depth{0};
};
constexpr unsigned kEntrySlots = 64;
EntrySlot gEntrySlots[kEntrySlots];
std::atomic<long> gUnslottedEntries{0};

// The calling thread's slot, taken if it has none; -1 when all are taken.
// At a thread's outermost entry a slot already marked with its id is a dead
// thread's whose id the system gave again: its count starts afresh.
int SlotOf(DWORD thread, bool outermost)
{
    const unsigned first = (thread >> 2) % kEntrySlots;  // ids are multiples of 4
    for (unsigned i = 0; i < kEntrySlots; ++i) {
        EntrySlot& slot = gEntrySlots[(first + i) % kEntrySlots];
        DWORD holder = slot.thread.load();
        if (holder == thread || (holder == 0 && slot.thread.compare_exchange_strong(holder, thread))) {
            if (outermost)
                slot.depth.store(0);
            return static_cast<int>((first + i) % kEntrySlots);
        }
    }
    // All taken: one of a thread that died inside a call is taken over.
    for (EntrySlot& slot : gEntrySlots) {
        DWORD holder = slot.thread.load();
        if (holder != 0 && ThreadIdGone(holder) && slot.thread.compare_exchange_strong(holder, thread)) {
            slot.depth.store(0);
            return static_cast<int>(&slot - gEntrySlots);
        }
    }
    return -1;
}

std::atomic<bool> gProcessExiting{false};

// Looked up at load: later, the lookup itself may wait for the loader lock.
using ShutdownQuery = BOOLEAN(WINAPI*)();
const ShutdownQuery gShutdownInProgress = reinterpret_cast<ShutdownQuery>(
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlDllShutdownInProgress")));

}  // namespace

HINSTANCE OwnModule()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

HINSTANCE ResourceModule()
{
    // Without a slot (the process had no TLS index left at load) only our
    // own code asks, from inside a guard: the host's templates are never
    // ours to show.
    if (!gResourceModule.Exists())
        return LibraryCodeRunning() ? OwnModule() : GetModuleHandleA(nullptr);
    const HINSTANCE module = gResourceModule.Get();
    return module ? module : GetModuleHandleA(nullptr);
}

bool LibraryCodeRunning()
{
    if (gUnslottedEntries.load() != 0)
        return true;
    for (const EntrySlot& slot : gEntrySlots) {
        const DWORD thread = slot.thread.load();
        if (thread != 0 && slot.depth.load() > 0 && !ThreadIdGone(thread))
            return true;
    }
    return false;
}

void NoteDetach(bool processExit)
{
    gProcessExiting.store(processExit);
}

bool ProcessExiting()
{
    if (gProcessExiting.load())
        return true;
    // A DLL of the host's detached before us may call in at exit: our own
    // DllMain has not been told yet, but the system knows.
    return gShutdownInProgress && gShutdownInProgress();
}

std::string ModuleBaseName(HMODULE module)
{
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    std::string name(path, length < MAX_PATH ? length : MAX_PATH);
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

ModuleStateGuard::ModuleStateGuard()
{
    // Counted before anything of ours runs: a thread letting go of the
    // library takes a count of zero, with this thread outside our code, as
    // safe to unmap. Only inside a guard is our module this thread's
    // resource module: without it, this is the thread's outermost entry.
    previous_ = gResourceModule.Get();
    slot_ = SlotOf(::GetCurrentThreadId(), gResourceModule.Exists() && previous_ != OwnModule());
    if (slot_ < 0)
        gUnslottedEntries.fetch_add(1);
    else
        gEntrySlots[slot_].depth.fetch_add(1);
    gResourceModule.Set(OwnModule());
}

ModuleStateGuard::~ModuleStateGuard()
{
    gResourceModule.Set(previous_);
    if (slot_ < 0) {
        gUnslottedEntries.fetch_sub(1);
    } else if (gEntrySlots[slot_].depth.fetch_sub(1) == 1) {
        gEntrySlots[slot_].thread.store(0);
    }
}

}  // namespace zvk::fw
