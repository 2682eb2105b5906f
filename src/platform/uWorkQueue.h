#pragma once
// A bounded set of threads that run queued jobs in the order they were queued. A thread starts when a job
// is queued while none is idle, up to the maximum, and lives until Stop; a queued job costs its closure,
// not a thread. At most Backlog jobs wait at once: Post refuses the next one, so that the caller can
// answer "busy" instead of letting the queue grow without end.
//
// Threads: Post, Waiting and Stop may be called from any thread but a job of this queue (Stop would wait
// for itself).
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelto {

class TWorkQueue {
public:
    enum class TPosted { Queued, Full, Stopped };

    // Threads are named name (shown by ps and debuggers; at most 15 characters).
    TWorkQueue(int maxThreads, const std::string& name, std::size_t backlog = static_cast<std::size_t>(-1));
    ~TWorkQueue();  // Stop
    TWorkQueue(const TWorkQueue&) = delete;
    TWorkQueue& operator=(const TWorkQueue&) = delete;

    // Queues job; Full when Backlog jobs already wait, Stopped once the queue stops (the job dropped either way).
    TPosted Post(std::function<void()> job);
    // Jobs queued and not yet started.
    std::size_t Waiting() const;
    // True when every thread runs a job: the next one will wait.
    bool AllBusy() const;
    // Drops the jobs still queued, waits for the running ones and ends the threads.
    void Stop();

private:
    void Run();

    const std::size_t fMaxThreads;
    const std::size_t fBacklog;
    const std::string fName;
    mutable std::mutex fLock;
    std::condition_variable fChanged;
    std::deque<std::function<void()>> fJobs;
    std::size_t fBusy = 0;  // threads running one
    bool fStopping = false;
    std::vector<std::thread> fThreads;
};

}  // namespace zelto
