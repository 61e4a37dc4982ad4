#include "live/live_settings.h"

namespace zvk {
namespace {

int32_t& GammaOf(SettingsRecord& record, int channel)
{
    return channel == kRed ? record.RGamma : channel == kGreen ? record.GGamma : record.BGamma;
}

int32_t GammaOf(const SettingsRecord& record, int channel)
{
    return channel == kRed ? record.RGamma : channel == kGreen ? record.GGamma : record.BGamma;
}

constexpr uint32_t kGammaFields[3] = {1, 2, 4};

}  // namespace

void LiveSettings::Load(const std::string& baseName, SectionCallback callback)
{
    fw::LockGuard hold(lock_);
    store_.Load(baseName, callback);
    store_.ReserveSections(kSpareSections);
    edited_ = 0;
    tablesBuilt_ = false;
    snapshotTaken_ = false;
    framesCorrected_.store(false, std::memory_order_relaxed);
    frameHasSection_.store(false, std::memory_order_release);
    PublishCurrent();
    sectionChanges_.fetch_add(1, std::memory_order_release);
}

void LiveSettings::Save()
{
    // The host is asked with no lock of ours held: its callback may wait for
    // a thread of its own that is in SetFormat, or in a frame.
    std::vector<int64_t> sections;
    SectionCallback callback = nullptr;
    {
        fw::LockGuard hold(lock_);
        sections = store_.SectionsToConfirm();
        callback = store_.Callback();
    }
    const std::vector<int64_t> gone = GoneSections(callback, sections);
    fw::LockGuard hold(lock_);
    store_.Save(gone);
}

bool LiveSettings::SaveIfFree()
{
    std::vector<int64_t> sections;
    SectionCallback callback = nullptr;
    {
        fw::TryLockGuard hold(lock_);
        if (!hold.Held())
            return false;
        sections = store_.SectionsToConfirm();
        callback = store_.Callback();
    }
    const std::vector<int64_t> gone = GoneSections(callback, sections);
    fw::TryLockGuard hold(lock_);
    if (!hold.Held())
        return false;
    store_.Save(gone);
    return true;
}

void LiveSettings::ReserveSections()
{
    // Called on the frame thread: when the window holds the store, its own
    // calls make the room. The room may throw for want of memory.
    fw::TryLockGuard hold(lock_);
    if (hold.Held())
        store_.ReserveSections(kSpareSections);
}

LiveSettings::FrameView LiveSettings::EnterSection(int64_t sectionId)
{
    if (frameHasSection_.load(std::memory_order_acquire) &&
        frameSection_.load(std::memory_order_relaxed) == sectionId)
        return {false, enable_.load(std::memory_order_relaxed), nullptr, sectionId};
    // The dialog holds the store: this frame keeps the section before, and
    // is left as it is when there was none yet (the tables are Init's zeros).
    if (!lock_.TryAcquire())
        return {false, framesCorrected_.load(std::memory_order_relaxed) && enable_.load(std::memory_order_relaxed),
                nullptr, frameSection_.load(std::memory_order_relaxed)};
    const SettingsRecord before = store_.current;
    const bool first = !HasSection();
    const int32_t selected = store_.SelectSection(sectionId);
    if (selected < 0) {
        // No memory for the new section: this frame is left as it is, and
        // a later one tries again.
        lock_.Release();
        return {false, false, nullptr, sectionId};
    }
    const bool switched = selected != 0;
    if (switched) {
        // What the window set before the first frame is what the first
        // section starts with; the other fields come from its record.
        if (first) {
            SettingsRecord& live = store_.current;
            for (int channel = kRed; channel <= kBlue; ++channel) {
                if (edited_ & kGammaFields[channel])
                    GammaOf(live, channel) = GammaOf(before, channel);
            }
            if (edited_ & kBinding)
                live.Binding = before.Binding;
            if (edited_ & kEnable)
                live.Enable = before.Enable;
        }
        edited_ = 0;
        BuildCurrent();
        sectionChanges_.fetch_add(1, std::memory_order_release);
    }
    frameSection_.store(sectionId, std::memory_order_relaxed);
    frameHasSection_.store(true, std::memory_order_release);
    framesCorrected_.store(true, std::memory_order_relaxed);
    PublishCurrent();
    const FrameView view = {switched, store_.current.Enable != 0,
                            switched ? refreshWindow_.load(std::memory_order_relaxed) : nullptr, sectionId};
    lock_.Release();
    return view;
}

void LiveSettings::SetRefreshWindow(void* window)
{
    refreshWindow_.store(window, std::memory_order_relaxed);
}

SettingsRecord LiveSettings::Current()
{
    fw::LockGuard hold(lock_);
    // The window asks after every section switch: room for the next ones
    // is made here, off the frame path.
    store_.ReserveSections(kSpareSections);
    return store_.current;
}

bool LiveSettings::MoveGamma(int channel, int32_t gamma)
{
    if (channel < kRed || channel > kBlue)
        return false;
    fw::LockGuard hold(lock_);
    SettingsRecord& live = store_.current;
    // Binding is read under the same hold: a section switch changes it.
    if (live.Binding == 0) {
        Edited(kGammaFields[channel]);
        GammaOf(live, channel) = gamma;
        if (tablesBuilt_)
            tables_.BuildChannel(channel, gamma);
        else
            BuildCurrent();
        return false;
    }
    Edited(kR | kG | kB);
    live.RGamma = live.GGamma = live.BGamma = gamma;
    BuildCurrent();
    return true;
}

void LiveSettings::SetAllGammas(int32_t gamma)
{
    fw::LockGuard hold(lock_);
    Edited(kR | kG | kB);
    SettingsRecord& live = store_.current;
    live.RGamma = live.GGamma = live.BGamma = gamma;
    BuildCurrent();
}

void LiveSettings::SetBinding(int32_t binding)
{
    fw::LockGuard hold(lock_);
    Edited(kBinding);
    store_.current.Binding = binding;
}

void LiveSettings::SetEnable(int32_t enable)
{
    fw::LockGuard hold(lock_);
    Edited(kEnable);
    store_.current.Enable = enable;
    PublishCurrent();
}

void LiveSettings::ResetToDefaults()
{
    fw::LockGuard hold(lock_);
    Edited(kR | kG | kB | kBinding | kEnable);
    store_.ResetToDefaults();
    BuildCurrent();
    PublishCurrent();
}

void LiveSettings::TakeSnapshot()
{
    fw::LockGuard hold(lock_);
    store_.TakeSnapshot();
    store_.ReserveSections(kSpareSections);
    snapshotTaken_ = true;
    snapshotLive_ = store_.current;
    snapshotEdited_ = edited_;
    BuildIfNone();
}

void LiveSettings::RestoreSnapshot()
{
    fw::LockGuard hold(lock_);
    store_.RestoreSnapshot();
    // Still before the first frame: the live values themselves go back.
    if (snapshotTaken_ && !HasSection()) {
        store_.current = snapshotLive_;
        edited_ = snapshotEdited_;
    }
    store_.ReserveSections(kSpareSections);
    BuildCurrent();
    PublishCurrent();
}

void LiveSettings::BuildTablesIfNone()
{
    fw::LockGuard hold(lock_);
    BuildIfNone();
}

DialogPos LiveSettings::GetDialogPos()
{
    fw::LockGuard hold(lock_);
    return store_.GetDialogPos();
}

void LiveSettings::SetDialogPos(int32_t x, int32_t y)
{
    fw::LockGuard hold(lock_);
    store_.SetDialogPos(x, y);
}

void LiveSettings::Edited(uint32_t fields)
{
    if (!HasSection())
        edited_ |= fields;
}

// All three channels of the current section as one set.
void LiveSettings::BuildCurrent()
{
    const SettingsRecord& live = store_.current;
    tables_.BuildChannels(live.RGamma, live.GGamma, live.BGamma);
    tablesBuilt_ = tables_.IsAllocated();
}

// A single channel's build would leave the other two at the zeros of Init.
void LiveSettings::BuildIfNone()
{
    if (!tablesBuilt_)
        BuildCurrent();
}

// What frames read without the lock. A store that lost its current section
// (a restore that does not reach it) makes the next frame switch.
void LiveSettings::PublishCurrent()
{
    enable_.store(store_.current.Enable != 0, std::memory_order_relaxed);
    if (!HasSection())
        frameHasSection_.store(false, std::memory_order_release);
}

}  // namespace zvk
