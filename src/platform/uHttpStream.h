#pragma once
// An answer that stays open (a live stream of events): a producer on any thread queues text, and the
// listener writes it to the client on its I/O thread, until either side ends it. The queue is bounded:
// text queued but not yet written by the socket may not pass the limit; a Send that would pass it ends
// the stream, because a client that does not read must never make the server buffer without end.
//
// Threads: Send, Close and Closed may be called from any thread. SetNotify, TakePending, Written and
// Abort are the listener's and run on its I/O thread (SetNotify before the first Send may reach it).
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace zelto {

class THttpStream {
public:
    static constexpr std::size_t kDefaultLimit = 64 * 1024;
    explicit THttpStream(std::size_t limit = kDefaultLimit) : fLimit(limit) {}
    THttpStream(const THttpStream&) = delete;
    THttpStream& operator=(const THttpStream&) = delete;

    // Producer side. Queues data; false when the stream has ended (now, because the unsent text would pass
    // the limit, or before: the client left, the producer closed it, the server stops).
    bool Send(std::string_view data);
    // Ends the stream once what is queued has been written.
    void Close();
    bool Closed() const;

    // Listener side. onWake is called, on the producer's thread and without the stream's lock, whenever
    // data or the end was queued; it must only post work to the I/O thread.
    void SetNotify(std::function<void()> onWake);
    // The queued text, handed over for writing; it still counts as unsent until Written reports it.
    std::string TakePending();
    // The socket took n bytes of what TakePending handed over.
    void Written(std::size_t n);
    // True when the stream has ended and everything queued was handed over.
    bool Finished() const;
    // The connection is gone or the server stops: ends the stream and drops what is queued.
    void Abort();
    // Text queued or handed over but not yet written.
    std::size_t Unsent() const;

private:
    void Wake();

    mutable std::mutex fLock;
    const std::size_t fLimit;
    std::string fPending;
    std::size_t fUnsent = 0;
    bool fClosed = false;
    std::function<void()> fOnWake;
};

}  // namespace zelto
