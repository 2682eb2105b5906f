#pragma once
// Live streams of variable values (Server-Sent Events). Every open stream names items like a variable
// request; one reader serves them all: every interval it reads each controller that any stream names
// once, with the union of the items the streams want of it (so a hundred pages watching c10.temp cost one
// read of controller 10), and sends each stream an event "vars" with the entries that changed since its
// last event. A stream that has nothing new for KeepAlive gets a comment line, so that idle proxies keep
// the connection. A stream whose client does not read is dropped by its own bound (THttpStream).
// A controller that fails (no answer, no program, not running) is read less often, doubling the wait up
// to kMaxBackOff, so that a page watching a switched-off controller does not cost a time-out every round.
// Besides streams the hub feeds listeners (the MQTT publisher): a function, not a connection, that wants
// its items every interval of its own and is handed the entries that changed. They share the rounds with
// the streams: a controller is read once per round with the union of what every due subscriber wants.
//
// Threads: Open, Count, HasRoom, Subscribe, Unsubscribe, Resend and Stop may be called from any thread.
// The reader function runs on the hub's one thread, never while the hub's own lock is held: it submits its
// reading to the controller service like any request (and waits, like one, only for the controllers it
// names). A listener runs on the hub's thread while the hub's lock is held: it must not call the hub, and
// once Unsubscribe has returned it is not called again.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/uHttpStream.h"
#include "web/uVarResult.h"

namespace zelto {

class TStreamHub {
public:
    // Reads the items of a query (all of one controller, or all of the server's own) and returns their
    // entries; a reading on behalf of the streams, not a request of its own.
    using TReader = std::function<TVarResults(const std::string& Query)>;

    struct TOptions {
        std::chrono::milliseconds Interval{250};
        std::size_t MaxStreams = 256;
        std::chrono::milliseconds KeepAlive{15000};
    };

    enum class TOpenResult { Opened, Full, Stopped };

    // A listener is handed the entries of its items that changed since its last call (all of them the
    // first time and after Resend), in the order of its items.
    using TListener = std::function<void(const TVarResults& Changed)>;
    using TListenerId = uint64_t;

    TStreamHub(TReader Reader, TOptions Options);
    ~TStreamHub();  // Stop
    TStreamHub(const TStreamHub&) = delete;
    TStreamHub& operator=(const TStreamHub&) = delete;

    // True when one more stream may open (the caller checks before it reads the first answer).
    bool HasRoom() const;
    // Opens a stream for the items of Query: sends First (the entries of the request as the caller read
    // them) as the first event at once, and from then on the changes. Full beyond MaxStreams.
    TOpenResult Open(std::shared_ptr<THttpStream> Stream, const std::string& Query, const TVarResults& First);
    // Streams open now.
    std::size_t Count() const;
    // Adds a listener for Items (as a query names them), read every Interval (at the rounds' pace at best).
    TListenerId Subscribe(std::vector<std::string> Items, std::chrono::milliseconds Interval, TListener Listener);
    void Unsubscribe(TListenerId Id);
    // The listener's next call carries every entry again, and comes with the next round.
    void Resend(TListenerId Id);
    // Ends the reader and every stream (each after what is queued has been sent).
    void Stop();

    // The text of one event "vars" carrying the JSON of these entries.
    static std::string VarsEvent(const std::vector<std::string>& JsonEntries);
    static constexpr const char* kKeepAlive = ": keep-alive\n\n";
    static constexpr std::chrono::milliseconds kMaxBackOff{5000};

private:
    struct TSubscriber {
        std::shared_ptr<THttpStream> Stream;       // null for a listener
        TListener Listener;
        TListenerId Id = 0;                        // unique among the subscribers, streams too
        std::chrono::milliseconds Interval{0};
        std::chrono::steady_clock::time_point Due; // the first round at or after this reads for it
        std::vector<std::string> Items;            // as the query names them, in order
        std::map<std::string, std::string> Sent;   // item -> its entry as last sent
        std::chrono::steady_clock::time_point LastSend;
    };

    void Run();
    // One round: read every controller the streams name and send the changes.
    void Tick();
    // Hands a subscriber the entries that differ from what it was sent; false when its stream has ended.
    bool SendChanges(TSubscriber& S, const std::map<std::string, std::string>& Entries,
                     std::chrono::steady_clock::time_point Now);
    // The subscriber's items whose entries differ from what it was last given, in its order; marks them
    // as given.
    static std::vector<std::string> TakeChanged(TSubscriber& S, const std::map<std::string, std::string>& Entries);
    // Hands a listener its changed entries.
    void CallListener(TSubscriber& S, const std::map<std::string, std::string>& Entries,
                      const std::map<std::string, TVarResult>& Results);
    // Streams among the subscribers; the time between rounds (the shortest interval of any subscriber).
    std::size_t StreamCountLocked() const;
    std::chrono::milliseconds RoundLocked() const;

    // When each controller is read next, and how many rounds in a row it failed.
    struct TGroupState {
        std::chrono::steady_clock::time_point Due;
        int Failures = 0;
    };
    std::map<int64_t, TGroupState> fGroups;  // the hub's thread only

    TReader fReader;
    TOptions fOptions;
    mutable std::mutex fLock;
    std::condition_variable fWake;
    std::vector<std::unique_ptr<TSubscriber>> fSubscribers;
    bool fStopped = false;
    TListenerId fNextId = 1;
    std::thread fThread;
};

// The key that groups an item with the other items of its controller: the NAD of a controller item, or
// kServerGroup for the server's own names (and anything else).
inline constexpr int64_t kServerGroup = INT64_MIN;
int64_t StreamGroupOf(const std::string& Item);

}  // namespace zelto
