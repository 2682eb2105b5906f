#include "base/TextEncoding.h"
#include "base/TextLines.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace zelto;

TEST(TextEncoding, Cp1252BothWays) {
    const struct {
        std::string cp1252;
        std::string utf8;
    } cases[] = {
        {"A", "A"},           {"\x80", "€"},           {"\x81", "\xC2\x81"}, {"\x8A\x9F", "ŠŸ"},
        {"\xB0" "C", "°C"},   {"\xE9t\xE9", "été"},    {"\xFF", "ÿ"},        {"\x92\x93\x94", "’“”"},
        {std::string("\0x", 2), std::string("\0x", 2)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Cp1252ToUtf8(c.cp1252), c.utf8);
        EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252);
    }
    // Every byte survives the round trip.
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
    EXPECT_EQ(Utf8ToLatin1(Latin1ToUtf8(all)), all);
    // Characters without a byte, and malformed sequences, become the replacement.
    EXPECT_EQ(Utf8ToCp1252("Ā😀"), "??");
    EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");
    EXPECT_EQ(Utf8ToLatin1("€é"), "?\xE9");
    EXPECT_EQ(Utf8ToLatin1("x", '#'), "x");
    EXPECT_EQ(Utf8ToLatin1("\xC0\x80", '#'), "##");
}

TEST(TextEncoding, Utf8Decoding) {
    const struct {
        std::string text;
        bool ok;
        char32_t codePoint;
        std::size_t next;
    } cases[] = {
        {"A", true, U'A', 1},           {"é", true, U'é', 2},           {"€", true, U'€', 3},
        {"😀", true, U'😀', 4},         {"\xC0\x80", false, 0, 1},      {"\xE0\x80\x80", false, 0, 1},
        {"\xED\xA0\x80", false, 0, 1},  {"\xF4\x90\x80\x80", false, 0, 1}, {"\xE2\x82", false, 0, 1},
        {"\x80", false, 0, 1},          {"\xFF", false, 0, 1},          {"\xC3x", false, 0, 1},
    };
    for (const auto& c : cases) {
        std::size_t pos = 0;
        char32_t cp = 0;
        EXPECT_EQ(NextUtf8CodePoint(c.text, pos, cp), c.ok) << c.text;
        EXPECT_EQ(pos, c.next) << c.text;
        if (c.ok) {
            EXPECT_EQ(cp, c.codePoint);
            std::string back;
            AppendUtf8(back, cp);
            EXPECT_EQ(back, c.text);
        }
    }
}

TEST(TextEncoding, TextFilesByByteOrderMarkOrByTheirBytes) {
    // text: Windows-1252 unless marked; detected: UTF-8 when the bytes are valid UTF-8.
    const struct {
        std::string bytes;
        std::string text;
        std::string detected;
    } cases[] = {
        {"plain \xB0", "plain °", "plain °"},
        {"utf-8 \xC2\xB0", "utf-8 \xC3\x82°", "utf-8 °"},
        {"mixed \xC2\xB0 \xB0", "mixed \xC3\x82° °", "mixed \xC3\x82° °"},
        {"cut \xE2\x82", "cut \xC3\xA2\xE2\x80\x9A", "cut \xC3\xA2\xE2\x80\x9A"},
        {"overlong \xC0\xAF", "overlong \xC3\x80\xC2\xAF", "overlong \xC3\x80\xC2\xAF"},
        {"\xEF\xBB\xBF" "utf-8 \xC2\xB0", "utf-8 °", "utf-8 °"},
        {"\xEF\xBB\xBF" "bad \xB0", "bad \xEF\xBF\xBD", "bad °"},
        {std::string("\xFF\xFE" "A\0\xAC\x20", 6), "A€", "A€"},
        {std::string("\xFE\xFF\0A\x20\xAC", 6), "A€", "A€"},
        {std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), "😀", "😀"},
        {std::string("\xFF\xFE\x00\xD8" "A\0", 6), "\xEF\xBF\xBD" "A", "\xEF\xBF\xBD" "A"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextFileToUtf8(c.bytes), c.text) << c.bytes;
        EXPECT_EQ(TextFileToUtf8(c.bytes, TTextFileBytes::Utf8IfValid), c.detected) << c.bytes;
        EXPECT_EQ(IsValidUtf8(c.detected), true) << c.bytes;
    }
}

TEST(TextLines, SplitAtEveryKindOfLineBreak) {
    using Lines = std::vector<std::string>;
    const struct {
        std::string text;
        Lines lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"a\n\r", {"a", ""}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitLines(c.text), c.lines) << c.text;
}
