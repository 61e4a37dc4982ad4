// The settings text reader and writer on texts in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "settings/settings_text.h"

namespace zvk {
namespace {

void Give(SettingsText& text, const std::string& bytes)
{
    std::unique_ptr<char[]> buffer(new char[bytes.size() + 1]);
    std::memcpy(buffer.get(), bytes.data(), bytes.size());
    text.SetReadText(std::move(buffer), bytes.size());
}

std::vector<std::string> Lines(const std::string& bytes)
{
    SettingsText text;
    Give(text, bytes);
    std::vector<std::string> lines;
    std::string_view line;
    while (text.ReadLine(line))
        lines.emplace_back(line);
    EXPECT_EQ(text.readPos, text.readSize) << "the reader stops at the end";
    return lines;
}

using Strings = std::vector<std::string>;

TEST(SettingsReader, LineEndsAndTheUnendedLastLine)
{
    const struct {
        const char* name;
        std::string bytes;
        Strings lines;
    } cases[] = {
        {"CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"LF", "a\nb\n", {"a", "b"}},
        {"CR", "a\rb\r", {"a", "b"}},
        {"LF CR", "a\n\rb\n\r", {"a", "b"}},
        {"CR CR is one end", "a\r\rb\r", {"a", "b"}},
        {"LF LF is one end", "a\n\nb\n", {"a", "b"}},
        {"CR LF CR LF leaves one empty line", "a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"three ends", "a\n\n\nb\n", {"a", "", "b"}},
        {"last line without an end", "a\r\nlast", {"a"}},
        {"no line end at all", "just text", {}},
        {"empty", "", {}},
        {"NUL bytes are ordinary", std::string("a\0b\n\0\n", 6), {std::string("a\0b", 3), std::string("\0", 1)}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Lines(c.bytes), c.lines) << c.name;
}

TEST(SettingsReader, KeysAndValues)
{
    const struct {
        const char* name;
        std::string file;
        const char* section;
        const char* key;
        bool found;
        std::string value;
    } cases[] = {
        {"blanks around the equals sign", "[S]\r\n  RGamma  =  150\r\n", "S", "RGamma", true, "  150"},
        {"the key is trimmed too", "[S]\r\nRGamma=1\r\n", " S ", " RGamma\t", true, "1"},
        {"keys are case-sensitive", "[S]\r\nrgamma=150\r\n", "S", "RGamma", false, ""},
        {"sections are case-sensitive", "[dialog]\r\nX=1\r\n", "DIALOG", "X", false, ""},
        {"blanks inside the brackets", "[ S ]\r\nX=1\r\n", "S", "X", false, ""},
        {"blanks around the header", " \t[S] \r\nX=1\r\n", "S", "X", true, "1"},
        {"an empty value is missing", "[S]\r\nX=\r\nX=2\r\n", "S", "X", false, ""},
        {"the first match decides", "[S]\r\nX=1\r\nX=2\r\n", "S", "X", true, "1"},
        {"only the first equals sign splits", "[S]\r\nX=a=b \r\n", "S", "X", true, "a=b "},
        {"no comments: a semicolon is part of the key", "[S]\r\n;X=1\r\nX=2\r\n", "S", "X", true, "2"},
        {"lines without equals sign are skipped", "[S]\r\nnoise\r\n\r\nX=3\r\n", "S", "X", true, "3"},
        {"the next header ends the section", "[S]\r\n[T]\r\nX=1\r\n", "S", "X", false, ""},
        {"an indented header ends it too", "[S]\r\n  [T\r\nX=1\r\n", "S", "X", false, ""},
        {"text after the last line end", "[S]\r\nX=1", "S", "X", false, ""},
        {"a missing section", "[S]\r\nX=1\r\n", "T", "X", false, ""},
    };
    for (const auto& c : cases) {
        SettingsText text;
        Give(text, c.file);
        std::string_view value;
        EXPECT_EQ(text.FindValue(c.section, c.key, value), c.found) << c.name;
        if (c.found) {
            EXPECT_EQ(std::string(value), c.value) << c.name;
        }
    }
}

TEST(SettingsReader, SectionSearchWrapsAroundFromTheSectionFoundLast)
{
    SettingsText text;
    Give(text, "[A]\r\nK=1\r\n[B]\r\nK=2\r\n[C]\r\nK=3\r\n");
    std::string_view value;
    ASSERT_TRUE(text.FindValue("C", "K", value));
    const size_t atC = text.sectionPos;
    EXPECT_EQ(atC, 20u);
    ASSERT_TRUE(text.FindValue("A", "K", value)) << "found after wrapping to the start";
    EXPECT_EQ(value, "1");
    EXPECT_EQ(text.sectionPos, 0u);
    ASSERT_TRUE(text.FindSection("B"));
    const size_t atB = text.sectionPos;
    EXPECT_FALSE(text.FindSection("D"));
    EXPECT_EQ(text.sectionPos, atB) << "a failed search leaves the section found last";

    Give(text, "[A]\r\n[B]");
    EXPECT_TRUE(text.FindSection("A"));
    EXPECT_FALSE(text.FindSection("B")) << "a header without a line end is not read";
    Give(text, "[B]");
    EXPECT_FALSE(text.FindSection("B")) << "not even where the reader stands";
}

TEST(SettingsReader, SectionEnumerationGoesForwardOnly)
{
    SettingsText text;
    Give(text, "[first]\r\n[ 5 ]\r\nX=1\r\n  [12abc]  \r\n[x\r\n[]\r\n[last]");
    std::string name;
    Strings names;
    while (text.NextSection(name))
        names.push_back(name);
    // Position 0's own header is skipped; names come untrimmed; the unended
    // last line is not read.
    EXPECT_EQ(names, (Strings{" 5 ", "12abc", ""}));
    EXPECT_FALSE(text.NextSection(name)) << "no wrap-around";
}

TEST(SettingsReader, NoTextFindsNothingAndGivesDefaults)
{
    SettingsText text;
    int32_t value = 7;
    std::string words = "old";
    const SettingDescriptor table[] = {{kSettingS32, "V", &value, -3, nullptr},
                                       {kSettingText, "T", &words, 0, "fallback"}};
    std::string name;
    std::string_view found;
    EXPECT_FALSE(text.FindSection("S"));
    EXPECT_FALSE(text.NextSection(name));
    EXPECT_FALSE(text.FindValue("S", "V", found));
    text.ReadSettings("S", table, 2);
    EXPECT_EQ(value, -3);
    EXPECT_EQ(words, "fallback");
}

TEST(SettingsReader, DecimalParseStopsAtTheFirstOtherCharacter)
{
    const struct {
        const char* text;
        int32_t value32;
        int64_t value64;
    } cases[] = {
        {"150", 150, 150},
        {" \t\v\f\r\n+12x", 12, 12},
        {"-7", -7, -7},
        {"12abc", 12, 12},
        {"abc", 0, 0},
        {"", 0, 0},
        {"- 5", 0, 0},
        {"+-5", 0, 0},
        {"0x10", 0, 0},
        {"2147483647", INT32_MAX, 2147483647},
        {"-2147483648", INT32_MIN, -2147483648LL},
        {"4294967295", -1, 4294967295LL},
        {"4294967296", 0, 4294967296LL},
        {"-9223372036854775808", 0, INT64_MIN},
        {"18446744073709551615", -1, -1},
        // Beyond the width the digits wrap around (10^23 - 1 modulo 2^32, 2^64).
        {"99999999999999999999999", -159383553, 200376420520689663LL},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseDecimal32(c.text), c.value32) << c.text;
        EXPECT_EQ(ParseDecimal64(c.text), c.value64) << c.text;
    }
}

// One value of every type code, read from "V=text" and written back.
TEST(SettingsReader, TypeCodesStoreParseAndPrint)
{
    union Slot {
        uint8_t u8;
        int16_t s16;
        uint16_t u16;
        uint32_t u32;
        int32_t s32;
        int64_t s64;
        uint64_t u64;
    };
    const struct {
        int32_t type;
        const char* text;  // null: key missing, the default applies
        int64_t defaultValue;
        uint64_t stored;   // the slot's bits, zero-extended
        const char* printed;
    } cases[] = {
        {0, "300", 0, 44, "44"},
        {0, "-1", 0, 255, "255"},
        {0, nullptr, 300, 44, "44"},
        {1, "40000", 0, 0x9C40, "-25536"},
        {1, nullptr, -2, 0xFFFE, "-2"},
        {2, "70000", 0, 4464, "4464"},
        {3, "-1", 0, 0xFFFF, "65535"},
        {3, nullptr, 65537, 1, "1"},
        {4, "-1", 0, 0xFFFFFFFF, "4294967295"},
        {5, "4294967295", 0, 0xFFFFFFFF, "4294967295"},
        {7, "17", 0, 17, "17"},
        {9, nullptr, 9, 9, "9"},
        {6, "-5", 0, 0xFFFFFFFB, "-5"},
        {8, "2147483648", 0, 0x80000000, "-2147483648"},
        {8, "abc", 0, 0, "0"},
        {10, "-9223372036854775808", 0, 0x8000000000000000ULL, "-9223372036854775808"},
        {10, "-1", 0, ~0ULL, "-1"},
        {11, "18446744073709551615", 0, ~0ULL, "18446744073709551615"},
        {11, "-1", 0, ~0ULL, "18446744073709551615"},
        {11, nullptr, 5, 5, "5"},
    };
    for (const auto& c : cases) {
        const std::string label = "code " + std::to_string(c.type) + " " + (c.text ? c.text : "(missing)");
        SettingsText text;
        Give(text, c.text ? std::string("[S]\r\nV=") + c.text + "\r\n" : "[S]\r\n");
        Slot slot;
        slot.u64 = 0;
        const SettingDescriptor row = {c.type, "V", &slot, c.defaultValue, nullptr};
        text.ReadSettings("S", &row, 1);
        EXPECT_EQ(slot.u64, c.stored) << label;
        ASSERT_TRUE(text.StartWrite());
        text.WriteSettings(&row, 1);
        EXPECT_EQ(text.WrittenText(), std::string("V=") + c.printed + "\r\n") << label;
    }
}

TEST(SettingsReader, TextValuesAndUnknownTypeCodes)
{
    SettingsText text;
    Give(text, "[S]\r\nName= two words \r\nSkipped=5\r\n");
    std::string name;
    int32_t skipped = 99;
    int32_t negative = 98;
    const SettingDescriptor table[] = {
        {kSettingText, "Name", &name, 0, nullptr},
        {13, "Skipped", &skipped, 1, nullptr},
        {-1, "Skipped", &negative, 1, nullptr},
    };
    text.ReadSettings("S", table, 3);
    EXPECT_EQ(name, " two words ") << "text is taken unchanged";
    EXPECT_EQ(skipped, 99) << "code 13 is not read";
    EXPECT_EQ(negative, 98);
    ASSERT_TRUE(text.StartWrite());
    text.WriteSettings(table, 3);
    EXPECT_EQ(text.WrittenText(), "Name= two words \r\n") << "nor written";
}

TEST(SettingsWriter, HeadersAndKeyLines)
{
    SettingsText text;
    ASSERT_TRUE(text.StartWrite());
    EXPECT_EQ(text.writeCapacity, 100000u);
    text.WriteSectionHeader("  5\t");
    text.WriteValue(" Key ", " value ");
    text.WriteValue("Empty", "");
    EXPECT_EQ(text.WrittenText(), "[5]\r\nKey= value \r\nEmpty=\r\n");
    EXPECT_TRUE(text.WriteComplete());
}

TEST(SettingsWriter, GrowsInWholeStepsAndKeepsEveryByte)
{
    SettingsText text;
    ASSERT_TRUE(text.StartWrite());
    std::string expected;
    for (int i = 0; i < 30000; ++i) {
        const std::string line = "line " + std::to_string(i) + "\r\n";
        text.AppendText(line);
        expected += line;
    }
    EXPECT_GT(text.writeCapacity, 100000u);
    EXPECT_EQ(text.writeCapacity % 100000, 0u);
    EXPECT_GE(text.writeCapacity, text.writeLength);
    EXPECT_EQ(text.WrittenText(), expected);
    EXPECT_TRUE(text.WriteComplete());
}

TEST(SettingsWriter, ABufferThatCannotGrowMarksTheTextIncomplete)
{
    SettingsText text;
    text.writeCapacityLimit = 100000;
    ASSERT_TRUE(text.StartWrite());
    const std::string chunk(60000, 'x');
    text.AppendText(chunk);
    text.AppendText(chunk);  // does not fit and cannot grow
    text.AppendText("y");    // would fit, but the text has a hole already
    EXPECT_FALSE(text.WriteComplete());
    EXPECT_EQ(text.writeLength, 60000u) << "nothing beyond the buffer";
    EXPECT_EQ(text.writeCapacity, 100000u);

    ASSERT_TRUE(text.StartWrite()) << "a fresh start is complete again";
    EXPECT_TRUE(text.WriteComplete());

    text.writeCapacityLimit = 99999;
    EXPECT_FALSE(text.StartWrite()) << "not even the first buffer";
    text.AppendText("z");
    EXPECT_FALSE(text.WriteComplete());
}

}  // namespace
}  // namespace zvk
