#include "settings/settings_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <new>

namespace zvk {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// A header line, already trimmed: "[" ... "]".
bool IsHeader(std::string_view line)
{
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

// Digits with an optional sign after leading white space, accumulated
// modulo 2^64; the caller keeps the width it needs.
uint64_t ParseDecimalBits(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && IsSettingsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    return negative ? 0 - value : value;
}

template <typename T>
std::string Decimal(T value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
}

bool IsKnownType(int32_t type)
{
    return type >= 0 && type <= kSettingLastType;
}

// Stores a number at a row's location with the width its code gives.
void StoreNumber(const SettingDescriptor& row, uint64_t bits)
{
    switch (row.type) {
    case kSettingU8:
        *static_cast<uint8_t*>(row.value) = static_cast<uint8_t>(bits);
        break;
    case kSettingS16:
        *static_cast<int16_t*>(row.value) = static_cast<int16_t>(bits);
        break;
    case kSettingU16:
    case kSettingU16Alt3:
        *static_cast<uint16_t*>(row.value) = static_cast<uint16_t>(bits);
        break;
    case kSettingU32:
    case kSettingU32Alt5:
    case kSettingU32Alt7:
    case kSettingU32Alt9:
        *static_cast<uint32_t*>(row.value) = static_cast<uint32_t>(bits);
        break;
    case kSettingS32:
    case kSettingS32Alt8:
        *static_cast<int32_t*>(row.value) = static_cast<int32_t>(bits);
        break;
    case kSettingS64:
        *static_cast<int64_t*>(row.value) = static_cast<int64_t>(bits);
        break;
    case kSettingU64:
        *static_cast<uint64_t*>(row.value) = bits;
        break;
    default:
        break;
    }
}

std::string FormatValue(const SettingDescriptor& row)
{
    switch (row.type) {
    case kSettingU8:
        return Decimal(unsigned{*static_cast<const uint8_t*>(row.value)});
    case kSettingS16:
        return Decimal(int{*static_cast<const int16_t*>(row.value)});
    case kSettingU16:
    case kSettingU16Alt3:
        return Decimal(unsigned{*static_cast<const uint16_t*>(row.value)});
    case kSettingU32:
    case kSettingU32Alt5:
    case kSettingU32Alt7:
    case kSettingU32Alt9:
        return Decimal(*static_cast<const uint32_t*>(row.value));
    case kSettingS32:
    case kSettingS32Alt8:
        return Decimal(*static_cast<const int32_t*>(row.value));
    case kSettingS64:
        return Decimal(*static_cast<const int64_t*>(row.value));
    case kSettingU64:
        return Decimal(*static_cast<const uint64_t*>(row.value));
    case kSettingText:
        return *static_cast<const std::string*>(row.value);
    default:
        return {};
    }
}

}  // namespace

bool IsSettingsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view TrimLeft(std::string_view text)
{
    size_t begin = 0;
    while (begin < text.size() && IsSettingsSpace(text[begin]))
        ++begin;
    return text.substr(begin);
}

std::string_view TrimRight(std::string_view text)
{
    size_t end = text.size();
    while (end > 0 && IsSettingsSpace(text[end - 1]))
        --end;
    return text.substr(0, end);
}

std::string_view Trim(std::string_view text)
{
    return TrimRight(TrimLeft(text));
}

int32_t ParseDecimal32(std::string_view text)
{
    return static_cast<int32_t>(static_cast<uint32_t>(ParseDecimalBits(text)));
}

int64_t ParseDecimal64(std::string_view text)
{
    return static_cast<int64_t>(ParseDecimalBits(text));
}

bool SettingsText::SetReadText(std::unique_ptr<char[]> buffer, size_t size)
{
    readBuffer = std::move(buffer);
    readSize = readBuffer ? size : 0;
    readPos = 0;
    sectionPos = 0;
    if (IndexHeaders())
        return true;
    readBuffer.reset();
    readSize = 0;
    return false;
}

// The trimmed text of the line that starts at start; empty for the text
// after the last line end, which is never read.
std::string_view SettingsText::HeaderLineAt(size_t start) const
{
    const char* text = readBuffer.get();
    size_t end = start;
    while (end < readSize && !IsLineEnd(text[end]))
        ++end;
    return end < readSize ? Trim(std::string_view(text + start, end - start)) : std::string_view();
}

// One pass counts the header lines, one records them; equal lines keep
// their file order.
bool SettingsText::IndexHeaders()
{
    headerLines.reset();
    headerCount = 0;
    missingHeader.clear();
    size_t count = 0;
    std::string_view line;
    for (readPos = 0; ReadLine(line);)
        count += IsHeader(Trim(line)) ? 1 : 0;
    readPos = 0;
    if (count == 0)
        return true;
    headerLines.reset(new (std::nothrow) std::string_view[count]);
    if (!headerLines)
        return false;
    while (ReadLine(line)) {
        line = Trim(line);
        if (IsHeader(line))
            headerLines[headerCount++] = line;
    }
    readPos = 0;
    std::sort(headerLines.get(), headerLines.get() + headerCount, [](std::string_view a, std::string_view b) {
        const int order = a.compare(b);
        return order < 0 || (order == 0 && a.data() < b.data());
    });
    return true;
}

// Where the line of a header from the index starts: before the blanks that
// trimming took off.
size_t SettingsText::LineStart(std::string_view header) const
{
    size_t start = static_cast<size_t>(header.data() - readBuffer.get());
    while (start > 0 && IsSettingsSpace(readBuffer[start - 1]) && !IsLineEnd(readBuffer[start - 1]))
        --start;
    return start;
}

void SettingsText::ClearReadText()
{
    SetReadText(nullptr, 0);
}

bool SettingsText::ReadLine(std::string_view& line)
{
    line = {};
    if (readPos >= readSize)
        return false;
    const char* text = readBuffer.get();
    size_t end = readPos;
    while (end < readSize && !IsLineEnd(text[end]))
        ++end;
    if (end == readSize) {
        // Text after the last line end is never read.
        readPos = readSize;
        return false;
    }
    line = std::string_view(text + readPos, end - readPos);
    // CR LF, LF CR, CR CR and LF LF are each one line end.
    ++end;
    if (end < readSize && IsLineEnd(text[end]))
        ++end;
    readPos = end;
    return true;
}

bool SettingsText::FindSection(std::string_view name)
{
    if (readSize == 0)
        return false;
    if (sectionPos >= readSize)
        sectionPos = 0;
    const std::string wanted = "[" + std::string(Trim(name)) + "]";
    // The first such header at or after sectionPos, else the first of all:
    // what a circular search from the section found last would meet first.
    // Mostly that is the header the reader stands on.
    if (HeaderLineAt(sectionPos) == wanted)
        return StandOnSection();
    // A header that is nowhere is asked for once per key.
    if (wanted == missingHeader)
        return false;
    // A header's line starts at or after sectionPos exactly when its
    // trimmed text does, sectionPos being a line start.
    const std::string_view* first = headerLines.get();
    const std::string_view* last = first + headerCount;
    const auto firstFrom = [&](const char* from) {
        const std::string_view* at = std::lower_bound(first, last, from, [&](std::string_view header, const char* p) {
            const int order = header.compare(wanted);
            return order < 0 || (order == 0 && header.data() < p);
        });
        return at != last && *at == wanted ? at : nullptr;
    };
    const std::string_view* found = firstFrom(readBuffer.get() + sectionPos);
    if (!found)
        found = firstFrom(readBuffer.get());
    if (!found) {
        missingHeader = wanted;
        return false;
    }
    sectionPos = LineStart(*found);
    return StandOnSection();
}

// Puts the reader on the first line of the section found.
bool SettingsText::StandOnSection()
{
    readPos = sectionPos;
    std::string_view line;
    ReadLine(line);
    return true;
}

bool SettingsText::FirstSection(std::string& name)
{
    if (readSize == 0)
        return false;
    std::string_view line;
    readPos = 0;
    for (size_t start = 0; ReadLine(line); start = readPos) {
        line = Trim(line);
        if (IsHeader(line)) {
            sectionPos = start;
            name.assign(line.substr(1, line.size() - 2));
            return true;
        }
    }
    return false;
}

bool SettingsText::NextSection(std::string& name)
{
    if (readSize == 0)
        return false;
    readPos = sectionPos;
    std::string_view line;
    ReadLine(line);  // the header found last
    for (;;) {
        const size_t start = readPos;
        if (!ReadLine(line))
            return false;
        line = Trim(line);
        if (IsHeader(line)) {
            sectionPos = start;
            name.assign(line.substr(1, line.size() - 2));
            return true;
        }
    }
}

bool SettingsText::FindValue(std::string_view section, std::string_view key, std::string_view& value)
{
    value = {};
    key = Trim(key);
    if (!FindSection(section))
        return false;
    std::string_view line;
    while (ReadLine(line)) {
        line = TrimLeft(line);
        if (line.empty())
            continue;
        if (line.front() == '[')
            return false;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        if (TrimRight(line.substr(0, equals)) != key)
            continue;
        // The first matching line decides, also when its value is empty.
        value = line.substr(equals + 1);
        return !value.empty();
    }
    return false;
}

void SettingsText::ReadSettings(std::string_view section, const SettingDescriptor* table, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const SettingDescriptor& row = table[i];
        if (!IsKnownType(row.type))
            continue;
        std::string_view text;
        const bool found = FindValue(section, row.key, text);
        if (row.type == kSettingText) {
            auto& target = *static_cast<std::string*>(row.value);
            if (found)
                target.assign(text);
            else
                target.assign(row.defaultText ? row.defaultText : "");
        } else if (!found) {
            StoreNumber(row, static_cast<uint64_t>(row.defaultValue));
        } else if (row.type == kSettingS64 || row.type == kSettingU64) {
            StoreNumber(row, static_cast<uint64_t>(ParseDecimal64(text)));
        } else {
            // A 32-bit parse, sign-extended so that the narrow codes keep its
            // low bits.
            StoreNumber(row, static_cast<uint64_t>(int64_t{ParseDecimal32(text)}));
        }
    }
}

