// Frame codec against vectors computed by hand from the checksum rule (K = 5Ch, T[] as in uQLink.h), not
// through the encoder: a ping request, a read request with a password, answers of 0 and 2 data bytes.
#include "qlink/uQLink.h"

#include <cstdio>
#include <vector>

#include <gtest/gtest.h>

using namespace zelto;

namespace {

// Independent hex formatting for building test texts.
std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char two[3];
    for (const auto b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        s += two;
    }
    return s;
}

std::vector<uint8_t> Bytes(const TFrameBuffer& buf, int len) { return {buf.begin(), buf.begin() + len}; }

// Hand-computed frames.
const std::string kPingRequest = "AA550500010000000A00000000001000004D7D";                  // 1 -> 10, cmd 10h
const std::string kReadCodeRequest = "AA55090001000000FFFFFFFF00002100021000B00246A6";      // 1 -> -1, pw "abc"
const std::string kPingAnswer = "AA5502000A0000000100000001001162";                         // 10 -> 1, no data
const std::string kStatusAnswer = "AA55040007000000010000000100010253FB";                   // 7 -> 1, data 01 02

struct TParsed {
    bool ok = false;
    int32_t sender = 0, receiver = 0;
    uint8_t direction = 0, flags = 0;
    std::string data;
};

TParsed Parse(const std::string& text) {
    TParsed p;
    p.ok = ParseFrame(text, p.sender, p.receiver, p.direction, p.flags, p.data);
    return p;
}

}  // namespace

TEST(QLinkChecksum, StepAndFrameChecksumVectors) {
    struct Case {
        uint8_t b;
        uint16_t acc;
        int index;
        uint16_t expected;
    };
    const Case cases[] = {
        {0x5C, 0x1234, 5, 0x1234},   // K xor K is zero: nothing added
        {0x5D, 0x0000, 15, 0xB3A7},  // 1 * T[15]
        {0x5D, 0x0000, 16, 0x0001},  // position 16 uses T[0]
        {0x5D, 0x0000, 31, 0xB3A7},
        {0xFF, 0xFFFF, 15, 0x6354},  // A3h * B3A7h = 726355h; 6355h + FFFFh wraps to 6354h
        {0x00, 0x0000, 2, 0x0284},   // 5Ch * 7
    };
    for (const auto& c : cases) {
        uint16_t acc = c.acc;
        ChecksumStep(c.b, acc, c.index);
        EXPECT_EQ(acc, c.expected) << "byte " << int(c.b) << " index " << c.index;
    }

    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(FrameChecksum(abc, 3, 0), 0x02B0);  // 3Dh*1 + 3Eh*3 + 3Fh*7
    EXPECT_EQ(FrameChecksum(abc, 0, 0x1234), 0x1234);
    EXPECT_EQ(FrameChecksum(abc, -1, 0x1234), 0x1234);
    EXPECT_EQ(FrameChecksum(abc, 3, 0x0010), 0x02C0);

    // A byte at position 16 weighs like one at position 0 (the 16 bytes before it add nothing).
    std::vector<uint8_t> seventeen(16, kChecksumXor);
    seventeen.push_back(0xFF);
    const uint8_t single[] = {0xFF};
    EXPECT_EQ(FrameChecksum(seventeen.data(), 17, 0), 0x00A3);
    EXPECT_EQ(FrameChecksum(single, 1, 0), 0x00A3);
}

TEST(QLinkChecksum, PasswordChecksumCountsLowByteOfEachUtf16Unit) {
    EXPECT_EQ(PasswordChecksum(u"", 0), 0);
    EXPECT_EQ(PasswordChecksum("", 0), 0);
    EXPECT_EQ(PasswordChecksum(u"abc", 0), 0x02B0);
    EXPECT_EQ(PasswordChecksum("abc", 0), 0x02B0);
    // U+0161 and U+0061 differ only in the high byte.
    EXPECT_EQ(PasswordChecksum(u"\u0161bc", 0), 0x02B0);
    EXPECT_EQ(PasswordChecksum("\xC5\xA1" "bc", 0), 0x02B0);
    // U+1F600 is the two units D83D DE00: (3Dh xor 5Ch) * 1 + (00h xor 5Ch) * 3.
    EXPECT_EQ(PasswordChecksum("\xF0\x9F\x98\x80", 0), 0x0175);
}

