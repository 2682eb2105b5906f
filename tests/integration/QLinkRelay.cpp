#include "integration/QLinkRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "qlink/hQLinkCommands.h"

namespace zelto::test {

namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

}  // namespace

TQLinkRelay::TQLinkRelay(uint16_t ListenPort, uint16_t SimPort) : fSimPort(SimPort) {
    fListen = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    fSim = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fListen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(ListenPort);  // all addresses: the broadcasts arrive too
    sockaddr_in self = Loopback(0);
    fOk = fListen >= 0 && fSim >= 0 && ::bind(fListen, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0 &&
          ::bind(fSim, reinterpret_cast<sockaddr*>(&self), sizeof self) == 0;
    fThread = std::thread([this] { Run(); });
}

TQLinkRelay::~TQLinkRelay() {
    fStop = true;
    fThread.join();
    ::close(fListen);
    ::close(fSim);
}

void TQLinkRelay::Run() {
    uint8_t buf[4096];
    sockaddr_in client{};
    bool haveClient = false;
    pollfd fds[2] = {{fListen, POLLIN, 0}, {fSim, POLLIN, 0}};
    while (!fStop && fOk) {
        if (::poll(fds, 2, 20) <= 0) continue;
        if (fds[0].revents & POLLIN) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(fListen, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n >= 19 && buf[0] == 0xAA && buf[1] == 0x55) {
                // Receiver NAD at bytes 8..11 (little-endian), command at byte 14.
                const auto nad = static_cast<int32_t>(buf[8] | (buf[9] << 8) | (buf[10] << 16) |
                                                      (static_cast<uint32_t>(buf[11]) << 24));
                {
                    std::lock_guard<std::mutex> lock(fMutex);
                    // The data lie between the command and the two checksums (4 bytes).
                    fRequests.push_back(TRelayedRequest{nad, buf[14], std::vector<uint8_t>(buf + 15, buf + n - 4)});
                }
                client = from;
                haveClient = true;
                const sockaddr_in sim = Loopback(fSimPort);
                ::sendto(fSim, buf, static_cast<std::size_t>(n), 0, reinterpret_cast<const sockaddr*>(&sim), sizeof sim);
            }
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::recv(fSim, buf, sizeof buf, 0);
            std::vector<uint8_t> answer(buf, buf + std::max<ssize_t>(n, 0));
            bool pass = n > 0 && haveClient;
            {
                std::lock_guard<std::mutex> lock(fMutex);
                if (pass && fFilter && !fRequests.empty()) pass = fFilter(fRequests.back(), answer);
            }
            // Answers leave from the Q-link port, as a controller's do.
            if (pass)
                ::sendto(fListen, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&client),
                         sizeof client);
        }
    }
}

std::vector<TRelayedRequest> TQLinkRelay::Requests() const {
    std::lock_guard<std::mutex> lock(fMutex);
    return fRequests;
}

int TQLinkRelay::Count(int32_t NAD, int Command) const {
    int n = 0;
    for (const auto& r : Requests())
        if (r.ReceiverNAD == NAD && (Command < 0 || r.Command == Command)) ++n;
    return n;
}

int TQLinkRelay::AlcReads(int32_t NAD) const {
    int n = 0;
    for (const auto& r : Requests()) {
        // ReadCode data: segment and block size, 16-bit little-endian each.
        if (r.ReceiverNAD == NAD && r.Command == kCmdReadCode && r.Data.size() >= 4 && (r.Data[2] | (r.Data[3] << 8)) != 16)
            ++n;
    }
    return n;
}

void TQLinkRelay::SetAnswerFilter(TAnswerFilter Filter) {
    std::lock_guard<std::mutex> lock(fMutex);
    fFilter = std::move(Filter);
}

void TQLinkRelay::Clear() {
    std::lock_guard<std::mutex> lock(fMutex);
    fRequests.clear();
}

}  // namespace zelto::test
