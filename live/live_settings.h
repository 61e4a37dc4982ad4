// The live settings that the frame path and the dialog share: the settings
// store (whose current record holds the five live values), the gamma tables
// built from it, and the lock that keeps the two in step.
//
// The host may call Process on one thread while the dialog runs on another,
// and Process must never wait for the dialog's thread. So:
// - In the steady state (the frame's section is the one the frame path made
//   current) a frame takes no lock: it reads the published section and On
//   value, and the tables through the pool, which never waits.
// - A section switch only tries the lock. When the dialog holds it, the frame
//   is corrected with the published tables and On value of the section
//   before, and a later frame switches.
// - Every use of the store by the dialog, and every table request made
//   because of one, happens under the lock, like the switch itself, so a
//   value lands in the section that is current when it is written, and the
//   tables are requested in the order the values changed: once writers stop,
//   the last request belongs to the current section.
//
// Before the first frame no section is current; what the window changes
// then is what the first section starts with.
//
// Portable code: calls the store, the tables and the framework's lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/lock.h"
#include "gamma/gamma_tables.h"
#include "settings/settings_store.h"

namespace zvk {

class LiveSettings {
public:
    LiveSettings(SettingsStore& store, GammaTables& tables) : store_(store), tables_(tables) {}
    LiveSettings(const LiveSettings&) = delete;
    LiveSettings& operator=(const LiveSettings&) = delete;

    // Init's side: loads the settings file; no section is current after it,
    // and nothing the window changed before carries over.
    void Load(const std::string& baseName, SectionCallback callback);
    // Close's side: writes the file when its text changed.
    void Save();
    // The same where it needs no wait for the lock (at process exit, the
    // thread that held it may be dead); false when it did not save.
    bool SaveIfFree();
    // Makes room for new sections ahead of the frames that bring them (a
    // frame must not allocate: the heap's lock may be held by a descheduled
    // thread). Load, the window's calls and SetFormat keep it up; only a
    // frame that finds it all used up still allocates. Never waits: with
    // the lock taken it leaves the room to the lock's holder.
    void ReserveSections();

    // What one frame needs to know. Never waits.
    struct FrameView {
        bool switched;          // another section became current; tables requested
        bool enable;            // correct the frame
        void* refreshWindow;    // the dialog to tell about a switch, or null
        int64_t section;        // the section the frame is corrected for, when enable
    };
    FrameView EnterSection(int64_t sectionId);

    // The dialog's side. The dialog announces its window so that a section
    // switch can ask it to refresh.
    void SetRefreshWindow(void* window);
    // Counts the changes of the current section (switches, loads), without
    // a lock: a window that shows the values of count n is behind when the
    // count is no longer n. Read before Current().
    uint32_t SectionChanges() const { return sectionChanges_.load(std::memory_order_acquire); }
    SettingsRecord Current();
    // Writes one channel's gamma and rebuilds its tables. When the channels
    // are linked the other two take the same value and all three are built
    // as one set; true then.
    bool MoveGamma(int channel, int32_t gamma);
    void SetAllGammas(int32_t gamma);
    void SetBinding(int32_t binding);
    void SetEnable(int32_t enable);
    void ResetToDefaults();
    // The state at the window's opening, for Cancel. Also builds the tables
    // of the shown values when none were built since Load, so that the curve
    // shows them before the first frame.
    void TakeSnapshot();
    void RestoreSnapshot();
    // Builds the tables of the live values when none were built since Load.
    void BuildTablesIfNone();
    DialogPos GetDialogPos();
    void SetDialogPos(int32_t x, int32_t y);

private:
    // The live fields, for what the window changed before the first frame.
    enum Field : uint32_t { kR = 1, kG = 2, kB = 4, kBinding = 8, kEnable = 16 };

    static constexpr size_t kSpareSections = 256;

    void Edited(uint32_t fields);
    void BuildCurrent();
    void BuildIfNone();
    void PublishCurrent();
    bool HasSection() const { return store_.CurrentIndex() >= 0; }

    SettingsStore& store_;
    GammaTables& tables_;
    fw::Lock lock_;

    // Written under the lock, read by frames without it.
    std::atomic<bool> frameHasSection_{false};
    std::atomic<int64_t> frameSection_{0};
    std::atomic<bool> enable_{true};
    std::atomic<void*> refreshWindow_{nullptr};
    std::atomic<bool> framesCorrected_{false};  // a frame entered a section since Load
    std::atomic<uint32_t> sectionChanges_{0};

    // Under the lock.
    uint32_t edited_ = 0;        // fields the window changed while no section was current
    bool tablesBuilt_ = false;   // a set was requested since Load
    bool snapshotTaken_ = false; // since Load
    SettingsRecord snapshotLive_ = kBuiltInDefaults;  // the live values at opening, no section current
    uint32_t snapshotEdited_ = 0;
};

}  // namespace zvk
