#pragma once
// A small pool of worker threads that runs a batch of independent jobs side by side and returns when all of
// them have ended. The threads are started on first need, at most MaxThreads - 1 of them (the calling thread
// works too), and live as long as the pool: a batch costs no thread creation.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zelto {

class TTaskPool {
public:
    // MaxThreads below 1 counts as 1 (every job on the calling thread, one after the other).
    explicit TTaskPool(int MaxThreads);
    // Waits for the workers to finish the job they run and ends them.
    ~TTaskPool();
    TTaskPool(const TTaskPool&) = delete;
    TTaskPool& operator=(const TTaskPool&) = delete;

    // Runs Job(0) .. Job(Count - 1), at most MaxThreads at a time, and returns when every one has ended. Jobs
    // start in index order. An exception ends only its own job; the one of the lowest index is raised here
    // once all have ended. Safe to call from several threads; their batches share the workers.
    void RunAll(int Count, const std::function<void(int)>& Job);

    int MaxThreads() const { return fMaxThreads; }

private:
    struct TBatch;
    void WorkerLoop();
    // Takes the next index of Batch and runs it; false when every index is taken. Called without fLock.
    static bool RunNext(TBatch& Batch);

    const int fMaxThreads;
    std::mutex fLock;
    std::condition_variable fWork;
    std::deque<std::shared_ptr<TBatch>> fQueue;  // batches with indices left to take
    std::vector<std::thread> fThreads;
    bool fStop = false;
};

}  // namespace zelto
