#pragma once
// Who may ask: a list of IPv4 and IPv6 addresses and networks ("192.168.1.0/24,10.0.0.5,fd00::/8").
// An empty list lets everyone in. IPv4 clients that reach an IPv6 socket arrive as IPv4-mapped IPv6
// addresses ("::ffff:10.0.0.5") and are judged as the IPv4 address they carry.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zelto {

class TAccessList {
public:
    // Reads a comma-separated list. Returns "" on success, otherwise the reason, naming the bad entry
    // (the list is then left empty).
    std::string Parse(const std::string& text);
    bool Empty() const { return fNetworks.empty(); }
    // Whether a client with this textual address may send requests. An address that cannot be read is
    // let in only when the list is empty.
    bool Allows(const std::string& clientIp) const;

private:
    struct TNetwork {
        std::array<uint8_t, 16> Address{};  // IPv4 as IPv4-mapped IPv6
        int PrefixBits = 128;
    };
    std::vector<TNetwork> fNetworks;
};

// Whether text is one IPv4 or IPv6 address (no network), as --bind takes it.
bool IsIpAddress(const std::string& text);

}  // namespace zelto
