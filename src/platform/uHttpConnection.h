#pragma once
// One connection of the HTTP listener, a small state machine from the accepted socket to its close:
//
//   ┌──────────────────────────── idle (kept alive) ◄──┐
//   ▼                                                  │
//   reading ──► waiting (the handler runs on a worker) ──► writing ──► draining ──► closed
//      │           └─► closed (the client left)            └──► streaming ──┘
//      └──► (405, 400, 408, 413, 414, 431, 429/503 from waiting) writing an early answer ──► draining ──► closed
//
// The connection counts against the listener's cap from accept until its last answer is out (or it
// closes), idle kept-alive time included; the drain after the last answer does not. While the request
// waits or runs, a wait for the socket to become readable tells whether the client closed it (its next
// request, sent ahead, is left in the socket for later). Everything here runs on the listener's I/O thread;
// the handler's answer comes back through Respond, posted to that thread.
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/uHttpListener.h"

namespace zelto {

class THttpConnection;

// Which of the listener's lists a connection is in: those it may close to make room, idle kept-alive ones
// first, then those that have not sent a whole request head, each oldest first.
enum class TClosable { No, Idle, Headless };

// What a connection needs from its listener; called on the I/O thread only.
class THttpConnectionHost {
public:
    virtual ~THttpConnectionHost() = default;
    virtual const THttpLimits& Limits() const = 0;
    // Moves the connection to the end of the list of that kind (No: out of both).
    virtual void MarkClosable(THttpConnection& c, TClosable kind) = 0;
    // The request is read: the handler runs on a worker and its answer comes back through c->Respond, or
    // the listener refuses it at once through c->Refuse.
    virtual void Dispatch(std::shared_ptr<THttpConnection> c, THttpRequestInfo request) = 0;
    // The connection's answer is out or it closed: it no longer counts against the cap.
    virtual void Released(THttpConnection& c) = 0;
    // The connection is closed: the listener forgets it.
    virtual void Closed(THttpConnection& c) = 0;
    // False when too many answered connections are still draining: the next one closes at once.
    virtual bool MayLinger() const = 0;
    // A function for a stream's producer that makes the I/O thread call c->Pump soon; harmless once the
    // listener has stopped.
    virtual std::function<void()> StreamWaker(std::weak_ptr<THttpConnection> c) = 0;
    // A deadline was set: the listener's tick runs until no connection is left.
    virtual void DeadlineArmed() = 0;
    // A scratch buffer for bytes that are read only to be dropped.
    virtual boost::asio::mutable_buffer DrainBuffer() = 0;
};

class THttpConnection : public std::enable_shared_from_this<THttpConnection> {
public:
    enum class TState { Reading, Waiting, Writing, Streaming, Idle, Draining, Closed };

    THttpConnection(THttpConnectionHost& host, boost::asio::ip::tcp::socket socket, std::string clientIp);
    ~THttpConnection();

    // Reads the request under the read deadline.
    void Start();
    // Answers 503 (too many connections) at once, without reading.
    void Refuse();
    // Answers a waiting request with status and text instead of the handler (a full queue); Retry-After 1.
    void Refuse(unsigned status, const std::string& text);
    // Sends the handler's answer (posted back from the worker); fileBytes, when given, are the whole
    // content of the answer's file, read already.
    void Respond(THttpResponseInfo& response, std::string* fileBytes = nullptr);
    // Watches the socket while the request waits or runs, to learn when the client leaves.
    void WatchClient();
    // Writes what the stream's producer queued, or ends the answer when the stream has ended.
    void Pump();
    // Closes the socket now, ending a stream; pending operations end without effect.
    void Close();
    // Acts on the connection's deadline (408, close) when it has passed.
    void CheckDeadline(std::chrono::steady_clock::time_point now);

    TState State() const { return fState; }
    // The listener's book-keeping, on the I/O thread.
    bool Counted = false;                  // counts against the cap
    TClosable Closable = TClosable::No;    // the list it is in, of those that may be closed to make room
    std::list<std::shared_ptr<THttpConnection>>::iterator OpenPos;
    std::list<THttpConnection*>::iterator ClosablePos;

private:
    using tcp = boost::asio::ip::tcp;
    using error_code = boost::system::error_code;

    void ArmDeadline(std::chrono::milliseconds after, void (THttpConnection::*onExpiry)());
    void CancelDeadline();
    void ReadRequest();
    void OnReadExpired();
    void OnHeader(error_code ec);
    void ReadBody();
    void OnReadError(error_code ec);
    void OnRequest();
    void SendStatus(unsigned status, const std::string& text, bool retryLater = false);
    void PrepareAnswer(THttpResponseInfo& response, std::string* fileBytes = nullptr);
    void WriteAnswer();
    void OnWritten(error_code ec);
    void KeepOpen();
    void WatchReadable();
    void OnReadable(error_code ec);
    void Finish();
    void Drain();

    THttpConnectionHost& fHost;
    tcp::socket fSocket;
    std::string fClientIp;
    std::chrono::steady_clock::time_point fDeadline = std::chrono::steady_clock::time_point::max();
    void (THttpConnection::*fOnExpiry)() = nullptr;
    TState fState = TState::Reading;
    bool fTimedOut = false;
    bool fHeadOnly = false;
    int fRequests = 0;              // requests read on this connection
    bool fKeepAlive = false;        // the answer being made leaves the connection open
    bool fSayKeepAlive = false;     // ... and says so (an HTTP/1.0 client asked for it)
    bool fWatching = false;         // a wait for the socket to become readable is pending
    bool fAheadSeen = false;        // the client's next request is in the socket already
    std::shared_ptr<std::atomic<bool>> fGone;  // handed to the handler with each request
    boost::beast::flat_buffer fBuffer;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> fParser;
    std::string fContinue;
    std::variant<std::monostate, boost::beast::http::response<boost::beast::http::string_body>,
                 boost::beast::http::response<boost::beast::http::file_body>,
                 boost::beast::http::response<boost::beast::http::empty_body>>
        fAnswer;
    std::shared_ptr<THttpStream> fStream;
    std::string fStreamText;  // being written
    bool fStreamWriting = false;
    bool fDrainReading = false;
    std::size_t fDrained = 0;
};

}  // namespace zelto
