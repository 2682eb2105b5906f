#pragma once
// The simulator's UDP side: one socket on the Q-link port, the hosted controllers, and the dispatch of each
// received request to the controllers it addresses (its NAD, or every controller for NAD 0). Answers go
// back to the address and port the request came from.
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/TList.h"
#include "sim/uSimController.h"

namespace zelto::sim {

class TSimServer {
public:
    TSimServer();
    ~TSimServer();
    TSimServer(const TSimServer&) = delete;
    TSimServer& operator=(const TSimServer&) = delete;

    // Hosts a controller; false when the NAD is already hosted.
    bool AddController(int32_t NAD);
    TSimController* Controller(int32_t NAD) const;
    int ControllerCount() const { return fControllers.Count(); }

    // The answer frames to one received datagram, in the order of the hosted controllers. Datagrams that
    // are not a well-formed request get none. Holds the server's lock while the controllers work.
    std::vector<std::vector<uint8_t>> HandleDatagram(std::span<const uint8_t> Datagram);
    // The lock under which requests are served: hold it to change a controller while the server runs.
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(fLock); }

    // Binds the socket (BindAddress "" = all addresses); false with a message when that fails.
    bool Bind(const std::string& BindAddress, uint16_t Port, std::string& Error);
    // The bound address and port ("0.0.0.0:8442").
    std::string BoundEndpoint() const;
    // Serves requests on a thread of its own until Stop (tests), or on the calling thread until Stop or
    // SIGINT/SIGTERM (the program).
    void Start();
    void Run();
    void Stop();

private:
    struct TIO;
    void ReceiveNext();

    std::mutex fLock;
    TObjectList<TSimController> fControllers;
    std::unique_ptr<TIO> fIO;
    std::thread fThread;
};

// Parses the frame of a request; false for anything else (an answer, a broken frame, too few bytes).
bool ParseSimRequest(std::span<const uint8_t> Datagram, TSimRequest& Request);

}  // namespace zelto::sim
