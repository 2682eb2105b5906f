#include "platform/uWorkQueue.h"

#include <pthread.h>

#include <algorithm>
#include <utility>

namespace zelto {

TWorkQueue::TWorkQueue(int maxThreads, const std::string& name, std::size_t backlog)
    : fMaxThreads(static_cast<std::size_t>(std::max(1, maxThreads))), fBacklog(backlog), fName(name.substr(0, 15)) {}

TWorkQueue::~TWorkQueue() { Stop(); }

TWorkQueue::TPosted TWorkQueue::Post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(fLock);
        if (fStopping) return TPosted::Stopped;
        // Jobs beyond the threads that are free (idle or yet to start) wait; the backlog bounds those.
        if (fJobs.size() >= fBacklog + (fMaxThreads - fBusy)) return TPosted::Full;
        fJobs.push_back(std::move(job));
        if (fJobs.size() > fThreads.size() - fBusy && fThreads.size() < fMaxThreads) {
            // No free thread will take it: one more thread, started under the lock so that Stop sees it.
            fThreads.emplace_back([this] { Run(); });
            pthread_setname_np(fThreads.back().native_handle(), fName.c_str());
        }
    }
    fChanged.notify_one();
    return TPosted::Queued;
}

std::size_t TWorkQueue::Waiting() const {
    std::lock_guard<std::mutex> lock(fLock);
    return fJobs.size();
}

bool TWorkQueue::AllBusy() const {
    std::lock_guard<std::mutex> lock(fLock);
    return fBusy + fJobs.size() >= fMaxThreads;
}

void TWorkQueue::Stop() {
    std::deque<std::function<void()>> dropped;
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(fLock);
        fStopping = true;
        dropped.swap(fJobs);
        threads.swap(fThreads);
    }
    fChanged.notify_all();
    dropped.clear();  // outside the lock: a job's closure may own things with destructors of their own
    for (auto& t : threads)
        if (t.joinable()) t.join();
}

void TWorkQueue::Run() {
    std::unique_lock<std::mutex> lock(fLock);
    for (;;) {
        fChanged.wait(lock, [&] { return fStopping || !fJobs.empty(); });
        if (fStopping) return;
        std::function<void()> job = std::move(fJobs.front());
        fJobs.pop_front();
        ++fBusy;
        lock.unlock();
        job();
        job = nullptr;  // the closure's destructors run outside the lock as well
        lock.lock();
        --fBusy;
    }
}

}  // namespace zelto
