#include "qlink/uAsioUDPSocket.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>

#include <array>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

namespace zelto {

namespace asio = boost::asio;
using asio::ip::udp;

namespace {

// Asks the kernel to keep the arrival time of each datagram the socket reads, for ArrivalTime. The first
// query switches this on; it finds no datagram yet, so its result is of no interest. When no socket of the
// system had asked before, the kernel starts stamping a moment later; the datagrams of that moment count
// as arriving when they are read, as without stamps.
void KeepArrivalTimes(int descriptor) {
    timespec stamp{};
    ::ioctl(descriptor, SIOCGSTAMPNS, &stamp);
}

// When the datagram read last from the socket reached the host, on the steady clock. The kernel stamps it
// on the real-time clock as it comes in; its age on that clock, taken at once, is carried over to the
// steady clock, so that a step of the real-time clock before or after does not matter. Without a stamp
// (the query failed, or the real-time clock was set back meanwhile) the datagram counts as arrived now.
TArrivalTime ArrivalTime(int descriptor) {
    using namespace std::chrono;
    timespec stamp{};
    const bool stamped = ::ioctl(descriptor, SIOCGSTAMPNS, &stamp) == 0;
    const auto realNow = system_clock::now();
    const auto steadyNow = steady_clock::now();
    if (!stamped) return steadyNow;
    const auto arrived = system_clock::time_point(duration_cast<system_clock::duration>(
        seconds(stamp.tv_sec) + nanoseconds(stamp.tv_nsec)));
    const auto age = duration_cast<steady_clock::duration>(realNow - arrived);
    return age > steady_clock::duration::zero() ? steadyNow - age : steadyNow;
}

}  // namespace

// The socket and its own I/O context, which runs only inside ReceiveUntil, on the waiting thread.
struct TAsioUDPSocket::TState {
    asio::io_context io{1};  // declared first: the socket closes before it goes
    udp::socket socket{io};
    int descriptor = -1;
    bool receiving = false;  // a receive is pending
    TUDPEndpoint local;
    udp::endpoint peer;
    std::array<uint8_t, kReceiveBufferSize> buffer{};
};

TAsioUDPSocket::TAsioUDPSocket() = default;

TAsioUDPSocket::~TAsioUDPSocket() { Deactivate(); }

bool TAsioUDPSocket::Activate() {
    if (fState) return true;
    try {
        auto state = std::make_unique<TState>();
        const auto address = fLocalAddress.empty() ? asio::ip::address_v4::any() : asio::ip::make_address_v4(fLocalAddress);
        state->socket.open(udp::v4());
        state->socket.set_option(asio::socket_base::broadcast(true));
        state->socket.bind(udp::endpoint(address, 0));
        const udp::endpoint bound = state->socket.local_endpoint();
        state->local = {bound.address().to_string(), bound.port()};
        state->descriptor = state->socket.native_handle();
        KeepArrivalTimes(state->descriptor);
        fState = std::move(state);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TAsioUDPSocket::StartReceive() {
    TState& state = *fState;
    state.receiving = true;
    state.socket.async_receive_from(asio::buffer(state.buffer), state.peer, [this](const boost::system::error_code& ec, std::size_t size) {
        TState& s = *fState;
        s.receiving = false;
        if (ec) return;
        // Only this receive is outstanding on the socket, so the kernel's last stamp is this datagram's.
        const TArrivalTime arrived = ArrivalTime(s.descriptor);
        TUDPEndpoint peer;
        boost::system::error_code addrError;
        peer.IP = s.peer.address().to_string(addrError);
        peer.Port = s.peer.port();
        try {
            DeliverDatagram(std::span<const uint8_t>(s.buffer.data(), size), peer, s.local, arrived);
        } catch (...) {
            // A failing handler loses its datagram, not the wait.
        }
    });
}

bool TAsioUDPSocket::ReceiveUntil(TArrivalTime Deadline, const std::function<bool()>& Done) {
    if (!fState) return false;
    while (!Done() && fState) {
        if (!fState->receiving) StartReceive();
        asio::io_context& io = fState->io;
        if (io.stopped()) io.restart();
        // Runs the receive's completion when a datagram comes; nothing else is ever queued here.
        if (io.run_one_until(Deadline) == 0 && std::chrono::steady_clock::now() >= Deadline) break;
    }
    return true;
}

void TAsioUDPSocket::Deactivate() {
    // The pending receive goes with its context, never run: no read event comes after this.
    fState.reset();
}

bool TAsioUDPSocket::Active() const { return fState != nullptr; }

bool TAsioUDPSocket::SendTo(std::span<const uint8_t> Datagram, const std::string& Host, uint16_t Port) {
    if (!fState) return false;
    boost::system::error_code ec;
    const auto address = asio::ip::make_address_v4(Host, ec);
    if (ec) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(Port);
    to.sin_addr.s_addr = htonl(address.to_uint());
    const auto sent = ::sendto(fState->descriptor, Datagram.data(), Datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                               sizeof to);
    return sent == static_cast<ssize_t>(Datagram.size());
}

std::string TAsioUDPSocket::LocalAddress() const {
    if (fState) return fState->local.IP;
    return fLocalAddress.empty() ? "0.0.0.0" : fLocalAddress;
}

uint16_t TAsioUDPSocket::BoundPort() const { return fState ? fState->local.Port : 0; }

}  // namespace zelto