TEST(QLinkFrame, BuildRequestVectors) {
    TFrameBuffer buf{};
    uint16_t len = 0;
    ASSERT_TRUE(BuildFrame(1, 10, 0x10, 0, 0, buf, len, 0));
    EXPECT_EQ(len, 19);
    EXPECT_EQ(Hex(Bytes(buf, len)), kPingRequest);

    buf = {};
    buf[0] = 0x00;
    buf[1] = 0x02;
    buf[2] = 0x10;
    buf[3] = 0x00;
    len = 4;
    ASSERT_TRUE(BuildFrame(1, -1, 0x21, 0, 0, buf, len, 0x02B0));
    EXPECT_EQ(len, 23);
    EXPECT_EQ(Hex(Bytes(buf, len)), kReadCodeRequest);
}

TEST(QLinkFrame, BuildRequestDataLimit) {
    // 1023 data bytes give a 1042-byte frame that fits the buffer; 1024 are refused untouched.
    TFrameBuffer buf{};
    for (int i = 0; i < 1023; ++i) buf[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i);
    uint16_t len = 1023;
    ASSERT_TRUE(BuildFrame(1, 2, 0x22, 0, 0, buf, len, 0xBEEF));
    EXPECT_EQ(len, 1042);
    EXPECT_EQ(buf[2] | (buf[3] << 8), 1028);
    EXPECT_EQ(buf[15], 0);
    EXPECT_EQ(buf[15 + 1022], static_cast<uint8_t>(1022));
    EXPECT_EQ(buf[1038], 0xEF);
    EXPECT_EQ(buf[1039], 0xBE);
    EXPECT_EQ(buf[1040] | (buf[1041] << 8), FrameChecksum(buf.data(), 1040, 0));

    TFrameBuffer big{};
    big.fill(0x77);
    const TFrameBuffer before = big;
    len = 1024;
    EXPECT_FALSE(BuildFrame(1, 2, 0x22, 0, 0, big, len, 0));
    EXPECT_EQ(len, 1024);
    EXPECT_EQ(big, before);
}

TEST(QLinkFrame, BuildAnswerVectors) {
    EXPECT_EQ(Hex(BuildAnswerFrame(10, 1, 0, {})), kPingAnswer);
    const uint8_t status[] = {1, 2};
    EXPECT_EQ(Hex(BuildAnswerFrame(7, 1, 0, status)), kStatusAnswer);
    EXPECT_EQ(BuildAnswerFrame(7, 1, 0, std::vector<uint8_t>(1022)).size(), 1038u);
    EXPECT_TRUE(BuildAnswerFrame(7, 1, 0, std::vector<uint8_t>(1023)).empty());
}

TEST(QLinkFrame, ParseTable) {
    // A length-1024 answer: data 00..FF three times, then 00..FD; checksum computed by hand (EEB9h).
    std::vector<uint8_t> longData;
    for (int i = 0; i < 1022; ++i) longData.push_back(static_cast<uint8_t>(i % 256));
    const std::string longAnswer = "AA550004030000000100000001" "00" + Hex(longData) + "B9EE";

    struct Case {
        const char* what;
        std::string text;
        bool ok;
        int32_t sender;
        uint8_t direction;
        std::string data;
    };
    const Case cases[] = {
        {"ping answer, length 2, empty data", kPingAnswer, true, 10, 1, ""},
        {"status answer", kStatusAnswer, true, 7, 1, "0102"},
        {"request parses as a frame", kPingRequest, true, 1, 0, "10" "0000"},
        {"negative sender NAD", "AA550300FBFFFFFF01000000010009E794", true, -5, 1, "09"},
        {"frame followed by more text", kStatusAnswer + "AA55FFFF0000", true, 7, 1, "0102"},
        {"length 1024", longAnswer, true, 3, 1, longAnswer.substr(28, 2044)},
        {"27 characters", kPingAnswer.substr(0, 27), false, 0, 0, ""},
        {"lowercase magic", "aa55" + kPingAnswer.substr(4), false, 0, 0, ""},
        {"lowercase digits elsewhere", "AA5502000a0000000100000001001162", true, 10, 1, ""},
        {"length field 1", "AA55010000000000000000000000000000000000", false, 0, 0, ""},
        {"length field 1025", "AA550104" + std::string(2070, '0'), false, 0, 0, ""},
        {"swapped checksum bytes", "AA5502000A0000000100000001006211", false, 0, 0, ""},
        {"one bit off", "AA5502000B0000000100000001001162", false, 0, 0, ""},
        {"not a hex digit", "AA5502000A00000001000000010G1162", false, 0, 0, ""},
        {"bytes before the magic", "00" + kPingAnswer, false, 0, 0, ""},
        {"empty", "", false, 0, 0, ""},
    };
    for (const auto& c : cases) {
        const TParsed p = Parse(c.text);
        EXPECT_EQ(p.ok, c.ok) << c.what;
        if (!c.ok || !p.ok) continue;
        EXPECT_EQ(p.sender, c.sender) << c.what;
        EXPECT_EQ(p.direction, c.direction) << c.what;
        EXPECT_EQ(p.data, c.data) << c.what;
    }
    const TParsed status = Parse(kStatusAnswer);
    EXPECT_EQ(status.receiver, 1);
    EXPECT_EQ(status.flags, 0);
}

