#pragma once
// A fixed set of threads that run queued jobs in the order they were queued. The threads start with the
// queue and live until Stop; a queued job costs its closure, not a thread.
//
// Threads: Post and Stop may be called from any thread but a job of this queue (Stop would wait for itself).
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelto {

class TWorkQueue {
public:
    // Starts threads named name (shown by ps and debuggers; at most 15 characters).
    TWorkQueue(int threads, const std::string& name);
    ~TWorkQueue();  // Stop
    TWorkQueue(const TWorkQueue&) = delete;
    TWorkQueue& operator=(const TWorkQueue&) = delete;

    // Queues job; false (and the job dropped) once the queue stops.
    bool Post(std::function<void()> job);
    // Drops the jobs still queued, waits for the running ones and ends the threads.
    void Stop();

private:
    void Run();

    std::mutex fLock;
    std::condition_variable fChanged;
    std::deque<std::function<void()>> fJobs;
    bool fStopping = false;
    std::vector<std::thread> fThreads;
};

}  // namespace zelto
