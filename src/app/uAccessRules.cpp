#include "app/uAccessRules.h"

#include <arpa/inet.h>

#include <charconv>

namespace zelto {

namespace {

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Reads an address into IPv6 form; bits gets 32 for IPv4, 128 for IPv6. A zone ("fe80::1%eth0") is
// ignored.
bool ReadAddress(std::string text, std::array<uint8_t, 16>& out, int& bits) {
    if (const auto pct = text.find('%'); pct != std::string::npos) text.erase(pct);
    in_addr v4{};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        out = {};
        out[10] = out[11] = 0xFF;
        const auto* b = reinterpret_cast<const uint8_t*>(&v4.s_addr);
        for (int i = 0; i < 4; ++i) out[12 + i] = b[i];
        bits = 32;
        return true;
    }
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
        for (int i = 0; i < 16; ++i) out[i] = v6.s6_addr[i];
        bits = 128;
        return true;
    }
    return false;
}

bool IsMappedV4(const std::array<uint8_t, 16>& a) {
    for (int i = 0; i < 10; ++i)
        if (a[i] != 0) return false;
    return a[10] == 0xFF && a[11] == 0xFF;
}

bool SamePrefix(const std::array<uint8_t, 16>& a, const std::array<uint8_t, 16>& b, int bits) {
    for (int i = 0; bits > 0; ++i, bits -= 8) {
        const uint8_t mask = bits >= 8 ? 0xFF : static_cast<uint8_t>(0xFF << (8 - bits));
        if ((a[i] & mask) != (b[i] & mask)) return false;
    }
    return true;
}

}  // namespace

std::string TAccessList::Parse(const std::string& text) {
    fNetworks.clear();
    std::vector<TNetwork> networks;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string entry = Trim(text.substr(start, comma - start));
        start = comma + 1;
        if (entry.empty()) {
            if (Trim(text).empty()) break;  // an empty list: everyone
            return "an empty entry in the address list '" + text + "'";
        }
        const std::size_t slash = entry.find('/');
        TNetwork n;
        int bits = 0;
        if (!ReadAddress(entry.substr(0, slash), n.Address, bits)) {
            return "'" + entry + "' is no IPv4 or IPv6 address or network";
        }
        n.PrefixBits = bits;
        if (slash != std::string::npos) {
            const std::string p = entry.substr(slash + 1);
            int prefix = -1;
            const auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), prefix);
            if (p.empty() || ec != std::errc() || end != p.data() + p.size() || prefix < 0 || prefix > bits) {
                return "'" + entry + "' has a network length outside 0.." + std::to_string(bits);
            }
            n.PrefixBits = prefix;
        }
        if (bits == 32) n.PrefixBits += 96;  // the IPv4 bits follow the 96 bits of the mapping
        networks.push_back(n);
    }
    fNetworks = std::move(networks);
    return {};
}

bool TAccessList::Allows(const std::string& clientIp) const {
    if (fNetworks.empty()) return true;
    std::array<uint8_t, 16> address{};
    int bits = 0;
    if (!ReadAddress(clientIp, address, bits)) return false;
    for (const TNetwork& n : fNetworks) {
        // An IPv6 network never lets a mapped IPv4 client in through its IPv6 spelling, and vice versa.
        if (IsMappedV4(n.Address) != IsMappedV4(address) && n.PrefixBits < 96) continue;
        if (SamePrefix(address, n.Address, n.PrefixBits)) return true;
    }
    return false;
}

bool IsIpAddress(const std::string& text) {
    std::array<uint8_t, 16> address{};
    int bits = 0;
    return text.find('%') == std::string::npos && ReadAddress(text, address, bits);
}

}  // namespace zelto
