#include "platform/uSingleInstance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/DateTime.h"

namespace zelto {

namespace {

constexpr char kWake[] = "wake\n";

socklen_t AbstractAddress(const std::string& name, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    // sun_path[0] stays 0: an abstract name, not a file.
    const std::size_t n = std::min(name.size(), sizeof(addr.sun_path) - 1);
    std::memcpy(addr.sun_path + 1, name.data(), n);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

}  // namespace

TSingleInstance::TSingleInstance(std::string instanceName)
    : fSocketName("zelto-" + std::to_string(::getuid()) + "-" + std::move(instanceName)) {}

TSingleInstance::~TSingleInstance() {
    fStopping = true;
    if (fFd >= 0) ::shutdown(fFd, SHUT_RDWR);  // wakes the blocked accept
    if (fThread.joinable()) fThread.join();
    if (fFd >= 0) ::close(fFd);
}

bool TSingleInstance::Acquire(std::function<void()> onWake, int timeoutMs) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "single-instance socket");
    sockaddr_un addr;
    const socklen_t len = AbstractAddress(fSocketName, addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        const int err = errno;
        ::close(fd);
        if (err != EADDRINUSE) throw std::system_error(err, std::generic_category(), "single-instance socket");
        WakeOther(timeoutMs);
        return false;
    }
    if (::listen(fd, 8) != 0) {
        const int err = errno;
        ::close(fd);
        throw std::system_error(err, std::generic_category(), "single-instance socket");
    }
    fFd = fd;
    fOnWake = std::move(onWake);
    fThread = std::thread([this] { ListenLoop(); });
    return true;
}

void TSingleInstance::WakeOther(int timeoutMs) {
    // The first copy binds before it listens; a connect in between is refused, so retry until the deadline.
    const int64_t deadline = TickCountMs() + timeoutMs;
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        sockaddr_un addr;
        const socklen_t len = AbstractAddress(fSocketName, addr);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0) {
            (void)!::send(fd, kWake, sizeof kWake - 1, MSG_NOSIGNAL);
            // Wait (bounded) until the first copy has read the message and closed its end.
            pollfd p{fd, POLLIN, 0};
            const int64_t left = deadline - TickCountMs();
            if (left > 0) ::poll(&p, 1, static_cast<int>(left));
            ::close(fd);
            return;
        }
        ::close(fd);
        if (TickCountMs() >= deadline) return;
        pollfd none{-1, 0, 0};
        ::poll(&none, 0, 10);
    }
}

void TSingleInstance::ListenLoop() {
    while (!fStopping) {
        const int c = ::accept4(fFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;  // shut down
        }
        // Read the short message with a bound, so a stray client cannot hold the thread.
        char buf[16];
        std::size_t got = 0;
        while (got < sizeof buf) {
            pollfd p{c, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) break;
            const ssize_t n = ::recv(c, buf + got, sizeof buf - got, 0);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
            if (std::memchr(buf, '\n', got) != nullptr) break;
        }
        ::close(c);
        if (got == sizeof kWake - 1 && std::memcmp(buf, kWake, got) == 0 && !fStopping && fOnWake) fOnWake();
    }
}

}  // namespace zelto
