// Settings text format: the INI-style reader over the in-memory copy of the
// settings file and the writer that builds the new text in memory.
// Portable code; may call only the C++ standard library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zvk {

// Type codes of SettingDescriptor: how a value is stored, parsed and printed.
// Several codes behave alike (the Alt ones, named by their code, as the
// type they repeat); codes above 12 are skipped.
enum SettingType : int32_t {
    kSettingU8 = 0,       // uint8_t, "%u"
    kSettingS16 = 1,      // int16_t, "%d"
    kSettingU16 = 2,      // uint16_t, "%u"
    kSettingU16Alt3 = 3,
    kSettingU32 = 4,      // uint32_t, "%u"
    kSettingU32Alt5 = 5,
    kSettingS32 = 6,      // int32_t, "%d"
    kSettingU32Alt7 = 7,
    kSettingS32Alt8 = 8,
    kSettingU32Alt9 = 9,
    kSettingS64 = 10,     // int64_t
    kSettingU64 = 11,     // uint64_t
    kSettingText = 12,    // std::string, unchanged
    kSettingLastType = 12,
};

// One row of a table that drives reading and writing a group of values.
struct SettingDescriptor {
    int32_t type;
    const char* key;
    void* value;               // an object of the type that the code names
    int64_t defaultValue;      // codes 0 to 11
    const char* defaultText;   // code 12; null reads as empty
};

// White space as the runtime library's isspace sees it in the C locale.
bool IsSettingsSpace(char c);
std::string_view Trim(std::string_view text);
std::string_view TrimLeft(std::string_view text);
std::string_view TrimRight(std::string_view text);

// The runtime library's decimal parse: leading white space, an optional sign,
// digits up to the first other character; no digits give 0. Numbers beyond
// the width wrap around rather than overflow, so every 32-bit pattern that
// "%u" prints reads back as itself.
int32_t ParseDecimal32(std::string_view text);
int64_t ParseDecimal64(std::string_view text);

class SettingsText {
public:
    static constexpr size_t kWriteStep = 100000;

    SettingsText() = default;
    SettingsText(const SettingsText&) = delete;
    SettingsText& operator=(const SettingsText&) = delete;

    // Reader. The text is taken over whole; positions restart at 0. False,
    // with no text kept, when there is no memory for the index of its
    // section headers.
    bool SetReadText(std::unique_ptr<char[]> buffer, size_t size);
    void ClearReadText();
    bool ReadLine(std::string_view& line);
    // Circular from sectionPos, which is always the start of a line.
    bool FindSection(std::string_view name);
    // The first header of the text, the line at position 0 included.
    bool FirstSection(std::string& name);
    bool NextSection(std::string& name);
    bool FindValue(std::string_view section, std::string_view key, std::string_view& value);
    void ReadSettings(std::string_view section, const SettingDescriptor* table, size_t count);

    // Writer. StartWrite drops any old text and takes a fresh buffer; false
    // when that memory cannot be had.
    bool StartWrite();
    void WriteSectionHeader(std::string_view name);
    void WriteValue(std::string_view key, std::string_view text);
    void WriteSettings(const SettingDescriptor* table, size_t count);
    void AppendText(std::string_view text);
    // False when some text did not fit because the buffer could not grow:
    // the text is then incomplete and must not be written anywhere.
    bool WriteComplete() const { return writeBuffer && !writeTruncated; }
    std::string_view WrittenText() const { return {writeBuffer.get(), writeLength}; }
    std::string_view ReadText() const { return {readBuffer.get(), readSize}; }

    std::unique_ptr<char[]> readBuffer;
    size_t readSize = 0;
    size_t readPos = 0;
    size_t sectionPos = 0;

    std::unique_ptr<char[]> writeBuffer;
    size_t writeLength = 0;
    size_t writeCapacity = 0;
    bool writeTruncated = false;
    // Largest buffer the writer asks for; above it growing counts as failed.
    size_t writeCapacityLimit = SIZE_MAX / 2;

private:
    bool GrowWriteBuffer(size_t needed);
    bool IndexHeaders();
    std::string_view HeaderLineAt(size_t start) const;
    bool StandOnSection();

    size_t LineStart(std::string_view header) const;

    // Every header line of the text, trimmed, ordered by its text and then
    // by position, so that a lookup costs a binary search instead of a pass
    // over the text.
    std::unique_ptr<std::string_view[]> headerLines;
    size_t headerCount = 0;
    std::string missingHeader;  // the last header looked up in vain
};

}  // namespace zvk
