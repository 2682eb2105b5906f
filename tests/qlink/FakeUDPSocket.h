#pragma once
// A scripted UDP socket for communicator tests: records what is sent, lets a responder answer each send,
// and delivers injected datagrams in order on a receive thread of its own (the communicator waits to be
// woken then, instead of reading the socket itself).
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "qlink/uUDPSocket.h"

namespace zelto::test {

struct TSentDatagram {
    std::vector<uint8_t> Bytes;
    std::string Host;
    uint16_t Port = 0;
};

class TFakeUDPSocket : public TUDPSocket {
public:
    // Called on the sender's thread for each datagram sent; Index counts from 0.
    using TResponder = std::function<void(TFakeUDPSocket& Socket, const TSentDatagram& Sent, int Index)>;

    TFakeUDPSocket() : fThread([this] { Run(); }) {}
    ~TFakeUDPSocket() override {
        {
            std::lock_guard<std::mutex> lock(fMutex);
            fStop = true;
        }
        fChanged.notify_all();
        fThread.join();
    }

    bool Activate() override {
        std::lock_guard<std::mutex> lock(fMutex);
        fActive = true;
        return true;
    }
    // Like the real socket: pending datagrams are lost, and none is delivered once this returns.
    void Deactivate() override {
        std::unique_lock<std::mutex> lock(fMutex);
        fQueue.clear();
        fActive = false;
        fChanged.wait(lock, [this] { return !fDelivering; });
    }
    bool Active() const override {
        std::lock_guard<std::mutex> lock(fMutex);
        return fActive;
    }
    bool SendTo(std::span<const uint8_t> Datagram, const std::string& Host, uint16_t Port) override {
        TSentDatagram sent{{Datagram.begin(), Datagram.end()}, Host, Port};
        int index = 0;
        TResponder responder;
        {
            std::lock_guard<std::mutex> lock(fMutex);
            if (FailSends || !fActive) return false;
            fSent.push_back(sent);
            index = static_cast<int>(fSent.size()) - 1;
            responder = fResponder;
        }
        if (responder) responder(*this, sent, index);
        return true;
    }
    void SetLocalAddress(const std::string& Address) override {
        std::lock_guard<std::mutex> lock(fMutex);
        fLocal.IP = Address.empty() ? "0.0.0.0" : Address;
    }
    std::string LocalAddress() const override {
        std::lock_guard<std::mutex> lock(fMutex);
        return fLocal.IP;
    }
    uint16_t LocalPort() const override { return 0; }
    uint16_t BoundPort() const override { return 40000; }

    void SetResponder(TResponder Responder) {
        std::lock_guard<std::mutex> lock(fMutex);
        fResponder = std::move(Responder);
    }
    std::vector<TSentDatagram> Sent() const {
        std::lock_guard<std::mutex> lock(fMutex);
        return fSent;
    }

    // Queues a datagram for the receive thread, to be delivered after Delay (in queue order). It reaches the
    // host when it is delivered, as if it had been on its way until then.
    void Inject(std::vector<uint8_t> Datagram, const std::string& PeerIP = "10.1.2.7",
                std::chrono::milliseconds Delay = std::chrono::milliseconds(0)) {
        const auto due = std::chrono::steady_clock::now() + Delay;
        InjectArrived(std::move(Datagram), due, Delay, PeerIP);
    }
    // Queues a datagram that reached the host at Arrived and is delivered only after Delay: one that lies in
    // the socket's queue meanwhile.
    void InjectArrived(std::vector<uint8_t> Datagram, TArrivalTime Arrived, std::chrono::milliseconds Delay,
                       const std::string& PeerIP = "10.1.2.7") {
        {
            std::lock_guard<std::mutex> lock(fMutex);
            if (!fActive) return;
            fQueue.push_back({std::move(Datagram), {PeerIP, 8442}, std::chrono::steady_clock::now() + Delay, Arrived});
        }
        fChanged.notify_all();
    }
    // Waits until every queued datagram has been delivered.
    void Drain() {
        std::unique_lock<std::mutex> lock(fMutex);
        fChanged.wait(lock, [this] { return fQueue.empty() && !fDelivering; });
    }

    bool FailSends = false;  // set before the exchange

private:
    struct TPending {
        std::vector<uint8_t> Bytes;
        TUDPEndpoint Peer;
        std::chrono::steady_clock::time_point Due;
        TArrivalTime Arrived;
    };

    void Run() {
        std::unique_lock<std::mutex> lock(fMutex);
        for (;;) {
            fChanged.wait(lock, [this] { return fStop || !fQueue.empty(); });
            if (fStop) return;
            const auto due = fQueue.front().Due;
            if (std::chrono::steady_clock::now() < due) {
                fChanged.wait_until(lock, due);
                continue;
            }
            TPending next = std::move(fQueue.front());
            fQueue.pop_front();
            fDelivering = true;
            const TUDPEndpoint local = fLocal;
            lock.unlock();
            DeliverDatagram(next.Bytes, next.Peer, {local.IP, 40000}, next.Arrived);
            lock.lock();
            fDelivering = false;
            fChanged.notify_all();
        }
    }

    mutable std::mutex fMutex;
    std::condition_variable fChanged;
    std::deque<TPending> fQueue;
    std::vector<TSentDatagram> fSent;
    TResponder fResponder;
    TUDPEndpoint fLocal{"0.0.0.0", 40000};
    bool fActive = false;
    bool fDelivering = false;
    bool fStop = false;
    std::thread fThread;
};

}  // namespace zelto::test
