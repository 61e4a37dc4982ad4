// The settings reader's lookups as plain scans over the lines of the text,
// with no index: what the indexed reader and the store's Load must answer,
// position for position. For the fuzz targets only; slow on big texts.
#pragma once

#include <string>
#include <string_view>

#include "settings/settings_text.h"

namespace zvk::plain {

// Circular from sectionPos, every line compared in turn.
inline bool FindSection(SettingsText& text, std::string_view name)
{
    if (text.readSize == 0)
        return false;
    if (text.sectionPos >= text.readSize)
        text.sectionPos = 0;
    const std::string wanted = "[" + std::string(Trim(name)) + "]";
    size_t start = text.sectionPos;
    bool wrapped = false;
    std::string_view line;
    for (;;) {
        text.readPos = start;
        text.ReadLine(line);
        if (Trim(line) == wanted) {
            text.sectionPos = start;
            return true;
        }
        start = text.readPos;
        if (start >= text.readSize) {
            start = 0;
            wrapped = true;
        }
        if (start == text.sectionPos || (wrapped && start > text.sectionPos))
            return false;
    }
}

inline bool FindValue(SettingsText& text, std::string_view section, std::string_view key, std::string_view& value)
{
    value = {};
    key = Trim(key);
    if (!FindSection(text, section))
        return false;
    std::string_view line;
    while (text.ReadLine(line)) {
        line = TrimLeft(line);
        if (line.empty())
            continue;
        if (line.front() == '[')
            return false;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos || TrimRight(line.substr(0, equals)) != key)
            continue;
        value = line.substr(equals + 1);
        return !value.empty();
    }
    return false;
}

// The five settings of a section, the missing ones at their defaults.
struct Values {
    int32_t v[5];
    bool operator==(const Values& o) const
    {
        return v[0] == o.v[0] && v[1] == o.v[1] && v[2] == o.v[2] && v[3] == o.v[3] && v[4] == o.v[4];
    }
};

inline Values ReadValues(SettingsText& text, std::string_view section)
{
    static const char* const keys[5] = {"RGamma", "GGamma", "BGamma", "Binding", "Enable"};
    Values values = {{100, 100, 100, 1, 1}};
    for (int i = 0; i < 5; ++i) {
        std::string_view found;
        if (FindValue(text, section, keys[i], found))
            values.v[i] = ParseDecimal32(found);
    }
    return values;
}

}  // namespace zvk::plain
