// The live settings that the frame path and the dialog share: the settings
// store (whose current record holds the five live values), the gamma tables
// built from it, and the one lock that keeps the two in step.
//
// The host may call Process on one thread while the dialog runs on another.
// Every read or write of the store, and every table request made because of
// one, happens under the lock, so a value the dialog writes lands in the
// section that is current at that moment, and the tables are requested in
// the order the values changed: the last request always belongs to the
// current section. The lock is held for at most one table build (the dialog
// builds at most one set per hold) and never across a frame: frames read the
// tables through the pool, which never waits.
//
// Portable code: calls the store, the tables and the framework's lock.
#pragma once

#include <cstdint>

#include "framework/lock.h"
#include "gamma/gamma_tables.h"
#include "settings/settings_store.h"

namespace zvk {

class LiveSettings {
public:
    LiveSettings(SettingsStore& store, GammaTables& tables) : store_(store), tables_(tables) {}
    LiveSettings(const LiveSettings&) = delete;
    LiveSettings& operator=(const LiveSettings&) = delete;

    // What one frame needs to know, read in one hold of the lock.
    struct FrameView {
        bool switched;          // another section became current; tables requested
        bool enable;            // correct the frame
        void* refreshWindow;    // the dialog to tell about a switch, or null
    };
    FrameView EnterSection(int64_t sectionId);

    // The dialog's side. The dialog announces its window so that a section
    // switch can ask it to refresh.
    void SetRefreshWindow(void* window);
    SettingsRecord Current();
    // Writes one channel's gamma and rebuilds its tables. When the channels
    // are linked the other two take the same value and all three are built
    // as one set; true then.
    bool MoveGamma(int channel, int32_t gamma);
    void SetAllGammas(int32_t gamma);
    void SetBinding(int32_t binding);
    void SetEnable(int32_t enable);
    void ResetToDefaults();
    void TakeSnapshot();
    void RestoreSnapshot();
    DialogPos GetDialogPos();
    void SetDialogPos(int32_t x, int32_t y);

private:
    void BuildCurrent();

    SettingsStore& store_;
    GammaTables& tables_;
    fw::Lock lock_;
    void* refreshWindow_ = nullptr;
};

}  // namespace zvk
