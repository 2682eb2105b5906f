#pragma once
// The UDP datagram socket as the communicator sees it: activation with a bind, a read event, and sending one
// datagram to a host and port. The real socket (TPollUDPSocket) delivers its datagrams on the thread that
// waits for them, in ReceiveUntil; tests put a scripted one in its place, which delivers on a thread of its
// own.
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace zelto {

struct TUDPEndpoint {
    std::string IP;  // dotted quad
    uint16_t Port = 0;
};

// When a datagram reached the host, on the steady clock, so that it compares with the time a request left.
using TArrivalTime = std::chrono::steady_clock::time_point;

class TUDPSocket {
public:
    // Called once per received datagram, one after the other, never after Deactivate has returned. Arrived
    // is when the datagram reached the host, which may be well before it is delivered: datagrams wait in
    // the socket's queue while an earlier one is handled, or while nobody waits for an answer.
    using TReadEvent = std::function<void(std::span<const uint8_t> Datagram, const TUDPEndpoint& Peer,
                                          const TUDPEndpoint& Local, TArrivalTime Arrived)>;

    virtual ~TUDPSocket() = default;

    // Delivers the datagrams that reach the socket on the calling thread, until Done() holds or the deadline
    // passes; datagrams that came while nobody waited are delivered first. True when the socket delivers
    // this way; false (the default) when it delivers on a thread of its own, so the caller waits for that.
    virtual bool ReceiveUntil(TArrivalTime Deadline, const std::function<bool()>& Done) {
        (void)Deadline;
        (void)Done;
        return false;
    }

    // Moves an active socket to a local port of its own that it has not used lately, so that answers still
    // on their way to the old port are dropped by the system instead of reaching the next request. The
    // configured local address stays. True when the socket is active afterwards (on the old port when no
    // new one could be had). The default keeps the port.
    virtual bool TakeNewPort() { return Active(); }

    void SetOnRead(TReadEvent OnRead) { fOnRead = std::move(OnRead); }

    // Binds to the configured local address ("" = all) and port (0 = chosen by the system) and starts
    // delivering datagrams. True when the socket is active afterwards; activating an active socket is
    // harmless. Never throws.
    virtual bool Activate() = 0;
    // Stops delivery and closes the socket. When it returns no read event runs or will run.
    virtual void Deactivate() = 0;
    virtual bool Active() const = 0;

    // Sends one datagram; false when it could not be sent (bad address, socket closed, system error).
    virtual bool SendTo(std::span<const uint8_t> Datagram, const std::string& Host, uint16_t Port) = 0;

    // The configured local address, used by the next activation.
    virtual void SetLocalAddress(const std::string& Address) = 0;
    // The local binding's address text ("0.0.0.0" when bound to all addresses).
    virtual std::string LocalAddress() const = 0;
    // The configured local port (0: chosen by the system) and the binding's actual port.
    virtual uint16_t LocalPort() const = 0;
    virtual uint16_t BoundPort() const = 0;

protected:
    // For the implementations: hands one datagram to the read event.
    void DeliverDatagram(std::span<const uint8_t> Datagram, const TUDPEndpoint& Peer, const TUDPEndpoint& Local,
                         TArrivalTime Arrived) {
        if (fOnRead) fOnRead(Datagram, Peer, Local, Arrived);
    }

private:
    TReadEvent fOnRead;
};

}  // namespace zelto