TEST(QLinkFrame, WrongChecksumStillFillsFields) {
    const TParsed p = Parse("AA55040007000000010000000100010253FC");
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.sender, 7);
    EXPECT_EQ(p.receiver, 1);
    EXPECT_EQ(p.direction, 1);
    EXPECT_EQ(p.data, "0102");
}

TEST(QLinkFrame, EveryPrefixOfAValidFrameIsRefused) {
    for (const std::string& frame : {kPingAnswer, kStatusAnswer, kReadCodeRequest}) {
        ASSERT_TRUE(Parse(frame).ok);
        for (std::size_t n = 0; n < frame.size(); ++n) EXPECT_FALSE(Parse(frame.substr(0, n)).ok) << frame << " cut at " << n;
    }
}

TEST(QLinkFrame, BuiltFramesParseBack) {
    TFrameBuffer buf{};
    for (uint16_t n : {0, 1, 17, 1019}) {
        for (uint16_t i = 0; i < n; ++i) buf[i] = static_cast<uint8_t>(i * 7);
        uint16_t len = n;
        ASSERT_TRUE(BuildFrame(1, 300, 0x34, 0, 0, buf, len, 0x1234));
        const TParsed p = Parse(BytesToHex(std::span<const uint8_t>(buf.data(), len)));
        ASSERT_TRUE(p.ok) << n;
        EXPECT_EQ(p.receiver, 300);
        EXPECT_EQ(p.data.size(), 2u * (n + 3u));
        EXPECT_EQ(p.data.substr(0, 2), "34");
        EXPECT_EQ(p.data.substr(p.data.size() - 4), "3412");
    }
}

TEST(QLinkHex, HexToBytesTable) {
    struct Case {
        std::string text;
        std::size_t capacity;
        std::vector<uint8_t> expected;  // the whole buffer afterwards
        int count;
    };
    const Case cases[] = {
        {"aa 55", 4, {0xAA, 0x55, 0, 0}, 2},
        {"AA55", 2, {0xAA, 0x55}, 2},
        {"0102030405", 3, {1, 2, 3}, 3},  // cut at the buffer's end
        {"", 2, {0, 0}, 0},
        {"ABC", 2, {0xAB, 0}, 1},  // lone last digit ignored
        {" 0 1 f F ", 2, {0x01, 0xFF}, 2},
        {"1234", 0, {}, 0},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> buf(c.capacity, 0xEE);
        int count = -1;
        HexToBytes(c.text, buf, count);
        EXPECT_EQ(buf, c.expected) << c.text;
        EXPECT_EQ(count, c.count) << c.text;
    }
    // Writing stops at the span's end even when the storage behind it is larger.
    std::vector<uint8_t> storage(4, 0xEE);
    int count = 0;
    HexToBytes("11223344", std::span<uint8_t>(storage.data(), 2), count);
    EXPECT_EQ(storage, (std::vector<uint8_t>{0x11, 0x22, 0xEE, 0xEE}));
}

TEST(QLinkHex, BytesToHexIsUppercaseWithoutSeparators) {
    const uint8_t bytes[] = {0xAA, 0x55, 0x00, 0x0F, 0xF0};
    EXPECT_EQ(BytesToHex(bytes), "AA55000FF0");
    EXPECT_EQ(BytesToHex(std::string_view("\x01\xfe", 2)), "01FE");
    EXPECT_EQ(BytesToHex(std::span<const uint8_t>()), "");
}
