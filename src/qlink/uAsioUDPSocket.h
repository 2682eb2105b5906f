#pragma once
// The real UDP socket of the communicator, on Boost.Asio. It has no thread of its own: the thread that waits
// for an answer reads the socket itself (ReceiveUntil), so an answer reaches its waiter without passing
// through another thread, and a thousand open controllers cost no thread at all. Datagrams that come while
// nobody waits stay in the socket until the next wait. Each is delivered with the kernel's record of when it
// reached the host, so a late one is still told from an answer to the request that follows.
#include <memory>
#include <string>

#include "qlink/uUDPSocket.h"

namespace zelto {

class TAsioUDPSocket : public TUDPSocket {
public:
    TAsioUDPSocket();
    ~TAsioUDPSocket() override;
    TAsioUDPSocket(const TAsioUDPSocket&) = delete;
    TAsioUDPSocket& operator=(const TAsioUDPSocket&) = delete;

    bool ReceiveUntil(TArrivalTime Deadline, const std::function<bool()>& Done) override;
    bool Activate() override;
    void Deactivate() override;
    bool Active() const override;
    bool SendTo(std::span<const uint8_t> Datagram, const std::string& Host, uint16_t Port) override;
    void SetLocalAddress(const std::string& Address) override { fLocalAddress = Address; }
    std::string LocalAddress() const override;
    uint16_t LocalPort() const override { return 0; }
    uint16_t BoundPort() const override;

    // Largest datagram read whole; a longer one arrives cut to this size.
    static constexpr std::size_t kReceiveBufferSize = 8192;

private:
    struct TState;
    void StartReceive();

    std::string fLocalAddress;       // configured; "" = all addresses
    std::unique_ptr<TState> fState;  // while active
};

}  // namespace zelto
