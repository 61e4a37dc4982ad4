// Fuzz target: the settings text reader and writer on arbitrary bytes.
// Aborts when an invariant breaks; the sanitizers catch the rest.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "settings/settings_text.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/plain_reader.h"

namespace {

using zvk::SettingDescriptor;
using zvk::SettingsText;

bool Inside(std::string_view part, const char* begin, size_t size)
{
    return part.empty() || (part.data() >= begin && part.data() + part.size() <= begin + size);
}

// One slot of every type code, compared as raw bytes.
struct Slots {
    uint8_t u8 = 0;
    int16_t s16 = 0;
    uint16_t u16a = 0, u16b = 0;
    uint32_t u32a = 0, u32b = 0, u32c = 0, u32d = 0;
    int32_t s32a = 0, s32b = 0;
    int64_t s64 = 0;
    uint64_t u64 = 0;
    std::string text;
    int32_t skipped = 0x5A5A5A5A;

    bool operator==(const Slots& o) const
    {
        return u8 == o.u8 && s16 == o.s16 && u16a == o.u16a && u16b == o.u16b && u32a == o.u32a && u32b == o.u32b &&
               u32c == o.u32c && u32d == o.u32d && s32a == o.s32a && s32b == o.s32b && s64 == o.s64 && u64 == o.u64 &&
               text == o.text && skipped == o.skipped;
    }
};

// Row n has type code n; keys[n % keys.size()] is its key.
std::vector<SettingDescriptor> Table(Slots& s, const std::vector<std::string>& keys)
{
    void* const values[] = {&s.u8,   &s.s16,  &s.u16a, &s.u16b, &s.u32a, &s.u32b, &s.s32a,
                            &s.u32c, &s.s32b, &s.u32d, &s.s64,  &s.u64,  &s.text, &s.skipped};
    std::vector<SettingDescriptor> table;
    for (int32_t code = 0; code <= 13; ++code)
        table.push_back({code, keys[static_cast<size_t>(code) % keys.size()].c_str(), values[code], code * 1000 - 7, "d"});
    return table;
}

const std::vector<std::string>& DistinctKeys()
{
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> k;
        for (int i = 0; i <= 13; ++i)
            k.push_back("K" + std::to_string(i));
        return k;
    }();
    return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size copy, so that any read past the end is caught.
    std::unique_ptr<char[]> bytes(new char[size ? size : 1]);
    if (size)
        std::memcpy(bytes.get(), data, size);
    const char* begin = bytes.get();
    SettingsText text;
    text.SetReadText(std::move(bytes), size);

    // Lines: inside the text, without line ends, always moving forward.
    size_t lines = 0;
    std::vector<std::string> keys;
    std::string_view line;
    size_t before = text.readPos;
    while (text.ReadLine(line)) {
        CHECK(Inside(line, begin, size));
        CHECK(line.find_first_of("\r\n") == std::string_view::npos);
        CHECK(text.readPos > before && text.readPos <= size);
        before = text.readPos;
        ++lines;
        const size_t equals = line.find('=');
        if (equals != std::string_view::npos && keys.size() < 8)
            keys.emplace_back(zvk::Trim(line.substr(0, equals)));
    }
    CHECK(text.readPos == size);
    if (keys.empty())
        keys.push_back("K");

    // Sections: forward only, never more than there are lines.
    std::vector<std::string> names;
    std::vector<size_t> starts = {0};
    std::string name;
    while (text.NextSection(name)) {
        CHECK(text.sectionPos < size);
        names.push_back(name);
        if (starts.size() < 16)
            starts.push_back(text.sectionPos);
        CHECK(names.size() <= lines);
    }
    if (names.empty())
        names.push_back("S");

    // Lookups: a found section stands where the reader says, a found value
    // is a non-empty part of the text.
    for (size_t i = 0; i < names.size() && i < 16; ++i) {
        if (text.FindSection(names[i])) {
            const size_t at = text.sectionPos;
            text.readPos = at;
            CHECK(text.ReadLine(line));
            CHECK(zvk::Trim(line) == "[" + std::string(zvk::Trim(names[i])) + "]");
        }
        for (const std::string& key : keys) {
            std::string_view value;
            if (text.FindValue(names[i], key, value)) {
                CHECK(!value.empty());
                CHECK(Inside(value, begin, size));
            }
        }
    }

    // The indexed search finds what a plain scan of the lines finds, from
    // wherever the reader stands, and leaves the reader where it would.
    SettingsText plainText;
    std::unique_ptr<char[]> plainCopy(new char[size ? size : 1]);
    if (size)
        std::memcpy(plainCopy.get(), data, size);
    plainText.SetReadText(std::move(plainCopy), size);
    for (size_t i = 0; i < names.size() && i < 16; ++i) {
        for (const std::string& wanted : {names[i], std::string(zvk::Trim(names[i])), " " + names[i] + " "}) {
            for (const size_t start : starts) {
                text.sectionPos = plainText.sectionPos = start;
                const bool found = text.FindSection(wanted);
                CHECK(found == zvk::plain::FindSection(plainText, wanted));
                CHECK(text.sectionPos == plainText.sectionPos);
                if (found)
                    CHECK(text.readPos == plainText.readPos);
            }
        }
    }

    // Every type code prints what it read so that it reads back the same.
    Slots first;
    const std::vector<SettingDescriptor> fromFile = Table(first, keys);
    text.ReadSettings(names[0], fromFile.data(), fromFile.size());
    CHECK(first.skipped == 0x5A5A5A5A);
    const std::vector<SettingDescriptor> out = Table(first, DistinctKeys());
    CHECK(text.StartWrite());
    text.WriteSectionHeader(names[0]);
    text.WriteSettings(out.data(), out.size());
    CHECK(text.WriteComplete());
    const std::string written(text.WrittenText());

    SettingsText again;
    std::unique_ptr<char[]> copy(new char[written.size()]);
    std::memcpy(copy.get(), written.data(), written.size());
    again.SetReadText(std::move(copy), written.size());
    Slots second;
    second.text = "other";
    const std::vector<SettingDescriptor> in = Table(second, DistinctKeys());
    // The header is found under its trimmed name, as it was written.
    again.ReadSettings(zvk::Trim(names[0]), in.data(), in.size());
    CHECK(first == second);
    return 0;
}
