#pragma once
// The simulator's UDP side: one socket on the Q-link port, the hosted controllers, and the dispatch of each
// received request to the controllers it addresses (its NAD, or every controller for NAD 0). Answers go
// back to the address and port the request came from, through the fault switches. Periodic jobs (the live
// values, the ALC watch) and signal handlers run on the serving thread under the same lock as requests.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/TList.h"
#include "sim/uSimController.h"
#include "sim/uSimFaults.h"

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
    TSimController* ControllerAt(int Index) const { return fControllers.GetItem(Index); }

    // The answer frames to one received datagram, in the order of the hosted controllers. Datagrams that
    // are not a well-formed request get none. Holds the server's lock while the controllers work.
    std::vector<std::vector<uint8_t>> HandleDatagram(std::span<const uint8_t> Datagram);
    // The lock under which requests are served: hold it to change a controller while the server runs.
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(fLock); }
    // Called with every well-formed request, under the lock (tests count what reaches the simulator).
    void SetOnRequest(std::function<void(const TSimRequest&)> OnRequest);

    // The fault switches applied to every answer from now on.
    void SetFaults(const TSimFaultOptions& Options);
    // Steps every controller's program by the time passed since the last call (or since the start).
    // The caller holds the lock (the periodic jobs do).
    void TickControllers();
    // Runs Job every IntervalMs on the serving thread, under the lock. Set before Start or Run.
    void Every(int IntervalMs, std::function<void()> Job);
    // Runs Job on the serving thread, under the lock, when the process receives Signal. Run only.
    void OnSignal(int Signal, std::function<void()> Job);

    // Binds the socket (BindAddress "" = all addresses; Device "" = every adapter, else only datagrams that
    // arrive on that adapter); false with a message when that fails.
    bool Bind(const std::string& BindAddress, uint16_t Port, std::string& Error, const std::string& Device = "");
    // The bound address and port ("0.0.0.0:8442").
    std::string BoundEndpoint() const;
    // Serves requests on a thread of its own until Stop (tests), or on the calling thread until Stop or
    // SIGINT/SIGTERM (the program).
    void Start();
    void Run();
    void Stop();

private:
    struct TIO;
    struct TJob;
    void ReceiveNext();
    void StartJobs();
    void ScheduleJob(std::size_t Index);
    void SendAnswers(const std::vector<std::vector<uint8_t>>& Answers);

    std::mutex fLock;
    TObjectList<TSimController> fControllers;
    std::function<void(const TSimRequest&)> fOnRequest;
    TSimFaults fFaults;
    std::chrono::steady_clock::time_point fLastTick = std::chrono::steady_clock::now();
    std::vector<std::pair<int, std::function<void()>>> fSignalJobs;
    std::unique_ptr<TIO> fIO;
    std::thread fThread;
};

// Parses the frame of a request; false for anything else (an answer, a broken frame, too few bytes).
bool ParseSimRequest(std::span<const uint8_t> Datagram, TSimRequest& Request);

}  // namespace zelto::sim
