#pragma once
// The real UDP socket of the communicator, on Boost.Asio. Every socket of the process is served by one
// receive thread (one io_context), however many sockets are open: a thousand controllers cost no more
// threads than one. Each datagram is delivered with the kernel's record of when it reached the host.
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
    static void StartReceive(const std::shared_ptr<TState>& State);

    std::string fLocalAddress;       // configured; "" = all addresses
    std::shared_ptr<TState> fState;  // while active; shared with the pending receive
};

}  // namespace zelto
