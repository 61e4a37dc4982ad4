// Settings store: one record of gamma settings per host section.
// Portable code; may call only the C++ standard library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvk {

struct SettingsRecord {
    int64_t sectionId;
    int32_t RGamma;
    int32_t GGamma;
    int32_t BGamma;
    int32_t Binding;
    int32_t Enable;
};

// The host's answer to "does this section still exist?"; C calling
// convention, the 64-bit identifier passed low half first.
using SectionCallback = int32_t (*)(int64_t sectionId);

constexpr SettingsRecord kBuiltInDefaults = {0, 100, 100, 100, 1, 1};

// For now the records live in memory only: nothing is read from or written to
// a file yet.
class SettingsStore {
public:
    void Load(const std::string& baseName, SectionCallback callback);
    // 1 when another section became current, 0 when it already was.
    int32_t SelectSection(int64_t sectionId);
    void Save();

    SettingsRecord current = kBuiltInDefaults;
    SettingsRecord defaults = kBuiltInDefaults;

private:
    void CommitCurrent();
    void LoadCurrent();

    std::vector<SettingsRecord> records_;
    int32_t currentIndex_ = -1;
    SectionCallback sectionCallback_ = nullptr;
};

}  // namespace zvk
