#include "qlink/uQLink.h"

#include <algorithm>

#include "base/TextEncoding.h"
#include "qlink/hQLinkCommands.h"
#include "qlink/uByteOrder.h"

namespace zelto {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr int kOffsetLength = 2;
constexpr int kOffsetSender = 4;
constexpr int kOffsetReceiver = kReceiverNADOffset;
constexpr int kOffsetDirection = 12;
constexpr int kOffsetFlags = 13;
constexpr int kOffsetCommand = 14;
constexpr int kOffsetRequestData = 15;
constexpr std::size_t kMinFrameText = 2 * (kFrameHeadSize + kMinFrameLength);  // 28: an empty frame
constexpr std::size_t kParseBufferSize = 1040;

// Value of one hexadecimal digit of either case, or -1.
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte at frame offset k of frame text whose digits have been checked.
uint32_t TextByte(std::string_view text, int k) {
    const auto i = static_cast<std::size_t>(2 * k);
    return static_cast<uint32_t>(HexValue(text[i]) * 16 + HexValue(text[i + 1]));
}

// A little-endian field of `size` bytes at frame offset k of checked frame text.
uint32_t TextField(std::string_view text, int k, int size) {
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | TextByte(text, k + i);
    return v;
}

// Writes magic, length and the two NADs at the start of a frame.
void PutHead(std::span<uint8_t> frame, uint16_t length, int32_t SenderNAD, int32_t ReceiverNAD) {
    frame[0] = 0xAA;
    frame[1] = 0x55;
    PutU16LE(frame, kOffsetLength, length);
    PutS32LE(frame, kOffsetSender, SenderNAD);
    PutS32LE(frame, kOffsetReceiver, ReceiverNAD);
}

// Writes the frame checksum behind the length + 12 bytes it covers.
void PutFrameChecksum(std::span<uint8_t> frame, uint16_t length) {
    const int covered = kFrameHeadSize + length;
    PutU16LE(frame, static_cast<std::size_t>(covered), FrameChecksum(frame.data(), covered, 0));
}

}  // namespace

namespace {

void Step(const TChecksumKey& Key, uint8_t B, uint16_t& Acc, int Index) {
    const auto weight = Key.Weights[static_cast<std::size_t>(Index) % Key.Weights.size()];
    const auto product = static_cast<uint32_t>(B ^ Key.Xor) * weight;
    Acc = static_cast<uint16_t>(Acc + product);
}

}  // namespace

void ChecksumStep(uint8_t B, uint16_t& Acc, int Index) { Step(ChecksumKey(), B, Acc, Index); }

uint16_t FrameChecksum(const uint8_t* Bytes, int Count, uint16_t Init) {
    const TChecksumKey& key = ChecksumKey();
    uint16_t acc = Init;
    for (int i = 0; i < Count; ++i) Step(key, Bytes[i], acc, i);
    return acc;
}

uint16_t PasswordChecksum(std::u16string_view Password, uint16_t Init) {
    const TChecksumKey& key = ChecksumKey();
    uint16_t acc = Init;
    int i = 0;
    for (const char16_t unit : Password) Step(key, static_cast<uint8_t>(unit & 0xFF), acc, i++);
    return acc;
}

uint16_t PasswordChecksum(std::string_view Password, uint16_t Init) {
    // The password counts as UTF-16 code units; characters beyond the basic plane are two of them.
    std::u16string units;
    std::size_t pos = 0;
    while (pos < Password.size()) {
        char32_t cp = 0;
        if (!NextUtf8CodePoint(Password, pos, cp)) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
    }
    return PasswordChecksum(std::u16string_view(units), Init);
}

bool BuildFrame(int32_t SenderNAD, int32_t ReceiverNAD, uint8_t Command, uint8_t Direction, uint8_t Flags,
                TFrameBuffer& Buf, uint16_t& Len, uint16_t PasswordCRC) {
    if (Len > kMaxRequestData) return false;
    TFrameBuffer frame{};
    const auto length = static_cast<uint16_t>(Len + 5);
    PutHead(frame, length, SenderNAD, ReceiverNAD);
    frame[kOffsetDirection] = Direction;
    frame[kOffsetFlags] = Flags;
    frame[kOffsetCommand] = Command;
    std::copy_n(Buf.begin(), Len, frame.begin() + kOffsetRequestData);
    PutU16LE(frame, kOffsetRequestData + Len, PasswordCRC);
    PutFrameChecksum(frame, length);
    Len = static_cast<uint16_t>(Len + kRequestOverhead);
    Buf = frame;
    return true;
}

std::vector<uint8_t> BuildAnswerFrame(int32_t SenderNAD, int32_t ReceiverNAD, uint8_t Flags,
                                      std::span<const uint8_t> Data) {
    if (Data.size() > static_cast<std::size_t>(kMaxAnswerData)) return {};
    const auto length = static_cast<uint16_t>(Data.size() + 2);
    std::vector<uint8_t> frame(static_cast<std::size_t>(kFrameHeadSize + length + 2));
    PutHead(frame, length, SenderNAD, ReceiverNAD);
    frame[kOffsetDirection] = kDirectionAnswer;
    frame[kOffsetFlags] = Flags;
    std::copy(Data.begin(), Data.end(), frame.begin() + kOffsetCommand);
    PutFrameChecksum(frame, length);
    return frame;
}

