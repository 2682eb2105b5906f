#include "qlink/uAsioUDPSocket.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>

#include <array>
#include <future>
#include <optional>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/post.hpp>

namespace zelto {

namespace asio = boost::asio;
using asio::ip::udp;

namespace {

// The process's one receive thread. Started on the first activation and kept until the program ends.
class TReceiveService {
public:
    static TReceiveService& Instance() {
        static TReceiveService service;
        return service;
    }
    asio::io_context& Context() { return fContext; }
    bool OnReceiveThread() const { return std::this_thread::get_id() == fThread.get_id(); }

    // Runs f on the receive thread and waits for it (runs it at once when already there).
    template <typename F>
    void RunAndWait(F f) {
        if (OnReceiveThread()) {
            f();
            return;
        }
        std::promise<void> done;
        asio::post(fContext, [&] {
            f();
            done.set_value();
        });
        done.get_future().wait();
    }

private:
    TReceiveService() : fWork(asio::make_work_guard(fContext)), fThread([this] { fContext.run(); }) {}
    ~TReceiveService() {
        fWork.reset();
        fContext.stop();
        fThread.join();
    }

    asio::io_context fContext;
    asio::executor_work_guard<asio::io_context::executor_type> fWork;
    std::thread fThread;
};

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

// Everything the receive thread touches. After activation only the receive thread uses `socket`; the
// owner's thread sends through the descriptor, which stays valid until Deactivate closes it there.
struct TAsioUDPSocket::TState {
    explicit TState(asio::io_context& io) : socket(io) {}
    udp::socket socket;
    int descriptor = -1;
    bool open = false;  // receive thread only, once started
    TUDPEndpoint local;
    udp::endpoint peer;
    std::array<uint8_t, kReceiveBufferSize> buffer{};
    TAsioUDPSocket* owner = nullptr;
};

TAsioUDPSocket::TAsioUDPSocket() = default;

TAsioUDPSocket::~TAsioUDPSocket() { Deactivate(); }

bool TAsioUDPSocket::Activate() {
    if (fState) return true;
    try {
        TReceiveService& service = TReceiveService::Instance();
        auto state = std::make_shared<TState>(service.Context());
        const auto address = fLocalAddress.empty() ? asio::ip::address_v4::any() : asio::ip::make_address_v4(fLocalAddress);
        state->socket.open(udp::v4());
        state->socket.set_option(asio::socket_base::broadcast(true));
        state->socket.bind(udp::endpoint(address, 0));
        const udp::endpoint bound = state->socket.local_endpoint();
        state->local = {bound.address().to_string(), bound.port()};
        state->descriptor = state->socket.native_handle();
        KeepArrivalTimes(state->descriptor);
        state->owner = this;
        state->open = true;
        asio::post(service.Context(), [state] { StartReceive(state); });
        fState = std::move(state);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TAsioUDPSocket::StartReceive(const std::shared_ptr<TState>& State) {
    State->socket.async_receive_from(asio::buffer(State->buffer), State->peer,
                                     [State](const boost::system::error_code& ec, std::size_t size) {
                                         if (!State->open) return;
                                         if (!ec) {
                                             // Only this receive is outstanding on the socket, so the
                                             // kernel's last stamp is this datagram's.
                                             const TArrivalTime arrived = ArrivalTime(State->descriptor);
                                             TUDPEndpoint peer;
                                             boost::system::error_code addrError;
                                             peer.IP = State->peer.address().to_string(addrError);
                                             peer.Port = State->peer.port();
                                             try {
                                                 State->owner->DeliverDatagram(
                                                     std::span<const uint8_t>(State->buffer.data(), size), peer,
                                                     State->local, arrived);
                                             } catch (...) {
                                                 // A failing handler loses its datagram, not the thread.
                                             }
                                         }
                                         StartReceive(State);
                                     });
}

void TAsioUDPSocket::Deactivate() {
    if (!fState) return;
    auto state = std::move(fState);
    TReceiveService::Instance().RunAndWait([&state] {
        state->open = false;
        boost::system::error_code ignored;
        state->socket.close(ignored);
    });
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
