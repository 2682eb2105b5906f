#pragma once
// The real UDP socket of the communicator: one plain socket, one descriptor. It has no thread of its own:
// the thread that waits for an answer reads the socket itself (ReceiveUntil: a read that waits, bounded
// by the socket's receive time-out, and poll for the last stretch before the deadline), so an answer
// reaches its waiter without passing through another thread, and a thousand open controllers cost no
// thread at all. Datagrams that come while nobody waits stay in the socket until the next wait. Each is
// delivered with the kernel's record of when it reached the host, so a late one is still told from an
// answer to the request that follows.
//
// TakeNewPort moves the socket to a fresh local port: answers that are still on their way to the old port
// find nobody there and the kernel drops them. The socket gives its port up (one system call) and the next
// send binds it to a port the system chooses; the port becomes known with the first datagram that comes
// to it (the kernel tells each datagram's destination). Should that be a port the socket used lately,
// nothing that comes to it counts, the wait ends at once and the next attempt leaves from another one
// (taken as it comes), so a port that happens to repeat costs one more send, not a time-out.
//
// Threads: one thread at a time, the communicator's owner (the waiting thread).
#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "qlink/uUDPSocket.h"

namespace zelto {

class TPollUDPSocket : public TUDPSocket {
public:
    TPollUDPSocket() = default;
    ~TPollUDPSocket() override;
    TPollUDPSocket(const TPollUDPSocket&) = delete;
    TPollUDPSocket& operator=(const TPollUDPSocket&) = delete;

    bool ReceiveUntil(TArrivalTime Deadline, const std::function<bool()>& Done) override;
    bool TakeNewPort() override;
    bool Activate() override;
    void Deactivate() override;
    bool Active() const override { return fDescriptor >= 0; }
    bool SendTo(std::span<const uint8_t> Datagram, const std::string& Host, uint16_t Port) override;
    void SetLocalAddress(const std::string& Address) override { fLocalAddress = Address; }
    std::string LocalAddress() const override;
    uint16_t LocalPort() const override { return 0; }
    uint16_t BoundPort() const override;

    // Largest datagram read whole; a longer one arrives cut to this size.
    static constexpr std::size_t kReceiveBufferSize = 8192;
    // How many of the ports used last a new port never repeats.
    static constexpr std::size_t kRecentPorts = 16;

private:
    // A new socket bound to the configured address and a port the system chooses; -1 on failure.
    int OpenBound(TUDPEndpoint& Local) const;
    // Gives the port up; the next send takes a new one.
    bool MovePort();
    bool RecentlyUsed(uint16_t Port) const;
    // Learns the socket's port from a datagram sent to Port; false when nothing on it may count.
    bool PortIsFresh(uint16_t Port, TArrivalTime Arrived);
    void Remember(uint16_t Port);
    // Reads and delivers one datagram; with Wait, waits for one as long as the receive time-out says.
    enum class TRead { Delivered, StalePort, Nothing, Failed };
    TRead DeliverOne(bool Wait);
    // Makes the receive time-out Left (within a millisecond); false when no time is left.
    bool SetWait(std::chrono::nanoseconds Left);

    std::string fLocalAddress;  // configured; "" = all addresses
    int fDescriptor = -1;       // while active
    bool fSent = false;         // the current port has sent a datagram
    bool fSuspect = false;      // the current port served an earlier request lately
    bool fSecondChoice = false; // the current port replaces one found to have served lately
    TArrivalTime fRenewedAt{};  // when the last port was given up
    std::chrono::microseconds fWaitSet{};  // the receive time-out set on the socket (0: none yet)
    TUDPEndpoint fLocal;
    std::array<uint16_t, kRecentPorts> fRecent{};
    std::size_t fRecentNext = 0;
};

}  // namespace zelto
