// Settings store: one record of gamma settings per host section, loaded from
// the settings file at Init and written back at Close when its text changed.
// Portable code; may call only the C++ standard library and, for files and
// the file's location, the interfaces of settings_platform.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/section_callback.h"
#include "settings/settings_location.h"
#include "settings/settings_platform.h"
#include "settings/settings_text.h"

namespace zvk {

struct SettingsRecord {
    int64_t sectionId;
    int32_t RGamma;
    int32_t GGamma;
    int32_t BGamma;
    int32_t Binding;
    int32_t Enable;
};

inline bool operator==(const SettingsRecord& a, const SettingsRecord& b)
{
    return a.sectionId == b.sectionId && a.RGamma == b.RGamma && a.GGamma == b.GGamma && a.BGamma == b.BGamma &&
           a.Binding == b.Binding && a.Enable == b.Enable;
}
inline bool operator!=(const SettingsRecord& a, const SettingsRecord& b)
{
    return !(a == b);
}

constexpr SettingsRecord kBuiltInDefaults = {0, 100, 100, 100, 1, 1};
constexpr int32_t kNoDialogPos = -100;
constexpr size_t kSettingsRows = 5;

struct DialogPos {
    int32_t x;
    int32_t y;
};

// The sections of `sections` that the host's callback no longer knows,
// sorted; none without a callback.
std::vector<int64_t> GoneSections(SectionCallback callback, const std::vector<int64_t>& sections);

class SettingsStore {
public:
    SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The system behind the file and its location; without them the store
    // finds no file and writes none.
    void UsePlatform(LocationPlatform* location, FileSystem* files);

    void Load(const std::string& baseName, SectionCallback callback);
    // 1 when another section became current, 0 when it already was, -1
    // when a new section found no memory (the one before stays current).
    int32_t SelectSection(int64_t sectionId);
    // Makes room for `spare` more sections (and their snapshot records while
    // a snapshot is held), so that selecting that many new sections
    // allocates nothing; allocates only when less than half of it is left.
    void ReserveSections(size_t spare);
    // Asks the host's callback about every section, then saves.
    void Save();
    // Saves without asking: the sections in `gone` (sorted) are those the
    // host no longer knows. So a caller can ask the host with no lock held.
    void Save(const std::vector<int64_t>& gone);
    std::vector<int64_t> SectionsToConfirm() const;
    SectionCallback Callback() const { return sectionCallback; }

    // For the dialog: the state at opening, for Cancel. A snapshot belongs
    // to the records of one Load: Load drops it, and a restore without one
    // changes nothing.
    void TakeSnapshot();
    void RestoreSnapshot();
    void ResetToDefaults();
    DialogPos GetDialogPos() const { return {dialogPosX, dialogPosY}; }
    void SetDialogPos(int32_t x, int32_t y);

    const std::vector<SettingsRecord>& Records() const { return records; }
    const std::vector<SettingsRecord>& Snapshot() const { return snapshot; }
    int32_t CurrentIndex() const { return currentIndex; }
    const SettingsLocation& Location() const { return location; }
    // The reader's and writer's state, for tests and for limiting the writer.
    SettingsText& Text() { return text; }

    // The live settings; the rows of settingsTable point into it.
    SettingsRecord current = kBuiltInDefaults;
    SettingsRecord defaults = kBuiltInDefaults;
    const SettingDescriptor settingsTable[kSettingsRows];

private:
    void LoadFile(const std::string& baseName, SectionCallback callback);
    void CommitCurrent();
    void LoadCurrent();
    bool HasCurrent() const;
    bool ReadFile();
    void LoadSections();
    bool WriteFile(const char* data, size_t size);
    bool WriteWhole(const std::string& path, const char* data, size_t size, bool& opened);

    std::vector<SettingsRecord> records;
    std::vector<SettingsRecord> snapshot;
    int32_t currentIndex = -1;
    bool snapshotHeld = false;
    // No position until Load reads one: a window opened before Init is
    // centred over the host.
    int32_t dialogPosX = kNoDialogPos;
    int32_t dialogPosY = kNoDialogPos;
    SectionCallback sectionCallback = nullptr;
    // The file exists but could not be read at Load: it is not written.
    bool fileLeftAlone = false;
    SettingsText text;
    SettingsLocation location;
    LocationPlatform* locationPlatform = nullptr;
    FileSystem* fileSystem = nullptr;
};

}  // namespace zvk
