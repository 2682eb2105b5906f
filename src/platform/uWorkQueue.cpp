#include "platform/uWorkQueue.h"

#include <pthread.h>

#include <utility>

namespace zelto {

TWorkQueue::TWorkQueue(int threads, const std::string& name) {
    for (int i = 0; i < threads; ++i) {
        fThreads.emplace_back([this] { Run(); });
        pthread_setname_np(fThreads.back().native_handle(), name.substr(0, 15).c_str());
    }
}

TWorkQueue::~TWorkQueue() { Stop(); }

bool TWorkQueue::Post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(fLock);
        if (fStopping) return false;
        fJobs.push_back(std::move(job));
    }
    fChanged.notify_one();
    return true;
}

void TWorkQueue::Stop() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(fLock);
        fStopping = true;
        dropped.swap(fJobs);
    }
    fChanged.notify_all();
    dropped.clear();  // outside the lock: a job's closure may own things with destructors of their own
    for (auto& t : fThreads)
        if (t.joinable()) t.join();
    fThreads.clear();
}

void TWorkQueue::Run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(fLock);
            fChanged.wait(lock, [&] { return fStopping || !fJobs.empty(); });
            if (fStopping) return;
            job = std::move(fJobs.front());
            fJobs.pop_front();
        }
        job();
    }
}

}  // namespace zelto
