#include "net/PrivateNetwork.h"

#include <fcntl.h>
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

bool WriteFile(const char* Path, const std::string& Text) {
    const int fd = ::open(Path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = ::write(fd, Text.data(), Text.size()) == static_cast<ssize_t>(Text.size());
    ::close(fd);
    return written;
}

// Without the right to make a network namespace (not root), a user namespace of its own gives it: the
// process becomes root inside it, mapped to its own user and group outside, and may then make a network
// namespace and set its adapters up as root would.
bool EnterUserNamespace(std::string& Why) {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        Why = std::string("unshare(CLONE_NEWUSER | CLONE_NEWNET): ") + std::strerror(errno);
        return false;
    }
    if (!WriteFile("/proc/self/setgroups", "deny") ||
        !WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        Why = std::string("mapping the user into its namespace: ") + std::strerror(errno);
        return false;
    }
    return true;
}
}  // namespace

bool EnterPrivateNetwork(std::string& Why) {
    if (::unshare(CLONE_NEWNET) != 0) {
        const std::string asRoot = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
        if (!EnterUserNamespace(Why)) {
            Why = asRoot + "; " + Why;
            return false;
        }
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
