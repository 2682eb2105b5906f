#include "web/uSocketBudget.h"

#include <algorithm>

namespace zelto {

using std::chrono::steady_clock;

TSocketBudget::TSocketBudget(int MaxOpen, std::chrono::milliseconds IdleTime)
    : fMaxOpen(std::max(MaxOpen, 1)), fIdleTime(IdleTime) {}

TSocketBudget::~TSocketBudget() { Stop(); }

void TSocketBudget::Stop() {
    {
        std::lock_guard<std::mutex> lock(fLock);
        fStop = true;
    }
    fChanged.notify_all();
    if (fCloser.joinable()) fCloser.join();
    std::lock_guard<std::mutex> lock(fLock);
    fOpen.clear();
}

void TSocketBudget::Acquire(TZelto& P) {
    std::lock_guard<std::mutex> lock(fLock);
    const auto [it, added] = fOpen.try_emplace(&P, TEntry{steady_clock::now(), true});
    it->second.Held = true;
    if (!added) return;
    while (static_cast<int>(fOpen.size()) > fMaxOpen) {
        auto oldest = fOpen.end();
        for (auto e = fOpen.begin(); e != fOpen.end(); ++e)
            if (!e->second.Held && (oldest == fOpen.end() || e->second.LastUsed < oldest->second.LastUsed)) oldest = e;
        if (oldest == fOpen.end()) break;  // every counted socket is in use: more readers than the cap
        oldest->first->CloseSocket();
        fOpen.erase(oldest);
    }
}

void TSocketBudget::Release(TZelto& P) {
    {
        std::lock_guard<std::mutex> lock(fLock);
        const auto it = fOpen.find(&P);
        if (it == fOpen.end()) return;
        it->second = TEntry{steady_clock::now(), false};
        if (!fCloser.joinable() && !fStop) fCloser = std::thread([this] { CloseIdleLoop(); });
        // A closer that sleeps until a due time wakes early enough: a use only moves due times later.
        if (!fCloserIdle) return;
    }
    fChanged.notify_all();
}

void TSocketBudget::Forget(TZelto& P) {
    std::lock_guard<std::mutex> lock(fLock);
    fOpen.erase(&P);
}

int TSocketBudget::OpenCount() const {
    std::lock_guard<std::mutex> lock(fLock);
    return static_cast<int>(fOpen.size());
}

// Sleeps until the first free socket reaches the idle time, closes every one that has, and again.
void TSocketBudget::CloseIdleLoop() {
    std::unique_lock<std::mutex> lock(fLock);
    while (!fStop) {
        const auto now = steady_clock::now();
        auto next = steady_clock::time_point::max();
        for (auto e = fOpen.begin(); e != fOpen.end();) {
            const auto due = e->second.LastUsed + fIdleTime;
            if (e->second.Held || due > now) {
                if (!e->second.Held) next = std::min(next, due);
                ++e;
                continue;
            }
            e->first->CloseSocket();
            e = fOpen.erase(e);
        }
        if (next == steady_clock::time_point::max()) {
            fCloserIdle = true;
            fChanged.wait(lock);
            fCloserIdle = false;
        } else {
            fChanged.wait_until(lock, next);
        }
    }
}

}  // namespace zelto
