#pragma once
// A Q-link relay for the end-to-end tests: it takes the server's requests on the Q-link port (broadcasts
// included), passes them to ZeltoSim on another port of the loopback adapter, passes the answers back, and
// records which controller was asked what. So a test sees every request that reaches the controllers.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zelto::test {

struct TRelayedRequest {
    int32_t ReceiverNAD = 0;
    uint8_t Command = 0;
    std::vector<uint8_t> Data;  // the request's data, between the command and the checksums
};

class TQLinkRelay {
public:
    TQLinkRelay(uint16_t ListenPort, uint16_t SimPort);
    ~TQLinkRelay();
    TQLinkRelay(const TQLinkRelay&) = delete;
    TQLinkRelay& operator=(const TQLinkRelay&) = delete;

    bool Ok() const { return fOk; }
    std::vector<TRelayedRequest> Requests() const;
    // Requests to one NAD, of one command or (Command < 0) of any.
    int Count(int32_t NAD, int Command = -1) const;
    // Code reads of one NAD beyond the 16-byte short header that every read checks: the full header, the
    // file table and the ALC archive.
    int AlcReads(int32_t NAD) const;
    void Clear();
    // Plays a faulty controller: each answer passes through Filter with the request it answers (the last
    // one relayed); Filter may change the datagram, or return false to drop it. Empty: answers pass as sent.
    using TAnswerFilter = std::function<bool(const TRelayedRequest& Request, std::vector<uint8_t>& Answer)>;
    void SetAnswerFilter(TAnswerFilter Filter);

private:
    void Run();

    int fListen = -1;  // the server's side
    int fSim = -1;     // towards the simulator
    uint16_t fSimPort;
    bool fOk = false;
    std::atomic<bool> fStop{false};
    mutable std::mutex fMutex;
    std::vector<TRelayedRequest> fRequests;
    TAnswerFilter fFilter;
    std::thread fThread;
};

}  // namespace zelto::test
