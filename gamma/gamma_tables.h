// Gamma engine: the per-channel lookup tables and their builder.
// Portable code; may call only the C++ standard library.
#pragma once

#include <atomic>
#include <cstdint>

namespace zvk {

enum Channel { kRed = 0, kGreen = 1, kBlue = 2 };

// Change of one packed YUV word {Y0, U, Y1, V} caused by one channel's correction.
struct YuvDeltaEntry {
    int16_t dY0;
    int16_t dU;
    int16_t dY1;  // always equal to dY0
    int16_t dV;
};
static_assert(sizeof(YuvDeltaEntry) == 8, "a delta entry is four int16");

// One complete set of tables: red, green and blue blocks of 256 entries each.
struct alignas(64) TableSet {
    int32_t lut[768];
    YuvDeltaEntry yuvDelta[768];
};
static_assert(sizeof(TableSet) == 3072 + 6144, "tables are 3072 + 6144 bytes");

// Smallest gamma the dialog offers; also stands in for a gamma of 0 or below,
// which a settings file can hold but the power function cannot take.
constexpr int32_t kMinGamma = 10;
constexpr int32_t kMaxGamma = 1000;
constexpr int32_t kIdentityGamma = 100;

// Rewrites entries 256*channel .. 256*channel+255 of both tables from a gamma
// in hundredths. The other channels' entries are left alone.
void BuildChannel(TableSet& tables, int channel, int32_t gamma);

// The tables the frame path corrects with: allocated zeroed at the first
// Init and kept until the library unloads (a later Init or a Close never
// frees or clears them: a frame or the window's thread may be reading or
// building them at that moment), rebuilt one channel at a time while frames
// keep being corrected.
//
// A frame must see one whole set, and Process must never wait for the
// dialog's thread. So the tables are a small pool of whole sets: a reader
// takes the published set with one atomic add (it never retries, never
// waits), and a writer never touches a set that is published or held. A
// rebuild copies the published set into a free slot, rebuilds the channel
// there and publishes the slot with one atomic exchange. The alternative, a
// seqlock copy per frame, costs a 9 KB copy per frame and still needs a
// bounded retry; the pool costs nothing per frame.
//
// Readers count themselves in the published word (count above the slot
// index); the exchange that publishes hands that count to the old slot's own
// counter, which the readers decrement on release. A slot is free when it is
// not published and its counter is zero. Four slots leave one free slot for
// the writer while two readers (frame path, curve view) hold older sets.
//
// Writers never wait for a build. A request is one record (the wanted gamma
// of each channel, which channels were ever requested, a sequence number)
// that writers change under a spin lock held for a few stores, and that a
// builder copies as a whole, never waiting: a record in change leaves the
// build to its writer. Whoever wins the build try-lock builds from the newest
// record, so every published set is the tables of one whole record: a
// triple is never split, and a channel never goes back to an older request.
// A writer that loses the try-lock leaves its request to the winner, which
// looks again after unlocking. When every slot is held, the pool is marked
// starved, and the first reader to let go builds the request.
class GammaTables {
public:
    static constexpr int kSlots = 4;

    GammaTables();
    ~GammaTables() { delete[] slots_.load(std::memory_order_relaxed); }
    GammaTables(const GammaTables&) = delete;
    GammaTables& operator=(const GammaTables&) = delete;

    // Allocates the pool with a zeroed set published, unless it exists:
    // then it does nothing, so that readers and builders never see it move.
    // Safe beside readers and writers; true when the pool exists.
    bool EnsureAllocated();
    bool IsAllocated() const { return slots_.load(std::memory_order_acquire) != nullptr; }

    // Rebuilds one channel from a gamma in hundredths and publishes the
    // result, unless another thread is rebuilding right now: then that
    // thread builds this request too before it finishes. Waits for no build
    // and no reader, only for another writer's few stores into the request.
    // Does nothing before EnsureAllocated.
    void BuildChannel(int channel, int32_t gamma);
    // All three channels, published together as one set, also while another
    // thread builds: a later request may replace any of them, but no set
    // holds part of this request and part of an older one.
    void BuildChannels(int32_t red, int32_t green, int32_t blue);

    // Holds one whole published set until destroyed; later rebuilds do not
    // touch it. Null before EnsureAllocated.
    class Reader {
    public:
        explicit Reader(const GammaTables& tables);
        ~Reader();
        Reader(const Reader&) = delete;
        Reader& operator=(const Reader&) = delete;
        const TableSet* get() const { return set_; }
        const TableSet* operator->() const { return set_; }

    private:
        const GammaTables& tables_;
        const TableSet* set_ = nullptr;
        uint32_t slot_ = 0;
    };

private:
    // Published word: slot index in the low bits, readers above.
    static constexpr uint32_t kSlotBits = 8;
    static constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
    static constexpr uint32_t kOneReader = 1u << kSlotBits;
    // The count in the published word wraps after 2^24 frames without a
    // rebuild; comparing the slot counters modulo 2^24 as well makes that
    // harmless, as long as fewer than 2^24 readers hold one set at once.
    static constexpr uint32_t kCountMask = (1u << (32 - kSlotBits)) - 1;

    // The gammas a set was built from, or a request record as a builder
    // copied it.
    struct Request {
        int32_t gamma[3];
        uint32_t channels;  // which gammas mean anything
        uint32_t sequence;
    };
    enum class Build { kDone, kNoFreeSlot, kRequestInChange };

    void StoreRequest(uint32_t channels, int32_t red, int32_t green, int32_t blue);
    // Const because a reader that releases may have to finish a writer's
    // request (see Reader's destructor); the pool itself is not const.
    void DrainPending() const;
    Build BuildPending() const;
    bool CopyRequest(Request& request) const;
    bool Pending() const;
    int FreeSlot() const;

    // Set once, by the first EnsureAllocated; everything below is still as the
    // constructor left it then.
    std::atomic<TableSet*> slots_{nullptr};
    mutable std::atomic<uint32_t> published_{0};
    mutable std::atomic<uint32_t> held_[kSlots];
    // The request record; the sequence number is odd while a writer changes it.
    std::atomic<bool> requesting_{false};
    std::atomic<uint32_t> sequence_{0};
    std::atomic<int32_t> wanted_[3];
    std::atomic<uint32_t> requested_{0};
    // Written only by the thread holding building_.
    mutable std::atomic<uint32_t> builtSequence_{0};  // the record the published set answers
    mutable Request builtFrom_[kSlots] = {};
    mutable std::atomic<bool> starved_{false};  // a request waits for a slot
    mutable std::atomic_flag building_ = ATOMIC_FLAG_INIT;
};

}  // namespace zvk
