#include "base/TaskPool.h"

#include <algorithm>
#include <atomic>
#include <exception>

namespace zelto {

struct TTaskPool::TBatch {
    TBatch(int ACount, const std::function<void(int)>& AJob) : Count(ACount), Job(AJob), Errors(ACount) {}
    const int Count;
    const std::function<void(int)>& Job;  // the caller's, alive until RunAll returns
    std::atomic<int> Next{0};
    std::vector<std::exception_ptr> Errors;  // each slot written by the job of its index only
    std::mutex Lock;
    std::condition_variable Finished;
    int Done = 0;  // guarded by Lock
};

TTaskPool::TTaskPool(int MaxThreads) : fMaxThreads(std::max(MaxThreads, 1)) {}

TTaskPool::~TTaskPool() {
    {
        std::lock_guard<std::mutex> lock(fLock);
        fStop = true;
    }
    fWork.notify_all();
    for (std::thread& t : fThreads) t.join();
}

bool TTaskPool::RunNext(TBatch& Batch) {
    const int index = Batch.Next.fetch_add(1);
    if (index >= Batch.Count) return false;
    try {
        Batch.Job(index);
    } catch (...) {
        Batch.Errors[static_cast<std::size_t>(index)] = std::current_exception();
    }
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(Batch.Lock);
        last = ++Batch.Done == Batch.Count;
    }
    if (last) Batch.Finished.notify_all();
    return true;
}

void TTaskPool::WorkerLoop() {
    std::unique_lock<std::mutex> lock(fLock);
    for (;;) {
        fWork.wait(lock, [this] { return fStop || !fQueue.empty(); });
        if (fStop) return;
        // The batch stays shared until this worker has left it, even when its caller returns meanwhile.
        const std::shared_ptr<TBatch> batch = fQueue.front();
        lock.unlock();
        const bool ran = RunNext(*batch);
        lock.lock();
        if (!ran && !fQueue.empty() && fQueue.front() == batch) fQueue.pop_front();
    }
}

void TTaskPool::RunAll(int Count, const std::function<void(int)>& Job) {
    if (Count <= 0) return;
    auto batch = std::make_shared<TBatch>(Count, Job);
    const int helpers = std::min(Count, fMaxThreads) - 1;
    if (helpers > 0) {
        {
            std::lock_guard<std::mutex> lock(fLock);
            while (static_cast<int>(fThreads.size()) < helpers) fThreads.emplace_back([this] { WorkerLoop(); });
            fQueue.push_back(batch);
        }
        fWork.notify_all();
    }
    while (RunNext(*batch)) {
    }
    {
        std::unique_lock<std::mutex> lock(batch->Lock);
        batch->Finished.wait(lock, [&] { return batch->Done == batch->Count; });
    }
    if (helpers > 0) {
        // Every index is taken: no worker needs the batch any more.
        std::lock_guard<std::mutex> lock(fLock);
        const auto it = std::find(fQueue.begin(), fQueue.end(), batch);
        if (it != fQueue.end()) fQueue.erase(it);
    }
    for (const std::exception_ptr& e : batch->Errors)
        if (e) std::rethrow_exception(e);
}

}  // namespace zelto
