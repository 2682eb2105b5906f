#include "qlink/uPollUDPSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

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

// What the kernel tells of a received datagram beside its bytes: when it arrived (nullptr: not stamped)
// and the port it was sent to (0: not told).
struct TReceivedFacts {
    const timespec* Stamp = nullptr;
    uint16_t Port = 0;
};

TReceivedFacts ReadControl(msghdr& Message) {
    TReceivedFacts facts;
    for (cmsghdr* c = CMSG_FIRSTHDR(&Message); c != nullptr; c = CMSG_NXTHDR(&Message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            facts.Stamp = reinterpret_cast<const timespec*>(CMSG_DATA(c));
        } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_ORIGDSTADDR) {
            sockaddr_in to{};
            std::memcpy(&to, CMSG_DATA(c), sizeof to);
            facts.Port = ntohs(to.sin_port);
        }
    }
    return facts;
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

// The port a socket is bound to; 0 when it is bound to none.
uint16_t BoundPortOf(int Descriptor) {
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (::getsockname(Descriptor, reinterpret_cast<sockaddr*>(&bound), &size) != 0) return 0;
    return ntohs(bound.sin_port);
}

}  // namespace

int TPollUDPSocket::OpenBound(TUDPEndpoint& Local) const {
    sockaddr_in binding{};
    if (!LocalBinding(fLocalAddress, binding)) return -1;
    // A blocking socket: the wait for an answer is the read itself (with the socket's receive time-out), one
    // system call; every other read and every send says MSG_DONTWAIT.
    const int descriptor = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) return -1;
    const int on = 1;
    // The kernel stamps each datagram as it comes in (the first socket of the system that asks switches the
    // stamps on a moment later; until then datagrams count as arriving when they are read), and tells the
    // port it was sent to, which is the socket's own at that moment.
    if (::setsockopt(descriptor, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(descriptor, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        ::setsockopt(descriptor, IPPROTO_IP, IP_RECVORIGDSTADDR, &on, sizeof on) != 0 ||
        ::bind(descriptor, reinterpret_cast<const sockaddr*>(&binding), sizeof binding) != 0) {
        ::close(descriptor);
        return -1;
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &binding.sin_addr, text, sizeof text);
    Local = {text, BoundPortOf(descriptor)};
    return descriptor;
}

bool TPollUDPSocket::Activate() {
    if (Active()) return true;
    fDescriptor = OpenBound(fLocal);
    if (!Active()) return false;
    fWaitSet = {};
    fSent = false;
    fSuspect = false;
    Remember(fLocal.Port);
    return true;
}

bool TPollUDPSocket::TakeNewPort() {
    if (!Active()) return false;
    if (!fSent) return true;  // nothing was sent from this port: nothing can come back to it late
    fSecondChoice = false;
    return MovePort();
}

bool TPollUDPSocket::MovePort() {
    // A port that nothing came to is learnt now, so that it is not taken again soon: an answer may still
    // be on its way to it.
    if (fLocal.Port == 0) Remember(BoundPortOf(fDescriptor));
    // Dissolving the association of a socket whose port the system chose takes the port out of the
    // system's table at once; the next send binds the socket to a new one. One system call, no new socket.
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    if (::connect(fDescriptor, &unspecified, sizeof unspecified) != 0) {
        // Should the system refuse, the socket starts afresh on a port of its own.
        Deactivate();
        return Activate();
    }
    fLocal.Port = 0;  // learnt from the first datagram that reaches the new one
    fRenewedAt = std::chrono::steady_clock::now();
    fSent = false;
    fSuspect = false;
    return true;
}

bool TPollUDPSocket::RecentlyUsed(uint16_t Port) const {
    return std::find(fRecent.begin(), fRecent.end(), Port) != fRecent.end();
}

void TPollUDPSocket::Remember(uint16_t Port) {
    if (Port == 0) return;
    fRecent[fRecentNext] = Port;
    fRecentNext = (fRecentNext + 1) % fRecent.size();
}

bool TPollUDPSocket::PortIsFresh(uint16_t Port, TArrivalTime Arrived) {
    // Datagrams that came to the port given up, before it was, still wait in the queue: they tell nothing
    // of the new port (and are older than any request sent from it).
    if (Arrived < fRenewedAt) return true;
    if (fLocal.Port == 0 && Port != 0) {
        // The first datagram on the port chosen at the last send. Should the system have handed out a port
        // this socket used a little earlier, a late answer to an earlier request could come in here: the
        // port is given up at the next attempt's send, and nothing that comes to it counts.
        // A second port in a row is taken as it comes (a system with very few ports to give still works).
        fSuspect = RecentlyUsed(Port) && !fSecondChoice;
        fLocal.Port = Port;
        Remember(Port);
    }
    return !fSuspect;
}

TPollUDPSocket::TRead TPollUDPSocket::DeliverOne(bool Wait) {
    // One buffer per waiting thread, not per socket: a thousand idle sockets cost no buffer.
    thread_local std::array<uint8_t, kReceiveBufferSize> buffer;
    sockaddr_in from{};
    iovec data{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(sockaddr_in))];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    // Without Wait the read never blocks: a datagram poll reported may still be dropped by the kernel (a
    // bad checksum), and then there is nothing to read.
    const ssize_t size = ::recvmsg(fDescriptor, &message, Wait ? 0 : MSG_DONTWAIT);
    if (size < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? TRead::Nothing : TRead::Failed;
    const TReceivedFacts facts = ReadControl(message);
    const TArrivalTime arrived = ArrivalTime(facts.Stamp);
    if (!PortIsFresh(facts.Port, arrived)) return TRead::StalePort;  // read and dropped
    try {
        DeliverDatagram(std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(size)), Endpoint(from),
                        fLocal, arrived);
    } catch (...) {
        // A failing handler loses its datagram, not the wait.
    }
    return TRead::Delivered;
}

