#include "gamma/gamma_tables.h"

#include <cmath>
#include <new>

namespace zvk {
namespace {

struct ColourWeights {
    double y, u, v;
};

// BT.601 luma weights and colour-difference rows, rounded to three decimals.
constexpr ColourWeights kWeights[3] = {
    {0.299, -0.169, 0.5},
    {0.587, -0.331, -0.419},
    {0.114, 0.5, -0.081},
};

}  // namespace

void BuildChannel(TableSet& tables, int channel, int32_t gamma)
{
    if (gamma <= 0)
        gamma = kMinGamma;
    const double exponent = 100.0 / gamma;
    const ColourWeights& w = kWeights[channel];
    int32_t* lut = tables.lut + 256 * channel;
    YuvDeltaEntry* delta = tables.yuvDelta + 256 * channel;

    // A double counter and a multiplication by the double nearest 1/255: the
    // stored tables depend on these exact roundings.
    int i = 0;
    for (double level = 0.0; level < 256.0; level += 1.0, ++i) {
        const double x = level * 0.00392156862745098;
        const double v = std::pow(x, exponent) * 255.0 + 0.5;
        lut[i] = static_cast<int32_t>(v);
        const double d = v - level;
        const auto dY = static_cast<int16_t>(static_cast<int32_t>(w.y * d));
        delta[i] = {dY,
                    static_cast<int16_t>(static_cast<int32_t>(w.u * d)),
                    dY,
                    static_cast<int16_t>(static_cast<int32_t>(w.v * d))};
    }
}

GammaTables::GammaTables()
{
    for (auto& held : held_)
        held.store(0, std::memory_order_relaxed);
    for (auto& wanted : wanted_)
        wanted.store(kIdentityGamma, std::memory_order_relaxed);
}

bool GammaTables::EnsureAllocated()
{
    if (IsAllocated())
        return true;
    TableSet* const pool = new (std::nothrow) TableSet[kSlots]{};
    if (!pool)
        return false;
    // Two first Inits at once: one pool wins, the other goes.
    TableSet* none = nullptr;
    if (!slots_.compare_exchange_strong(none, pool, std::memory_order_acq_rel))
        delete[] pool;
    return true;
}

void GammaTables::BuildChannel(int channel, int32_t gamma)
{
    if (channel < 0 || channel > 2)
        return;
    StoreRequest(1u << channel, gamma, gamma, gamma);
}

void GammaTables::BuildChannels(int32_t red, int32_t green, int32_t blue)
{
    StoreRequest(7u, red, green, blue);
}

void GammaTables::StoreRequest(uint32_t channels, int32_t red, int32_t green, int32_t blue)
{
    if (!IsAllocated())
        return;
    // Writers exclude each other only for these stores; a builder never
    // takes this lock, so a writer never waits for a build or a reader.
    while (requesting_.exchange(true, std::memory_order_acquire)) {
        while (requesting_.load(std::memory_order_relaxed)) {
        }
    }
    const uint32_t sequence = sequence_.load(std::memory_order_relaxed);
    sequence_.store(sequence + 1, std::memory_order_seq_cst);
    const int32_t gamma[3] = {red, green, blue};
    for (int channel = 0; channel < 3; ++channel) {
        if (channels & (1u << channel))
            wanted_[channel].store(gamma[channel], std::memory_order_seq_cst);
    }
    requested_.fetch_or(channels, std::memory_order_seq_cst);
    sequence_.store(sequence + 2, std::memory_order_seq_cst);
    requesting_.store(false, std::memory_order_release);
    DrainPending();
}

bool GammaTables::Pending() const
{
    return sequence_.load(std::memory_order_seq_cst) != builtSequence_.load(std::memory_order_seq_cst);
}

void GammaTables::DrainPending() const
{
    // Whoever gives up must leave someone who is sure to look again: the
    // holder of the try-lock looks after unlocking; a writer in the middle of
    // a request drains after it; with every slot held, a reader that lets go
    // sees starved_. Each of these is marked before the last look, so a
    // reader or writer that came in between is never missed.
    while (Pending()) {
        if (building_.test_and_set(std::memory_order_seq_cst))
            return;
        const Build outcome = BuildPending();
        if (outcome == Build::kNoFreeSlot)
            starved_.store(true, std::memory_order_seq_cst);
        building_.clear(std::memory_order_seq_cst);
        if (outcome == Build::kNoFreeSlot && FreeSlot() < 0)
            return;
        if (outcome == Build::kRequestInChange && (sequence_.load(std::memory_order_seq_cst) & 1))
            return;
    }
}

int GammaTables::FreeSlot() const
{
    const uint32_t published = published_.load(std::memory_order_seq_cst) & kSlotMask;
    for (uint32_t slot = 0; slot < kSlots; ++slot) {
        if (slot != published && (held_[slot].load(std::memory_order_seq_cst) & kCountMask) == 0)
            return static_cast<int>(slot);
    }
    return -1;
}

// A seqlock read: the record as one writer left it, or false while one is
// changing it.
bool GammaTables::CopyRequest(Request& request) const
{
    request.sequence = sequence_.load(std::memory_order_seq_cst);
    if (request.sequence & 1)
        return false;
    for (int channel = 0; channel < 3; ++channel)
        request.gamma[channel] = wanted_[channel].load(std::memory_order_seq_cst);
    request.channels = requested_.load(std::memory_order_seq_cst);
    return sequence_.load(std::memory_order_seq_cst) == request.sequence;
}

GammaTables::Build GammaTables::BuildPending() const
{
    Request request;
    if (!CopyRequest(request))
        return Build::kRequestInChange;
    // Only this thread publishes, so the published slot cannot change under
    // the copy; readers only read it.
    const uint32_t source = published_.load(std::memory_order_relaxed) & kSlotMask;
    const Request& from = builtFrom_[source];
    uint32_t rebuild = 0;
    for (int channel = 0; channel < 3; ++channel) {
        const uint32_t bit = 1u << channel;
        if ((request.channels & bit) && (!(from.channels & bit) || from.gamma[channel] != request.gamma[channel]))
            rebuild |= bit;
    }
    if (rebuild != 0) {
        const int slot = FreeSlot();
        if (slot < 0)
            return Build::kNoFreeSlot;
        starved_.store(false, std::memory_order_relaxed);
        TableSet* const slots = slots_.load(std::memory_order_acquire);
        TableSet& target = slots[slot];
        target = slots[source];
        for (int channel = 0; channel < 3; ++channel) {
            if (rebuild & (1u << channel))
                zvk::BuildChannel(target, channel, request.gamma[channel]);
        }
        builtFrom_[slot] = request;
        const uint32_t old = published_.exchange(static_cast<uint32_t>(slot), std::memory_order_acq_rel);
        // Readers that took the old slot counted themselves in the published
        // word; from now on they are counted against the slot itself.
        held_[old & kSlotMask].fetch_add(old >> kSlotBits, std::memory_order_relaxed);
    }
    builtSequence_.store(request.sequence, std::memory_order_seq_cst);
    return Build::kDone;
}

GammaTables::Reader::Reader(const GammaTables& tables) : tables_(tables)
{
    const TableSet* const slots = tables.slots_.load(std::memory_order_acquire);
    if (!slots)
        return;
    const uint32_t word = tables.published_.fetch_add(kOneReader, std::memory_order_acquire);
    slot_ = word & kSlotMask;
    set_ = &slots[slot_];
}

GammaTables::Reader::~Reader()
{
    if (!set_)
        return;
    tables_.held_[slot_].fetch_sub(1, std::memory_order_seq_cst);
    // A writer that found every slot held left its request pending. Only
    // then does a reader look at the requests, so that a frame's release
    // stays one subtraction and one load.
    if (tables_.starved_.load(std::memory_order_seq_cst))
        tables_.DrainPending();
}

}  // namespace zvk