bool SettingsText::StartWrite()
{
    writeBuffer.reset();
    writeLength = 0;
    writeCapacity = 0;
    writeTruncated = false;
    if (kWriteStep > writeCapacityLimit)
        return false;
    writeBuffer.reset(new (std::nothrow) char[kWriteStep]);
    if (!writeBuffer)
        return false;
    writeCapacity = kWriteStep;
    return true;
}

void SettingsText::WriteSectionHeader(std::string_view name)
{
    std::string line;
    line.reserve(name.size() + 4);
    line.append("[").append(Trim(name)).append("]").append(kLineEnd);
    AppendText(line);
}

void SettingsText::WriteValue(std::string_view key, std::string_view text)
{
    std::string line;
    line.reserve(key.size() + text.size() + 3);
    line.append(Trim(key)).append("=").append(text).append(kLineEnd);
    AppendText(line);
}

void SettingsText::WriteSettings(const SettingDescriptor* table, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (IsKnownType(table[i].type))
            WriteValue(table[i].key, FormatValue(table[i]));
    }
}

void SettingsText::AppendText(std::string_view text)
{
    if (!writeBuffer || writeTruncated) {
        writeTruncated = true;
        return;
    }
    if (text.size() > writeCapacity - writeLength && !GrowWriteBuffer(writeLength + text.size())) {
        // Nothing is ever written beyond the buffer; the text is marked
        // incomplete instead, so that it is never saved.
        writeTruncated = true;
        return;
    }
    std::memcpy(writeBuffer.get() + writeLength, text.data(), text.size());
    writeLength += text.size();
}

// Grows in whole steps of kWriteStep, at least doubling, so that a very long
// text costs a few copies rather than one per step.
bool SettingsText::GrowWriteBuffer(size_t needed)
{
    if (needed < writeLength || needed > writeCapacityLimit)
        return false;
    size_t capacity = writeCapacity <= writeCapacityLimit / 2 ? writeCapacity * 2 : writeCapacityLimit;
    if (capacity < needed)
        capacity = needed;
    if (capacity % kWriteStep != 0) {
        const size_t rounded = capacity + (kWriteStep - capacity % kWriteStep);
        capacity = rounded <= writeCapacityLimit && rounded > capacity ? rounded : capacity;
    }
    std::unique_ptr<char[]> grown(new (std::nothrow) char[capacity]);
    if (!grown)
        return false;
    std::memcpy(grown.get(), writeBuffer.get(), writeLength);
    writeBuffer = std::move(grown);
    writeCapacity = capacity;
    return true;
}

}  // namespace zvk
