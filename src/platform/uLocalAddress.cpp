#include "platform/uLocalAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace zelto {

std::string FirstLocalIPv4() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return "";
    std::string first, loopback;
    for (ifaddrs* a = list; a != nullptr && first.empty(); a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_UP) == 0) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) == nullptr) continue;
        if ((a->ifa_flags & IFF_LOOPBACK) != 0) {
            if (loopback.empty()) loopback = text;
        } else {
            first = text;
        }
    }
    ::freeifaddrs(list);
    return first.empty() ? loopback : first;
}

}  // namespace zelto
