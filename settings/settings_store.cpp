#include "settings/settings_store.h"

#include <cstring>
#include <new>

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

}  // namespace

SettingsStore::SettingsStore()
    : settingsTable{
          {kSettingS32, "RGamma", &current.RGamma, 100, nullptr},
          {kSettingS32, "GGamma", &current.GGamma, 100, nullptr},
          {kSettingS32, "BGamma", &current.BGamma, 100, nullptr},
          {kSettingU32, "Binding", &current.Binding, 1, nullptr},
          {kSettingU32, "Enable", &current.Enable, 1, nullptr},
      }
{
}

void SettingsStore::UsePlatform(LocationPlatform* locationQueries, FileSystem* files)
{
    locationPlatform = locationQueries;
    fileSystem = files;
}

void SettingsStore::Load(const std::string& baseName, SectionCallback callback)
{
    sectionCallback = callback;
    if (locationPlatform)
        ResolvePath(*locationPlatform, baseName, location);
    currentIndex = -1;
    // A second Load starts over rather than adding the file's sections to
    // those already held.
    records.clear();
    snapshot.clear();
    text.ClearReadText();
    ReadFile();

    std::string_view value;
    dialogPosX = text.FindValue(kDialogSection, kPosXKey, value) ? ParseDecimal32(value) : kNoDialogPos;
    dialogPosY = text.FindValue(kDialogSection, kPosYKey, value) ? ParseDecimal32(value) : kNoDialogPos;

    text.ReadSettings(kDefaultSection, settingsTable, kSettingsRows);
    defaults = current;

    // The enumeration starts where the lookups above left the reader, so
    // numeric sections before "DEFAULT" (or "DIALOG") are not loaded. It goes
    // on from each header it found, wherever looking up that section's keys
    // took the reader: a name like " 5 " is looked up as "[5]", which may
    // stand anywhere in the text.
    std::string name;
    while (text.NextSection(name)) {
        const size_t header = text.sectionPos;
        current.sectionId = ParseDecimal64(name);
        if (current.sectionId == 0)
            continue;
        text.ReadSettings(name, settingsTable, kSettingsRows);
        records.push_back(current);
        text.sectionPos = header;
    }
    LoadCurrent();
}

// The whole file into the reader, or nothing: a file that cannot be read
// completely counts as empty.
void SettingsStore::ReadFile()
{
    if (!fileSystem || location.filePath.empty())
        return;
    std::unique_ptr<File> file = fileSystem->OpenForReading(location.filePath);
    uint64_t length = 0;
    if (!file || !file->GetLength(length) || length == 0 || length > SIZE_MAX / 2)
        return;
    const auto size = static_cast<size_t>(length);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
    if (!buffer || !file->Read(buffer.get(), size))
        return;
    text.SetReadText(std::move(buffer), size);
}

int32_t SettingsStore::SelectSection(int64_t sectionId)
{
    if (HasCurrent() && records[static_cast<size_t>(currentIndex)].sectionId == sectionId)
        return 0;
    CommitCurrent();
    currentIndex = -1;
    for (size_t i = 0; i < records.size(); ++i) {
        if (records[i].sectionId == sectionId) {
            currentIndex = static_cast<int32_t>(i);
            break;
        }
    }
    if (currentIndex == -1) {
        SettingsRecord fresh = defaults;
        fresh.sectionId = sectionId;
        records.push_back(fresh);
        // Cancelling an open dialog keeps the new section.
        snapshot.push_back(fresh);
        currentIndex = static_cast<int32_t>(records.size() - 1);
    }
    LoadCurrent();
    return 1;
}

void SettingsStore::Save()
{
    if (!text.StartWrite())
        return;
    CommitCurrent();
    text.WriteSectionHeader(kDialogSection);
    text.WriteValue(kPosXKey, std::to_string(dialogPosX));
    text.WriteValue(kPosYKey, std::to_string(dialogPosY));
    for (const SettingsRecord& record : records) {
        // Without a callback every section counts as confirmed.
        const bool known = sectionCallback ? sectionCallback(record.sectionId) != 0 : true;
        if (!known && !AlwaysKept(record.sectionId))
            continue;
        // A section named 0 is never loaded, so writing one (the host may
        // use 0) would only make every later save rewrite the file.
        if (record.sectionId == 0)
            continue;
        text.WriteSectionHeader(std::to_string(record.sectionId));
        current = record;
        text.WriteSettings(settingsTable, kSettingsRows);
    }
    if (!text.WriteComplete())
        return;
    if (text.WrittenText() == text.ReadText())
        return;
    WriteFile(text.writeBuffer.get(), text.writeLength);
}

// The new text goes to a file beside the old one and then takes its place in
// one step, so that a crash never leaves a part-written settings file. On any
// failure the old file stays as it was.
bool SettingsStore::WriteFile(const char* data, size_t size)
{
    if (!fileSystem || location.filePath.empty())
        return false;
    const std::string temp = location.filePath + kTempSuffix;
    std::unique_ptr<File> file = fileSystem->CreateForWriting(temp);
    if (!file)
        return false;
    const bool written = file->Write(data, size) && file->Commit();
    file.reset();
    if (written && fileSystem->Replace(temp, location.filePath))
        return true;
    fileSystem->Remove(temp);
    return false;
}

void SettingsStore::TakeSnapshot()
{
    CommitCurrent();
    snapshot = records;
}

void SettingsStore::RestoreSnapshot()
{
    records = snapshot;
    // A snapshot never taken, or taken before a second Load, may not reach
    // the current section; then none is current until the next switch.
    if (!HasCurrent())
        currentIndex = -1;
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
