#pragma once
// The system side of the adapter list: the host's network interfaces from getifaddrs, their descriptions
// from /sys/class/net, and their default gateways from /proc/net/route.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zelto {

// What the adapter list needs of one interface.
struct TAdapterRecord {
    std::string Name;         // the system's name of the interface, unique: the adapter's ID
    std::string Description;  // for display
    std::string IPAddress;    // first IPv4 address; "0.0.0.0" when the interface has none
    std::string SubnetMask;   // its mask; "0.0.0.0" when the interface has none
    std::string Gateway;      // first default gateway through the interface; empty when there is none
};

// Every interface in the order the system lists them (by interface index). False when the system cannot
// be asked.
bool QueryAdapters(std::vector<TAdapterRecord>& Adapters);

// The IPv4 addresses of the host in the system's order, split into those of interfaces that are up and
// not the loopback, and those of the loopback.
struct TLocalAddresses {
    std::vector<std::string> Regular;
    std::vector<std::string> Loopback;
};
TLocalAddresses QueryLocalAddresses();

// The default gateway of each interface from the text of /proc/net/route: the first route with
// destination 0.0.0.0 and the gateway flag set. Lines that do not parse are skipped.
std::map<std::string, std::string> ParseDefaultGateways(std::string_view RouteTable);

}  // namespace zelto
