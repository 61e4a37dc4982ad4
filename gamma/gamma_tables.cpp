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

bool GammaTables::Allocate()
{
    Release();
    slots_ = new (std::nothrow) TableSet[kSlots]{};
    for (auto& held : held_)
        held.store(0, std::memory_order_relaxed);
    pending_.store(0, std::memory_order_relaxed);
    published_.store(0, std::memory_order_release);
    return slots_ != nullptr;
}

void GammaTables::Release()
{
    delete[] slots_;
    slots_ = nullptr;
}

void GammaTables::BuildChannel(int channel, int32_t gamma)
{
    if (!slots_ || channel < 0 || channel > 2)
        return;
    wanted_[channel].store(gamma, std::memory_order_relaxed);
    pending_.fetch_or(1u << channel, std::memory_order_seq_cst);
    DrainPending();
}

void GammaTables::BuildChannels(int32_t red, int32_t green, int32_t blue)
{
    if (!slots_)
        return;
    wanted_[kRed].store(red, std::memory_order_relaxed);
    wanted_[kGreen].store(green, std::memory_order_relaxed);
    wanted_[kBlue].store(blue, std::memory_order_relaxed);
    pending_.fetch_or(7u, std::memory_order_seq_cst);
    DrainPending();
}

void GammaTables::DrainPending() const
{
    // The loser of the try-lock leaves its request to the winner, which looks
    // at pending_ again after unlocking. With every slot held the requests
    // wait for the reader that lets go first (see Reader's destructor); the
    // check after unlocking catches a reader that let go while we built.
    while (pending_.load(std::memory_order_seq_cst) != 0) {
        if (building_.test_and_set(std::memory_order_seq_cst))
            return;
        BuildPending();
        building_.clear(std::memory_order_seq_cst);
        if (FreeSlot() < 0)
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

void GammaTables::BuildPending() const
{
    const int slot = FreeSlot();
    if (slot < 0) {
        starved_.store(true, std::memory_order_seq_cst);
        return;
    }
    starved_.store(false, std::memory_order_relaxed);
    const uint32_t requests = pending_.exchange(0, std::memory_order_acquire);
    if (requests == 0)
        return;
    TableSet& target = slots_[slot];
    // Only this thread publishes, so the published slot cannot change under
    // the copy; readers only read it.
    const uint32_t source = published_.load(std::memory_order_relaxed) & kSlotMask;
    target = slots_[source];
    for (int channel = 0; channel < 3; ++channel) {
        if (requests & (1u << channel))
            zvk::BuildChannel(target, channel, wanted_[channel].load(std::memory_order_relaxed));
    }
    const uint32_t old = published_.exchange(static_cast<uint32_t>(slot), std::memory_order_acq_rel);
    // Readers that took the old slot counted themselves in the published
    // word; from now on they are counted against the slot itself.
    held_[old & kSlotMask].fetch_add(old >> kSlotBits, std::memory_order_relaxed);
}

GammaTables::Reader::Reader(const GammaTables& tables) : tables_(tables)
{
    if (!tables.slots_)
        return;
    const uint32_t word = tables.published_.fetch_add(kOneReader, std::memory_order_acquire);
    slot_ = word & kSlotMask;
    set_ = &tables.slots_[slot_];
}

GammaTables::Reader::~Reader()
{
    if (!set_)
        return;
    tables_.held_[slot_].fetch_sub(1, std::memory_order_seq_cst);
    // A writer that found every slot held left its request pending. Only
    // then does a reader build: otherwise it could take over a request that
    // its writer is still making.
    if (tables_.starved_.load(std::memory_order_seq_cst))
        tables_.DrainPending();
}

}  // namespace zvk
