#pragma once
// Q-link frames: layout, the two position-weighted checksums, the frame builder for requests and answers,
// the parser for received frame text, and the conversions between bytes and frame text.
//
// A frame: AA 55, length (16 bit), sender NAD (32 bit), receiver NAD (32 bit), then `length` counted bytes
// (direction, flags, command and data, password checksum), then the frame checksum over everything before
// it. All multi-byte fields are little-endian. Frame text is two uppercase hexadecimal digits per byte.
//
// Functions over bytes and text: no state of their own (the checksums read the key set at start), safe on
// any thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qlink/uChecksumKey.h"

namespace zelto {

inline constexpr uint16_t kQLinkPort = 8442;     // controllers listen here
inline constexpr int32_t kServerNAD = 1;         // the server's own NAD in every request
inline constexpr int32_t kBroadcastNAD = 0;      // receiver NAD that addresses every controller
inline constexpr uint8_t kDirectionRequest = 0;
inline constexpr uint8_t kDirectionAnswer = 1;

inline constexpr int kFrameHeadSize = 12;        // magic, length, sender NAD, receiver NAD
inline constexpr int kReceiverNADOffset = 8;     // where the head holds the receiver NAD
inline constexpr int kRequestOverhead = 19;      // head, direction, flags, command, password and frame checksum
inline constexpr int kMaxRequestData = 1023;     // data bytes after the command byte
inline constexpr int kMinFrameLength = 2;        // accepted range of the length field of a received frame
inline constexpr int kMaxFrameLength = 1024;
inline constexpr int kMaxAnswerData = kMaxFrameLength - 2;

// A request buffer. It holds the longest request the builder accepts (1023 data bytes give 1042 bytes),
// so that no accepted request is ever written past its end.
inline constexpr std::size_t kFrameBufferSize = kMaxRequestData + kRequestOverhead;
using TFrameBuffer = std::array<uint8_t, kFrameBufferSize>;

// Acc := Acc + ((B xor K) * T[Index mod 16]), modulo 2^16, with K and T of ChecksumKey().
void ChecksumStep(uint8_t B, uint16_t& Acc, int Index);
// Checksum of the first Count bytes from Init; Count <= 0 gives Init.
uint16_t FrameChecksum(const uint8_t* Bytes, int Count, uint16_t Init);
// Checksum of a password: one step per UTF-16 code unit, of its low 8 bits.
uint16_t PasswordChecksum(std::u16string_view Password, uint16_t Init);
// The same for a password held as UTF-8 text (the program's text form).
uint16_t PasswordChecksum(std::string_view Password, uint16_t Init);

// Builds a request around the Len data bytes that Buf holds on entry. On success Buf holds the whole frame
// and Len its length (data + 19). Data longer than 1023 bytes are refused and Buf and Len stay untouched.
bool BuildFrame(int32_t SenderNAD, int32_t ReceiverNAD, uint8_t Command, uint8_t Direction, uint8_t Flags,
                TFrameBuffer& Buf, uint16_t& Len, uint16_t PasswordCRC);

// Builds an answer frame as a controller sends it: head, direction 1, Flags, then Data, then the frame
// checksum. Data longer than 1022 bytes (a length field above 1024) gives an empty result.
std::vector<uint8_t> BuildAnswerFrame(int32_t SenderNAD, int32_t ReceiverNAD, uint8_t Flags,
                                      std::span<const uint8_t> Data);

// Reads the first frame of FrameText. True when the text begins with a well-formed frame (at least 28
// characters, "AA55" in uppercase, a length field of 2..1024, hexadecimal digits throughout) whose frame
// checksum is right. DataText gets the characters of the bytes from offset 14 up to the frame checksum.
// The out-parameters hold the frame's values even when only the checksum is wrong.
bool ParseFrame(std::string_view FrameText, int32_t& SenderNAD, int32_t& ReceiverNAD, uint8_t& Direction,
                uint8_t& Flags, std::string& DataText);

// Where the first frame may begin in frame text: the first "AA55" on a byte boundary, or npos.
std::size_t FindFrameStart(std::string_view FrameText);

// How many characters the frame that FrameText begins with ("AA55" first) has in all, as its length field
// says: kFrameSizeUnknown while the length field has not come yet, 0 when the head cannot begin a frame
// (a length outside 2..1024, or a character that is not a hexadecimal digit).
inline constexpr std::size_t kFrameSizeUnknown = static_cast<std::size_t>(-1);
std::size_t FrameTextSize(std::string_view FrameText);

// Hexadecimal text to bytes: spaces are skipped, letters of either case count, pairs of digits give bytes.
// The whole buffer is zeroed first; conversion stops at the buffer's end, so text that does not fit is
// cut. A lone last digit is ignored and a character that is not a hexadecimal digit counts as 0.
void HexToBytes(std::string_view HexText, std::span<uint8_t> Buf, int& Count);

// How many data bytes the answer to a request frame carries: none for the ping, the writes and the
// initialisations, two for the status, the asked block size for a block read, the sum of the items' sizes
// for a random read. kAnswerSizeAny for a command the server does not send, or a frame too short to tell.
inline constexpr int kAnswerSizeAny = -1;
int AnswerDataSize(std::span<const uint8_t> Request);

// Bytes to frame text: two uppercase hexadecimal digits per byte, no separators.
std::string BytesToHex(std::span<const uint8_t> Bytes);
std::string BytesToHex(std::string_view Bytes);

}  // namespace zelto
