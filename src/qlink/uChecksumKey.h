#pragma once
// The constants of the two Q-link checksums, shared by the server and every controller: Xor is XORed into
// each input byte, and Weights[i mod 16] weights the byte at position i. The defaults below are the values
// of the controllers' firmware; an installation whose controllers carry others sets its own at start
// (the settings QLinkChecksumKey and QLinkChecksumWeights, ZeltoSim --checksum-key/--checksum-weights).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelto {

struct TChecksumKey {
    uint8_t Xor = 0;
    std::array<uint16_t, 16> Weights{};
    bool operator==(const TChecksumKey&) const = default;
};

inline constexpr uint8_t kChecksumXor = 0x5C;
inline constexpr std::array<uint16_t, 16> kChecksumWeights = {
    0x0001, 0x0003, 0x0007, 0x000D, 0x0017, 0x002F, 0x005B, 0x00B5,
    0x0167, 0x02CF, 0x059F, 0x0B3B, 0x1675, 0x2CE9, 0x59D3, 0xB3A7,
};
inline constexpr TChecksumKey kDefaultChecksumKey{kChecksumXor, kChecksumWeights};

// The key every checksum of this process uses; kDefaultChecksumKey until SetChecksumKey. It is set once at
// start, before any frame is built or parsed on another thread.
const TChecksumKey& ChecksumKey();
void SetChecksumKey(const TChecksumKey& Key);

// The texts of the settings and options: the key is one hexadecimal byte ("5C", also "0x5C" or "$5C"),
// the weights are 16 hexadecimal words separated by commas ("0001,0003,..."); spaces around each number
// are allowed. False for anything else.
bool ParseChecksumXor(std::string_view Text, uint8_t& Xor);
bool ParseChecksumWeights(std::string_view Text, std::array<uint16_t, 16>& Weights);

// What a refused text is told: "one hexadecimal byte, such as 5C" / "16 hexadecimal words ...".
inline constexpr const char* kChecksumXorExpected = "one hexadecimal byte, such as 5C";
inline constexpr const char* kChecksumWeightsExpected =
    "16 hexadecimal words separated by commas, such as 0001,0003,0007,000D,...";

}  // namespace zelto
