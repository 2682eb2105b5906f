#include "net/uAdapterQuery.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zelto {

namespace {

constexpr const char* kNoAddress = "0.0.0.0";
constexpr unsigned kRouteUp = 0x0001;       // RTF_UP
constexpr unsigned kRouteGateway = 0x0002;  // RTF_GATEWAY

std::string AddressText(const sockaddr* sa) {
    if (sa == nullptr || sa->sa_family != AF_INET) return kNoAddress;
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
    if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) == nullptr) return kNoAddress;
    return text;
}

std::string ReadFirstLine(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// "Ethernet eth0 [e1000e]": the kind of link, the name and, for hardware, the driver.
std::string DescribeInterface(const std::string& name, unsigned flags) {
    const std::filesystem::path dir = std::filesystem::path("/sys/class/net") / name;
    std::error_code ec;
    std::string kind = "Network";
    const std::string uevent = ReadWholeFile(dir / "uevent");
    const std::string type = ReadFirstLine(dir / "type");
    if (flags & IFF_LOOPBACK) {
        kind = "Loopback";
    } else if (std::filesystem::exists(dir / "wireless", ec) || uevent.find("DEVTYPE=wlan") != std::string::npos) {
        kind = "Wireless";
    } else if (uevent.find("DEVTYPE=bridge") != std::string::npos) {
        kind = "Bridge";
    } else if (uevent.find("DEVTYPE=vlan") != std::string::npos) {
        kind = "VLAN";
    } else if (type == "1") {
        kind = "Ethernet";
    } else if (type == "65534") {
        kind = "Tunnel";
    }
    std::string text = kind + " " + name;
    const auto driver = std::filesystem::read_symlink(dir / "device" / "driver", ec);
    if (!ec && !driver.filename().empty()) text += " [" + driver.filename().string() + "]";
    return text;
}

// The interface an address entry belongs to. An address with a label ("eth0:1", from `ip addr add ...
// label eth0:1`) is listed under the label; interface names never hold a colon, so the label's part
// before it is the interface.
std::string InterfaceOf(const char* EntryName) {
    const std::string_view name(EntryName);
    return std::string(name.substr(0, name.find(':')));
}

std::string DefaultGatewaysText() { return ReadWholeFile("/proc/net/route"); }

}  // namespace

std::map<std::string, std::string> ParseDefaultGateways(std::string_view RouteTable) {
    std::map<std::string, std::string> gateways;
    std::istringstream in{std::string(RouteTable)};
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flagsText;
        if (!(fields >> iface >> destination >> gateway >> flagsText)) continue;
        uint32_t dest = 0, gw = 0;
        unsigned flags = 0;
        const auto parse = [](const std::string& s, auto& v) {
            const auto r = std::from_chars(s.data(), s.data() + s.size(), v, 16);
            return r.ec == std::errc() && r.ptr == s.data() + s.size();
        };
        if (!parse(destination, dest) || !parse(gateway, gw) || !parse(flagsText, flags)) continue;
        if (dest != 0 || (flags & (kRouteUp | kRouteGateway)) != (kRouteUp | kRouteGateway)) continue;
        if (gateways.count(iface) != 0) continue;
        // The kernel prints the address as a number in host byte order over bytes in network order.
        in_addr addr{};
        addr.s_addr = gw;
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &addr, text, sizeof text) != nullptr) gateways[iface] = text;
    }
    return gateways;
}

bool QueryAdapters(std::vector<TAdapterRecord>& Adapters) {
    Adapters.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    struct TFound {
        TAdapterRecord record;
        unsigned flags = 0;
        unsigned index = 0;
        bool hasIPv4 = false;
    };
    std::vector<TFound> found;
    for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_name == nullptr) continue;
        const std::string name = InterfaceOf(a->ifa_name);
        auto it = std::find_if(found.begin(), found.end(), [&](const TFound& f) { return f.record.Name == name; });
        if (it == found.end()) {
            TFound f;
            f.record.Name = name;
            f.record.IPAddress = kNoAddress;
            f.record.SubnetMask = kNoAddress;
            f.flags = a->ifa_flags;
            f.index = if_nametoindex(name.c_str());
            found.push_back(f);
            it = found.end() - 1;
        }
        if (!it->hasIPv4 && a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET) {
            it->hasIPv4 = true;
            it->record.IPAddress = AddressText(a->ifa_addr);
            it->record.SubnetMask = AddressText(a->ifa_netmask);
        }
    }
    freeifaddrs(list);

    // The system lists interfaces by index; keep that order even where an address entry came first.
    std::stable_sort(found.begin(), found.end(), [](const TFound& x, const TFound& y) { return x.index < y.index; });
    const auto gateways = ParseDefaultGateways(DefaultGatewaysText());
    for (auto& f : found) {
        f.record.Description = DescribeInterface(f.record.Name, f.flags);
        const auto gw = gateways.find(f.record.Name);
        if (gw != gateways.end()) f.record.Gateway = gw->second;
        Adapters.push_back(std::move(f.record));
    }
    return true;
}

TLocalAddresses QueryLocalAddresses() {
    TLocalAddresses result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return result;
    for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
        if (a->ifa_flags & IFF_LOOPBACK) {
            result.Loopback.push_back(AddressText(a->ifa_addr));
        } else if (a->ifa_flags & IFF_UP) {
            result.Regular.push_back(AddressText(a->ifa_addr));
        }
    }
    freeifaddrs(list);
    return result;
}

}  // namespace zelto
