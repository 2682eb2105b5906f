#pragma once
// A scripted UDP peer on a real socket, for tests inside a private network namespace: it binds to an
// address and port, records the datagrams it receives with the address each was sent to, and answers each
// with what its script returns.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <arpa/inet.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelto::test {

class TScriptedPeer {
public:
    // Returns the datagrams to send back to the sender (none: stay silent).
    using TScript = std::function<std::vector<std::vector<uint8_t>>(const std::vector<uint8_t>& Request)>;

    TScriptedPeer(const std::string& Address, uint16_t Port, TScript Script) : fScript(std::move(Script)) {
        fSocket = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        ::setsockopt(fSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(fSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        ::setsockopt(fSocket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        timeval tv{0, 20000};
        ::setsockopt(fSocket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(Port);
        ::inet_pton(AF_INET, Address.c_str(), &a.sin_addr);
        fBound = ::bind(fSocket, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        fThread = std::thread([this] { Run(); });
    }
    ~TScriptedPeer() {
        fStop = true;
        fThread.join();
        ::close(fSocket);
    }
    bool Bound() const { return fBound; }
    struct TReceived {
        std::vector<uint8_t> Bytes;
        std::string Destination;  // the address the datagram was sent to
    };
    std::vector<TReceived> Received() const {
        std::lock_guard<std::mutex> lock(fMutex);
        return fReceived;
    }

private:
    void Run() {
        std::vector<uint8_t> buf(65536);
        while (!fStop) {
            sockaddr_in from{};
            iovec iov{buf.data(), buf.size()};
            alignas(cmsghdr) char control[256];
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const auto n = ::recvmsg(fSocket, &msg, 0);
            if (n < 0) continue;
            TReceived received{{buf.begin(), buf.begin() + n}, ""};
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
                const auto* info = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(c));
                char text[INET_ADDRSTRLEN] = {};
                ::inet_ntop(AF_INET, &info->ipi_addr, text, sizeof text);
                received.Destination = text;
            }
            {
                std::lock_guard<std::mutex> lock(fMutex);
                fReceived.push_back(received);
            }
            for (const auto& answer : fScript(received.Bytes))
                ::sendto(fSocket, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), msg.msg_namelen);
        }
    }

    TScript fScript;
    int fSocket = -1;
    bool fBound = false;
    std::atomic<bool> fStop{false};
    mutable std::mutex fMutex;
    std::vector<TReceived> fReceived;
    std::thread fThread;
};

}  // namespace zelto::test
