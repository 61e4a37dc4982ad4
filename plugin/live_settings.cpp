#include "plugin/live_settings.h"

namespace zvk {
namespace {

int32_t& GammaOf(SettingsRecord& record, int channel)
{
    return channel == kRed ? record.RGamma : channel == kGreen ? record.GGamma : record.BGamma;
}

}  // namespace

LiveSettings::FrameView LiveSettings::EnterSection(int64_t sectionId)
{
    fw::LockGuard hold(lock_);
    const bool switched = store_.SelectSection(sectionId) != 0;
    if (switched)
        BuildCurrent();
    return {switched, store_.current.Enable != 0, switched ? refreshWindow_ : nullptr};
}

void LiveSettings::SetRefreshWindow(void* window)
{
    fw::LockGuard hold(lock_);
    refreshWindow_ = window;
}

SettingsRecord LiveSettings::Current()
{
    fw::LockGuard hold(lock_);
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
        GammaOf(live, channel) = gamma;
        tables_.BuildChannel(channel, gamma);
        return false;
    }
    live.RGamma = live.GGamma = live.BGamma = gamma;
    tables_.BuildChannels(gamma, gamma, gamma);
    return true;
}

void LiveSettings::SetAllGammas(int32_t gamma)
{
    fw::LockGuard hold(lock_);
    SettingsRecord& live = store_.current;
    live.RGamma = live.GGamma = live.BGamma = gamma;
    tables_.BuildChannels(gamma, gamma, gamma);
}

void LiveSettings::SetBinding(int32_t binding)
{
    fw::LockGuard hold(lock_);
    store_.current.Binding = binding;
}

void LiveSettings::SetEnable(int32_t enable)
{
    fw::LockGuard hold(lock_);
    store_.current.Enable = enable;
}

void LiveSettings::ResetToDefaults()
{
    fw::LockGuard hold(lock_);
    store_.ResetToDefaults();
    BuildCurrent();
}

void LiveSettings::TakeSnapshot()
{
    fw::LockGuard hold(lock_);
    store_.TakeSnapshot();
}

void LiveSettings::RestoreSnapshot()
{
    fw::LockGuard hold(lock_);
    store_.RestoreSnapshot();
    BuildCurrent();
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

// All three channels of the current section as one set.
void LiveSettings::BuildCurrent()
{
    const SettingsRecord& live = store_.current;
    tables_.BuildChannels(live.RGamma, live.GGamma, live.BGamma);
}

}  // namespace zvk
