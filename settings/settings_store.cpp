#include "settings/settings_store.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>

namespace zvk {
namespace {

constexpr char kDialogSection[] = "DIALOG";
constexpr char kDefaultSection[] = "DEFAULT";
constexpr char kPosXKey[] = "DlgWndPosX";
constexpr char kPosYKey[] = "DlgWndPosY";
constexpr char kTempSuffix[] = ".tmp";

// Sections 1 to 4 are the host's own and are kept whatever it answers.
bool AlwaysKept(int64_t sectionId)
{
    return sectionId >= 1 && sectionId <= 4;
}

// The five settings as rows of a table: key, type code, field, default.
struct SettingRow {
    int32_t type;
    const char* key;
    int32_t SettingsRecord::*field;
    int64_t defaultValue;
};
constexpr SettingRow kSettingRows[kSettingsRows] = {
    {kSettingS32, "RGamma", &SettingsRecord::RGamma, 100}, {kSettingS32, "GGamma", &SettingsRecord::GGamma, 100},
    {kSettingS32, "BGamma", &SettingsRecord::BGamma, 100}, {kSettingU32, "Binding", &SettingsRecord::Binding, 1},
    {kSettingU32, "Enable", &SettingsRecord::Enable, 1},
};

SettingDescriptor RowOf(size_t row, SettingsRecord& record)
{
    const SettingRow& r = kSettingRows[row];
    return {r.type, r.key, &(record.*r.field), r.defaultValue, nullptr};
}

}  // namespace

SettingsStore::SettingsStore()
    : settingsTable{RowOf(0, current), RowOf(1, current), RowOf(2, current), RowOf(3, current), RowOf(4, current)}
{
}

void SettingsStore::UsePlatform(LocationPlatform* locationQueries, FileSystem* files)
{
    locationPlatform = locationQueries;
    fileSystem = files;
}

void SettingsStore::Load(const std::string& baseName, SectionCallback callback)
{
    try {
        LoadFile(baseName, callback);
    } catch (const std::bad_alloc&) {
        // Memory ran out part-way: as for a file that cannot be read, the
        // session runs on the built-in defaults and the file is left alone.
        records.clear();
        snapshot.clear();
        snapshotHeld = false;
        currentIndex = -1;
        current = defaults = kBuiltInDefaults;
        text.ClearReadText();
        fileLeftAlone = true;
    }
}

void SettingsStore::LoadFile(const std::string& baseName, SectionCallback callback)
{
    sectionCallback = callback;
    if (locationPlatform)
        ResolvePath(*locationPlatform, baseName, location);
    currentIndex = -1;
    // A second Load starts over rather than adding the file's sections to
    // those already held.
    records.clear();
    // Restoring records of another load would erase this one's sections.
    snapshot.clear();
    snapshotHeld = false;
    text.ClearReadText();
    fileLeftAlone = !ReadFile();

    std::string_view value;
    dialogPosX = text.FindValue(kDialogSection, kPosXKey, value) ? ParseDecimal32(value) : kNoDialogPos;
    dialogPosY = text.FindValue(kDialogSection, kPosYKey, value) ? ParseDecimal32(value) : kNoDialogPos;

    text.ReadSettings(kDefaultSection, settingsTable, kSettingsRows);
    defaults = current;
    LoadSections();
    LoadCurrent();
}

// Every numeric section in file order, wherever "DIALOG" and "DEFAULT"
// stand. A name like " 5 " is looked up as "[5]", which may stand anywhere
// in the text; what such a header gives is kept per header found, so that a
// file of many of them reads each section once.
void SettingsStore::LoadSections()
{
    std::unordered_map<size_t, size_t> readFrom;  // header found -> first record read there
    std::string name;
    for (bool more = text.FirstSection(name); more; more = text.NextSection(name)) {
        const size_t header = text.sectionPos;
        current.sectionId = ParseDecimal64(name);
        if (current.sectionId == 0)
            continue;
        if (!text.FindSection(name)) {
            // What reading a section that is nowhere gives: every default.
            for (const SettingRow& row : kSettingRows)
                current.*row.field = static_cast<int32_t>(row.defaultValue);
        } else if (const auto known = readFrom.find(text.sectionPos); known != readFrom.end()) {
            const int64_t sectionId = current.sectionId;
            current = records[known->second];
            current.sectionId = sectionId;
        } else {
            if (text.sectionPos != header)
                readFrom.emplace(text.sectionPos, records.size());
            text.ReadSettings(name, settingsTable, kSettingsRows);
        }
        records.push_back(current);
        text.sectionPos = header;
    }
}

// The whole file into the reader. False when a file exists but could not be
// read whole (another program holds it, a read failed, no memory): then the
// session runs with the defaults and the file is left as it is.
bool SettingsStore::ReadFile()
{
    if (!fileSystem || location.filePath.empty())
        return true;
    std::unique_ptr<File> file = fileSystem->OpenForReading(location.filePath);
    if (!file)
        return !fileSystem->Exists(location.filePath);
    uint64_t length = 0;
    if (!file->GetLength(length) || length > SIZE_MAX / 2)
        return false;
    if (length == 0)
        return true;
    const auto size = static_cast<size_t>(length);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
    if (!buffer || !file->Read(buffer.get(), size))
        return false;
    return text.SetReadText(std::move(buffer), size);
}

int32_t SettingsStore::SelectSection(int64_t sectionId)
{
    if (HasCurrent() && records[static_cast<size_t>(currentIndex)].sectionId == sectionId)
        return 0;
    int32_t found = -1;
    for (size_t i = 0; i < records.size(); ++i) {
        if (records[i].sectionId == sectionId) {
            found = static_cast<int32_t>(i);
            break;
        }
    }
    // Room for a new section in both lists first: without it, the section
    // before stays current and nothing changes.
    if (found == -1) {
        try {
            records.reserve(records.size() + 1);
            if (snapshotHeld)
                snapshot.reserve(snapshot.size() + 1);
        } catch (const std::bad_alloc&) {
            return -1;
        }
    }
    CommitCurrent();
    currentIndex = found;
    if (currentIndex == -1) {
        SettingsRecord fresh = defaults;
        fresh.sectionId = sectionId;
        records.push_back(fresh);
        // Cancelling an open dialog keeps the new section.
        if (snapshotHeld)
            snapshot.push_back(fresh);
        currentIndex = static_cast<int32_t>(records.size() - 1);
    }
    LoadCurrent();
    return 1;
}

void SettingsStore::ReserveSections(size_t spare)
{
    if (records.capacity() - records.size() < spare / 2)
        records.reserve(records.size() + spare);
    if (snapshotHeld && snapshot.capacity() - snapshot.size() < spare / 2)
        snapshot.reserve(snapshot.size() + spare);
}

// Writes the records as they stand, the current section with its live
// values, and leaves the session as it was: current, currentIndex and the
// records are not touched, so that saving again changes nothing.
std::vector<int64_t> SettingsStore::SectionsToConfirm() const
{
    std::vector<int64_t> sections;
    // A file left alone is not saved: nothing to ask the host.
    if (fileLeftAlone)
        return sections;
    sections.reserve(records.size());
    for (const SettingsRecord& record : records)
        sections.push_back(record.sectionId);
    return sections;
}

std::vector<int64_t> GoneSections(SectionCallback callback, const std::vector<int64_t>& sections)
{
    std::vector<int64_t> gone;
    // Without a callback every section counts as confirmed.
    if (!callback)
        return gone;
    for (const int64_t section : sections) {
        if (callback(section) == 0)
            gone.push_back(section);
    }
    std::sort(gone.begin(), gone.end());
    return gone;
}

void SettingsStore::Save()
{
    Save(GoneSections(sectionCallback, SectionsToConfirm()));
}

void SettingsStore::Save(const std::vector<int64_t>& gone)
{
    if (fileLeftAlone || !text.StartWrite())
        return;
    text.WriteSectionHeader(kDialogSection);
    text.WriteValue(kPosXKey, std::to_string(dialogPosX));
    text.WriteValue(kPosYKey, std::to_string(dialogPosY));
    SettingsRecord written = kBuiltInDefaults;
    const SettingDescriptor rows[kSettingsRows] = {RowOf(0, written), RowOf(1, written), RowOf(2, written),
                                                   RowOf(3, written), RowOf(4, written)};
    for (size_t i = 0; i < records.size(); ++i) {
        written = HasCurrent() && i == static_cast<size_t>(currentIndex) ? current : records[i];
        // A section made after the host was asked is kept.
        const bool known = !std::binary_search(gone.begin(), gone.end(), written.sectionId);
        if (!known && !AlwaysKept(written.sectionId))
            continue;
        // A section named 0 is never loaded, so writing one (the host may
        // use 0) would only make every later save rewrite the file.
        if (written.sectionId == 0)
            continue;
        text.WriteSectionHeader(std::to_string(written.sectionId));
        text.WriteSettings(rows, kSettingsRows);
    }
    if (!text.WriteComplete() || text.WrittenText() == text.ReadText())
        return;
    // What is on the disk now is what the next save compares with.
    if (WriteFile(text.writeBuffer.get(), text.writeLength)) {
        text.SetReadText(std::move(text.writeBuffer), text.writeLength);
        text.writeLength = 0;
        text.writeCapacity = 0;
    }
}

// The new text goes to a file beside the old one and then takes its place in
// one step, so that a crash never leaves a part-written settings file. Where
// that way is closed, the file is rewritten in place from the complete text.
bool SettingsStore::WriteFile(const char* data, size_t size)
{
    const std::string& path = location.filePath;
    // A read-only file is the user's way to freeze the settings.
    if (!fileSystem || path.empty() || fileSystem->IsReadOnly(path))
        return false;
    const std::string temp = path + kTempSuffix;
    // Left by an earlier save that was cut short; it may be read-only.
    if (fileSystem->Exists(temp))
        fileSystem->Remove(temp);
    if (std::unique_ptr<File> file = fileSystem->CreateForWriting(temp)) {
        const bool written = file->Write(data, size) && file->Commit();
        file.reset();
        if (written && fileSystem->Replace(temp, path))
            return true;
        fileSystem->Remove(temp);
        // The disk refused the data (full, failing): rewriting the old file
        // in place could only lose it too.
        if (!written)
            return false;
    }
    // No temporary file can be had, or no replace on this system (Windows
    // 9x has none). What fails part-way puts the old text back, as far as
    // the disk lets it; a file that could not be opened was not touched.
    bool opened = false;
    if (WriteWhole(path, data, size, opened))
        return true;
    if (opened) {
        const std::string_view old = text.ReadText();
        bool again = false;
        WriteWhole(path, old.data(), old.size(), again);
    }
    return false;
}

bool SettingsStore::WriteWhole(const std::string& path, const char* data, size_t size, bool& opened)
{
    std::unique_ptr<File> file = fileSystem->CreateForWriting(path);
    opened = file != nullptr;
    return file && file->Write(data, size) && file->Commit();
}

void SettingsStore::TakeSnapshot()
{
    CommitCurrent();
    snapshot = records;
    snapshotHeld = true;
}

// While a snapshot is held it has one record for each of records (new
// sections go to both), so the current index stays valid.
void SettingsStore::RestoreSnapshot()
{
    if (!snapshotHeld)
        return;
    records = snapshot;
    LoadCurrent();
}

void SettingsStore::ResetToDefaults()
{
    const int64_t sectionId = current.sectionId;
    current = defaults;
    current.sectionId = sectionId;
}

void SettingsStore::SetDialogPos(int32_t x, int32_t y)
{
    dialogPosX = x;
    dialogPosY = y;
}

bool SettingsStore::HasCurrent() const
{
    return currentIndex >= 0 && static_cast<size_t>(currentIndex) < records.size();
}

void SettingsStore::CommitCurrent()
{
    if (HasCurrent())
        records[static_cast<size_t>(currentIndex)] = current;
}

void SettingsStore::LoadCurrent()
{
    if (HasCurrent())
        current = records[static_cast<size_t>(currentIndex)];
}

}  // namespace zvk
