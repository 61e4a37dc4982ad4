#include "settings/settings_store.h"

namespace zvk {

void SettingsStore::Load(const std::string&, SectionCallback callback)
{
    sectionCallback_ = callback;
    records_.clear();
    currentIndex_ = -1;
    defaults = kBuiltInDefaults;
    current = defaults;
}

int32_t SettingsStore::SelectSection(int64_t sectionId)
{
    if (currentIndex_ != -1 && records_[currentIndex_].sectionId == sectionId)
        return 0;
    CommitCurrent();
    currentIndex_ = -1;
    for (size_t i = 0; i < records_.size(); ++i) {
        if (records_[i].sectionId == sectionId) {
            currentIndex_ = static_cast<int32_t>(i);
            break;
        }
    }
    if (currentIndex_ == -1) {
        SettingsRecord fresh = defaults;
        fresh.sectionId = sectionId;
        records_.push_back(fresh);
        currentIndex_ = static_cast<int32_t>(records_.size() - 1);
    }
    LoadCurrent();
    return 1;
}

void SettingsStore::Save()
{
    CommitCurrent();
}

void SettingsStore::CommitCurrent()
{
    if (currentIndex_ != -1)
        records_[currentIndex_] = current;
}

void SettingsStore::LoadCurrent()
{
    if (currentIndex_ != -1)
        current = records_[currentIndex_];
}

}  // namespace zvk
