#include "qlink/uChecksumKey.h"

#include <charconv>

namespace zelto {

namespace {

TChecksumKey gChecksumKey = kDefaultChecksumKey;

std::string_view Trimmed(std::string_view Text) {
    const auto begin = Text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    return Text.substr(begin, Text.find_last_not_of(" \t") - begin + 1);
}

// A hexadecimal number of 1 to MaxDigits digits, after an optional "0x", "0X" or "$".
bool ParseHex(std::string_view Text, std::size_t MaxDigits, uint16_t& Value) {
    Text = Trimmed(Text);
    if (Text.substr(0, 2) == "0x" || Text.substr(0, 2) == "0X") Text.remove_prefix(2);
    else if (Text.substr(0, 1) == "$") Text.remove_prefix(1);
    if (Text.empty() || Text.size() > MaxDigits) return false;
    const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), Value, 16);
    return ec == std::errc() && end == Text.data() + Text.size();
}

}  // namespace

const TChecksumKey& ChecksumKey() { return gChecksumKey; }

void SetChecksumKey(const TChecksumKey& Key) {
    if (!(gChecksumKey == Key)) gChecksumKey = Key;
}

bool ParseChecksumXor(std::string_view Text, uint8_t& Xor) {
    uint16_t value = 0;
    if (!ParseHex(Text, 2, value)) return false;
    Xor = static_cast<uint8_t>(value);
    return true;
}

bool ParseChecksumWeights(std::string_view Text, std::array<uint16_t, 16>& Weights) {
    std::array<uint16_t, 16> parsed{};
    std::size_t count = 0;
    for (;;) {
        const auto comma = Text.find(',');
        if (count == parsed.size() || !ParseHex(Text.substr(0, comma), 4, parsed[count])) return false;
        ++count;
        if (comma == std::string_view::npos) break;
        Text.remove_prefix(comma + 1);
    }
    if (count != parsed.size()) return false;
    Weights = parsed;
    return true;
}

}  // namespace zelto
