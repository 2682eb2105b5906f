#include "qlink/uPollUDPSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace zelto {

namespace {

// When a datagram stamped Stamp on the real-time clock reached the host, on the steady clock: its age on
// the real-time clock, taken at once, is carried over to the steady clock, so that a step of the real-time
// clock before or after does not matter. Without a stamp (or with one from the future, after the real-time
// clock was set back) the datagram counts as arrived now.
TArrivalTime ArrivalTime(const timespec* Stamp) {
    using namespace std::chrono;
    const auto realNow = system_clock::now();
    const auto steadyNow = steady_clock::now();
    if (Stamp == nullptr) return steadyNow;
    const auto arrived = system_clock::time_point(
        duration_cast<system_clock::duration>(seconds(Stamp->tv_sec) + nanoseconds(Stamp->tv_nsec)));
    const auto age = duration_cast<steady_clock::duration>(realNow - arrived);
    return age > steady_clock::duration::zero() ? steadyNow - age : steadyNow;
}

// The kernel's arrival stamp among a received message's control data, or nullptr.
const timespec* FindStamp(msghdr& Message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&Message); c != nullptr; c = CMSG_NXTHDR(&Message, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS)
            return reinterpret_cast<const timespec*>(CMSG_DATA(c));
    return nullptr;
}

TUDPEndpoint Endpoint(const sockaddr_in& Address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &Address.sin_addr, text, sizeof text);
    return {text, ntohs(Address.sin_port)};
}

}  // namespace

TPollUDPSocket::~TPollUDPSocket() { Deactivate(); }

namespace {

// The configured local address with port 0 (chosen by the system); false for an address that is none.
bool LocalBinding(const std::string& Address, sockaddr_in& Binding) {
    Binding = sockaddr_in{};
    Binding.sin_family = AF_INET;
    Binding.sin_port = 0;
    if (Address.empty()) {
        Binding.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return ::inet_pton(AF_INET, Address.c_str(), &Binding.sin_addr) == 1;
}

// Binds the socket to Binding and reads the binding back.
bool BindTo(int Descriptor, const sockaddr_in& Binding, TUDPEndpoint& Local) {
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (::bind(Descriptor, reinterpret_cast<const sockaddr*>(&Binding), sizeof Binding) != 0 ||
        ::getsockname(Descriptor, reinterpret_cast<sockaddr*>(&bound), &size) != 0)
        return false;
    Local = Endpoint(bound);
    return true;
}

}  // namespace

int TPollUDPSocket::OpenBound(TUDPEndpoint& Local) const {
    sockaddr_in binding{};
    if (!LocalBinding(fLocalAddress, binding)) return -1;
    const int descriptor = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0) return -1;
    const int on = 1;
    // The kernel stamps each datagram as it comes in; the first socket of the system that asks switches
    // the stamps on a moment later, and until then datagrams count as arriving when they are read.
    if (::setsockopt(descriptor, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(descriptor, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        !BindTo(descriptor, binding, Local)) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

bool TPollUDPSocket::Activate() {
    if (Active()) return true;
    fDescriptor = OpenBound(fLocal);
    if (!Active()) return false;
    fSent = false;
    Remember(fLocal.Port);
    return true;
}

bool TPollUDPSocket::TakeNewPort() {
    if (!Active()) return false;
    if (!fSent) return true;  // nothing was sent from this port: nothing can come back to it late
    sockaddr_in binding{};
    if (!LocalBinding(fLocalAddress, binding)) return true;
    // Dissolving the association of a socket whose port the system chose gives the port up (the socket
    // leaves the system's table of ports at once); the socket may then be bound anew. This costs no new
    // socket. A port used a little earlier is given up again and another one taken.
    constexpr int kTries = 4;
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    for (int i = 0; i < kTries; ++i) {
        TUDPEndpoint local;
        if (::connect(fDescriptor, &unspecified, sizeof unspecified) != 0 || !BindTo(fDescriptor, binding, local)) {
            // Should the system refuse, the socket starts afresh on a port of its own.
            Deactivate();
            return Activate();
        }
        if (RecentlyUsed(local.Port) && i + 1 < kTries) continue;
        fLocal = local;
        fSent = false;
        Remember(local.Port);
        return true;
    }
    return true;
}

bool TPollUDPSocket::RecentlyUsed(uint16_t Port) const {
    return std::find(fRecent.begin(), fRecent.end(), Port) != fRecent.end();
}

void TPollUDPSocket::Remember(uint16_t Port) {
    fRecent[fRecentNext] = Port;
    fRecentNext = (fRecentNext + 1) % fRecent.size();
}

TPollUDPSocket::TRead TPollUDPSocket::DeliverOne() {
    // One buffer per waiting thread, not per socket: a thousand idle sockets cost no buffer.
    thread_local std::array<uint8_t, kReceiveBufferSize> buffer;
    sockaddr_in from{};
    iovec data{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t size = -1;
    do {
        size = ::recvmsg(fDescriptor, &message, 0);
    } while (size < 0 && errno == EINTR);
    if (size < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? TRead::Nothing : TRead::Failed;
    const TArrivalTime arrived = ArrivalTime(FindStamp(message));
    try {
        DeliverDatagram(std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(size)), Endpoint(from),
                        fLocal, arrived);
    } catch (...) {
        // A failing handler loses its datagram, not the wait.
    }
    return TRead::Delivered;
}

bool TPollUDPSocket::ReceiveUntil(TArrivalTime Deadline, const std::function<bool()>& Done) {
    if (!Active()) return false;
    // The wait begins with poll, not with a read: the answer has rarely come yet when the wait begins, and
    // poll tells of datagrams that are queued already just as well. A system call is dear here.
    bool read = false;
    while (!Done() && Active()) {
        const TRead got = read ? DeliverOne() : TRead::Nothing;
        if (got == TRead::Delivered) continue;
        if (got == TRead::Failed) {
            // The socket is broken (it would fail again at once): nothing comes before the deadline.
            std::this_thread::sleep_until(Deadline);
            break;
        }
        const auto left = Deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) break;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        pollfd wait{fDescriptor, POLLIN, 0};
        if (::ppoll(&wait, 1, &timeout, nullptr) == 0) break;
        read = true;
    }
    return true;
}

void TPollUDPSocket::Deactivate() {
    if (!Active()) return;
    ::close(fDescriptor);
    fDescriptor = -1;
}

bool TPollUDPSocket::SendTo(std::span<const uint8_t> Datagram, const std::string& Host, uint16_t Port) {
    if (!Active()) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(Port);
    if (::inet_pton(AF_INET, Host.c_str(), &to.sin_addr) != 1) return false;
    fSent = true;
    const auto sent = ::sendto(fDescriptor, Datagram.data(), Datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                               sizeof to);
    return sent == static_cast<ssize_t>(Datagram.size());
}

std::string TPollUDPSocket::LocalAddress() const {
    if (Active()) return fLocal.IP;
    return fLocalAddress.empty() ? "0.0.0.0" : fLocalAddress;
}

}  // namespace zelto
