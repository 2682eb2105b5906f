#pragma once
// Keeps the number of open controller sockets bounded: a proxy that has not talked to its controller for
// the idle time has its socket closed, and when the cap is reached the socket of the least recently used
// proxy that is not talking right now is closed to make room. A closed proxy opens its socket again when it
// is next asked, so closing costs nothing but a new port.
//
// Threads: Acquire and Release come from the threads that read proxies; a thread of the budget's own closes
// idle sockets. A proxy is touched by the budget only while nobody holds it (between Release and the next
// Acquire), under the budget's lock.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "plc/uZelto.h"

namespace zelto {

inline constexpr int kMaxOpenSockets = 256;
inline constexpr std::chrono::milliseconds kSocketIdleTime{60000};

class TSocketBudget {
public:
    TSocketBudget(int MaxOpen = kMaxOpenSockets, std::chrono::milliseconds IdleTime = kSocketIdleTime);
    // Stop.
    ~TSocketBudget();
    TSocketBudget(const TSocketBudget&) = delete;
    TSocketBudget& operator=(const TSocketBudget&) = delete;

    // Before a proxy talks to its controller (and may open its socket): the proxy is held, and when its socket
    // is not counted yet and the cap is reached, the least recently used socket of a proxy not held is closed.
    void Acquire(TZelto& P);
    // After it talked: the proxy is free again, used now; its socket closes after the idle time unused.
    void Release(TZelto& P);
    // Before a proxy that is not held is freed: the budget no longer counts it.
    void Forget(TZelto& P);
    // Sockets counted open (those of held proxies included).
    int OpenCount() const;
    // Ends the closing thread and forgets every proxy; the sockets stay as they are (their proxies close
    // them when freed). Call it before proxies that the budget knows are freed.
    void Stop();

private:
    struct TEntry {
        std::chrono::steady_clock::time_point LastUsed;
        bool Held = false;
    };
    void CloseIdleLoop();

    const int fMaxOpen;
    const std::chrono::milliseconds fIdleTime;
    mutable std::mutex fLock;
    std::condition_variable fChanged;
    std::unordered_map<TZelto*, TEntry> fOpen;  // proxies whose socket may be open
    bool fStop = false;
    bool fCloserIdle = false;  // the closer sleeps with no due time: a release must wake it
    std::thread fCloser;  // started with the first Release
};

// Releases a proxy acquired from the budget when the scope ends, also when its read raises.
class TSocketUse {
public:
    TSocketUse(TSocketBudget& Budget, TZelto& P) : fBudget(Budget), fProxy(P) { fBudget.Acquire(fProxy); }
    ~TSocketUse() { fBudget.Release(fProxy); }
    TSocketUse(const TSocketUse&) = delete;
    TSocketUse& operator=(const TSocketUse&) = delete;

private:
    TSocketBudget& fBudget;
    TZelto& fProxy;
};

}  // namespace zelto
