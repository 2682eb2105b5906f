#pragma once
// Hooks through which the program watches controller traffic from above (its metrics), without the
// Q-link and proxy layers knowing who listens: how each exchange with a controller ended, and each time a
// proxy loaded its controller's variable list (ALC). Each hook is a plain function pointer, set once at
// start-up before any controller is asked, and null when nobody watches.
//
// Threads: the hooks are called on whichever thread runs the exchange or the load (a request thread, the
// streams' reader); the functions set must be safe to call from several threads at once.
#include <atomic>
#include <cstdint>

namespace zelto {

enum class TExchangeResult {
    Answered,  // the controller answered
    Timeout,   // every attempt went out and none was answered in time
    Refused,   // the request could not be sent (no address, the network refused it)
};

using TExchangeObserver = void (*)(int32_t Nad, TExchangeResult Result);
using TAlcLoadObserver = void (*)(int32_t Nad);

inline std::atomic<TExchangeObserver> gExchangeObserver{nullptr};
inline std::atomic<TAlcLoadObserver> gAlcLoadObserver{nullptr};

inline void NoteExchange(int32_t Nad, TExchangeResult Result) {
    if (const auto f = gExchangeObserver.load(std::memory_order_relaxed)) f(Nad, Result);
}

inline void NoteAlcLoad(int32_t Nad) {
    if (const auto f = gAlcLoadObserver.load(std::memory_order_relaxed)) f(Nad);
}

}  // namespace zelto
