#include "net/PrivateNetwork.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace zelto::test {

namespace {
bool gInPrivateNetwork = false;
}

bool EnterPrivateNetwork(std::string& Why) {
    if (::unshare(CLONE_NEWNET) != 0) {
        Why = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
        return false;
    }
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) {
        Why = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
    if (up) {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
        up = ::ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
    }
    if (!up) Why = std::string("bringing lo up: ") + std::strerror(errno);
    ::close(s);
    gInPrivateNetwork = up;
    return up;
}

bool InPrivateNetwork() { return gInPrivateNetwork; }

bool RunIp(const std::string& Arguments) {
    if (!gInPrivateNetwork) return false;
    const std::string command = "ip " + Arguments + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace zelto::test
