#include "zip/uDeflate.h"

#include <gtest/gtest.h>

using namespace zelto;

TEST(Deflate, Crc32OfKnownTexts) {
    const std::pair<std::string, uint32_t> cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
        {std::string(4, '\0'), 0x2144DF1Cu},
    };
    for (const auto& [text, crc] : cases) EXPECT_EQ(ZipCRC32(text), crc) << text;
}

// Deflate data produced elsewhere (zlib's compress of "hello" without header and trailer, and the empty
// final block) decodes; our own output decodes back to its input.
TEST(Deflate, KnownStreamsAndRoundTrip) {
    EXPECT_EQ(InflateBytes(std::string("\xCB\x48\xCD\xC9\xC9\x07\x00", 7), 5), "hello");
    EXPECT_EQ(DeflateBytes(""), std::string("\x03\x00", 2));
    EXPECT_EQ(DeflateBytes("hello"), std::string("\xCB\x48\xCD\xC9\xC9\x07\x00", 7));
    std::string big;
    for (int i = 0; i < 200000; ++i) big += static_cast<char>('a' + i % 7 + (i / 1000) % 3);
    EXPECT_EQ(InflateBytes(DeflateBytes(big), big.size()), big);
}

// Output stops at the limit; input that runs out or ends early gives a short result; corrupt data raises.
TEST(Deflate, InflateLimitsAndFailures) {
    const std::string data = DeflateBytes(std::string(100000, 'q'));
    struct Case {
        std::string input;
        size_t limit;
        size_t expectedSize;
    };
    const Case cases[] = {
        {data, 0, 0},
        {data, 10, 10},
        {data, 100000, 100000},
        {data, 200000, 100000},               // the deflate data ends first
        {data.substr(0, data.size() / 2), 100000, 0},  // input runs out: shorter than the full result
        {"", 10, 0},
    };
    for (const auto& c : cases) {
        const std::string out = InflateBytes(c.input, c.limit);
        if (c.input.size() == data.size() / 2) {
            EXPECT_LT(out.size(), 100000u);
        } else {
            EXPECT_EQ(out.size(), c.expectedSize) << c.limit;
        }
        EXPECT_EQ(out.find_first_not_of('q'), std::string::npos);
    }
    EXPECT_THROW(InflateBytes("\xFF\xFF\xFF", 10), EZDecompressionError);  // reserved block type
}