bool TPollUDPSocket::SetWait(std::chrono::nanoseconds Left) {
    // Setting the time-out is a system call of its own: a time-out within a millisecond of the one set is
    // kept (the kernel counts it in its ticks anyway), so most sockets set it once. A wait of less than a
    // microsecond is none.
    using namespace std::chrono;
    const auto us = duration_cast<microseconds>(Left);
    if (us <= microseconds::zero()) return false;
    if (fWaitSet != microseconds::zero() && us <= fWaitSet + milliseconds(1) && us + milliseconds(1) >= fWaitSet)
        return true;
    const timeval tv{static_cast<time_t>(us.count() / 1000000), static_cast<suseconds_t>(us.count() % 1000000)};
    if (::setsockopt(fDescriptor, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return false;
    fWaitSet = us;
    return true;
}

bool TPollUDPSocket::ReceiveUntil(TArrivalTime Deadline, const std::function<bool()>& Done) {
    using namespace std::chrono;
    if (!Active()) return false;
    while (!Done() && Active()) {
        const auto left = duration_cast<nanoseconds>(Deadline - steady_clock::now());
        if (left <= nanoseconds::zero()) break;
        // Most of the wait is the read itself, bounded by the socket's receive time-out: one system call,
        // and an answer rarely takes long. That time-out runs on the kernel's coarse timer, which may fire
        // an eighth late and two ticks more (20 ms at 100 ticks a second), so it stops short of the
        // deadline by that much; the last stretch is waited with poll, whose timer is precise, and a
        // silent controller's time-out ends when it should.
        const auto coarse = left - (left / 8 + milliseconds(20));
        TRead got = TRead::Nothing;
        if (coarse >= milliseconds(1) && SetWait(coarse)) {
            got = DeliverOne(true);
        } else {
            const timespec timeout{static_cast<time_t>(left.count() / 1000000000),
                                   static_cast<long>(left.count() % 1000000000)};
            pollfd wait{fDescriptor, POLLIN, 0};
            const int ready = ::ppoll(&wait, 1, &timeout, nullptr);
            if (ready == 0 || (ready < 0 && errno != EINTR)) break;
            if (ready > 0) got = DeliverOne(false);
        }
        // The system gave this attempt a port that served an earlier request lately: nothing on it may
        // count, so the attempt ends now and the next one leaves at once from another port, instead of
        // waiting out the time-out for an answer that would be dropped.
        if (got == TRead::StalePort) break;
        if (got == TRead::Failed) {
            // The socket is broken (it would fail again at once): nothing comes before the deadline.
            std::this_thread::sleep_until(Deadline);
            break;
        }
        // Delivered, or nothing because a time-out passed or a signal came: the loop looks again.
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
    // A port found to have served an earlier request lately is left before the next attempt leaves.
    if (fSuspect) {
        if (!MovePort()) return false;
        fSecondChoice = true;
    }
    fSent = true;
    const auto sent = ::sendto(fDescriptor, Datagram.data(), Datagram.size(), MSG_DONTWAIT,
                               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(Datagram.size());
}

uint16_t TPollUDPSocket::BoundPort() const {
    if (!Active()) return 0;
    return fLocal.Port != 0 ? fLocal.Port : BoundPortOf(fDescriptor);
}

std::string TPollUDPSocket::LocalAddress() const {
    if (Active()) return fLocal.IP;
    return fLocalAddress.empty() ? "0.0.0.0" : fLocalAddress;
}

}  // namespace zelto