bool ParseFrame(std::string_view FrameText, int32_t& SenderNAD, int32_t& ReceiverNAD, uint8_t& Direction,
                uint8_t& Flags, std::string& DataText) {
    if (FrameText.size() < kMinFrameText) return false;
    if (FrameText.substr(0, 4) != "AA55") return false;
    const std::string_view head = FrameText.substr(0, kMinFrameText);
    if (!std::all_of(head.begin(), head.end(), [](char c) { return HexValue(c) >= 0; })) return false;
    const auto length = static_cast<int>(TextField(FrameText, kOffsetLength, 2));
    if (length < kMinFrameLength || length > kMaxFrameLength) return false;
    const auto frameChars = static_cast<std::size_t>(2 * (length + kFrameHeadSize + 2));
    if (FrameText.size() < frameChars) return false;
    const std::string_view frame = FrameText.substr(0, frameChars);
    if (!std::all_of(frame.begin(), frame.end(), [](char c) { return HexValue(c) >= 0; })) return false;

    SenderNAD = static_cast<int32_t>(TextField(frame, kOffsetSender, 4));
    ReceiverNAD = static_cast<int32_t>(TextField(frame, kOffsetReceiver, 4));
    Direction = static_cast<uint8_t>(TextByte(frame, kOffsetDirection));
    Flags = static_cast<uint8_t>(TextByte(frame, kOffsetFlags));
    DataText = std::string(frame.substr(2 * kOffsetCommand, static_cast<std::size_t>(2 * (length - 2))));
    const auto received = static_cast<uint16_t>(TextField(frame, kFrameHeadSize + length, 2));

    std::array<uint8_t, kParseBufferSize> bytes{};
    int count = 0;
    HexToBytes(frame.substr(0, static_cast<std::size_t>(2 * (kFrameHeadSize + length))), bytes, count);
    return FrameChecksum(bytes.data(), count, 0) == received;
}

std::size_t FindFrameStart(std::string_view FrameText) {
    for (std::size_t at = FrameText.find("AA55"); at != std::string_view::npos; at = FrameText.find("AA55", at + 1)) {
        if (at % 2 == 0) return at;
    }
    return std::string_view::npos;
}

std::size_t FrameTextSize(std::string_view FrameText) {
    constexpr std::size_t kHeadChars = 2 * (kOffsetLength + 2);  // magic and length field
    if (FrameText.size() < kHeadChars) return kFrameSizeUnknown;
    const std::string_view head = FrameText.substr(0, kHeadChars);
    if (head.substr(0, 4) != "AA55" || !std::all_of(head.begin(), head.end(), [](char c) { return HexValue(c) >= 0; }))
        return 0;
    const auto length = static_cast<int>(TextField(head, kOffsetLength, 2));
    if (length < kMinFrameLength || length > kMaxFrameLength) return 0;
    return static_cast<std::size_t>(2 * (length + kFrameHeadSize + 2));
}

void HexToBytes(std::string_view HexText, std::span<uint8_t> Buf, int& Count) {
    std::fill(Buf.begin(), Buf.end(), uint8_t{0});
    Count = 0;
    int high = -1;
    for (const char c : HexText) {
        if (c == ' ') continue;
        if (static_cast<std::size_t>(Count) >= Buf.size()) break;
        const int digit = std::max(HexValue(c), 0);
        if (high < 0) {
            high = digit;
        } else {
            Buf[static_cast<std::size_t>(Count++)] = static_cast<uint8_t>(high * 16 + digit);
            high = -1;
        }
    }
}

std::string BytesToHex(std::span<const uint8_t> Bytes) {
    std::string text(2 * Bytes.size(), '0');
    for (std::size_t i = 0; i < Bytes.size(); ++i) {
        text[2 * i] = kHexDigits[Bytes[i] >> 4];
        text[2 * i + 1] = kHexDigits[Bytes[i] & 0x0F];
    }
    return text;
}

std::string BytesToHex(std::string_view Bytes) {
    return BytesToHex(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size()));
}

int AnswerDataSize(std::span<const uint8_t> Request) {
    if (Request.size() < static_cast<std::size_t>(kOffsetRequestData)) return kAnswerSizeAny;
    const std::span<const uint8_t> data = Request.subspan(kOffsetRequestData);
    switch (Request[kOffsetCommand]) {
        case kCmdPing:
        case kCmdFlashInit:
        case kCmdWriteCode:
        case kCmdDataInit:
        case kCmdWriteData:
        case kCmdWriteRandom: return 0;
        case kCmdReadStatus: return 2;
        case kCmdReadCode:
        case kCmdReadData: return data.size() >= 4 ? GetU16LE(data, 2) : kAnswerSizeAny;
        case kCmdReadRandom:
            // The three item counts: 1-byte, 2-byte and 4-byte items.
            return data.size() >= 6 ? GetU16LE(data, 0) + 2 * GetU16LE(data, 2) + 4 * GetU16LE(data, 4) : kAnswerSizeAny;
        default: return kAnswerSizeAny;
    }
}

}  // namespace zelto
