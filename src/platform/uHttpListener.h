#pragma once
// The HTTP listener: a general HTTP/1.1 server on Boost.Beast. One I/O thread does all socket work
// (accept, read, write, file bodies, open streams, kept-alive connections) asynchronously; the handler
// runs on worker threads, so a handler that waits never stalls the others. The listener hands each request
// to the handler and sends what the handler set. An HTTP/1.1 connection stays open for the client's next
// request unless the client asks to close ("Connection: close"; HTTP/1.0 only with "Connection:
// keep-alive"), for at most KeepAliveRequests requests and KeepAliveIdle between them; otherwise the
// answer closes it. Limits keep a bad or slow client from taking the server down: at most MaxConnections
// at once, kept-alive ones included (when all are taken, an idle kept-alive connection is closed to make
// room, else the one that has waited longest without sending a whole request head; when every one has sent
// its request head, the next gets 503), the request line and headers within HeaderLimit (414 or 431), a
// body within BodyLimit (413), ReadDeadline for reading a whole request (408) and WriteDeadline for each
// write of an answer. Only GET, HEAD and POST reach the handler (others get 405; OPTIONS may be let
// through). Bodies are never decompressed. An early refusal frees its place as soon as it is sent.
//
// Two worker pools run the handler: the ordinary one (Workers threads, at most WorkerBacklog requests
// waiting, 503 beyond) and, for the requests SetQueuedRequests picks (those that may wait long, for
// example for a controller), one of their own (QueuedWorkers threads, at most QueuedBacklog waiting, 503
// beyond, and at most QueuedPerClient waiting or running per client address, 429 beyond), so that those
// never hold up the others. While a request waits or runs, the I/O thread watches its connection: when
// the client closes or resets it, the request's GoneFlag is set and a request whose turn has not come yet
// is dropped (not handed to the handler, nothing written).
//
// Threads: Start, Stop, Restart and the setters run on the owner's thread (the setters before Start); the
// acceptor, the connection table and every connection live on the I/O thread; the handler runs on the
// workers. Active, BoundPort and ConnectionCount may be called from any thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/uHttpStream.h"

namespace zelto {

// What the listener hands the handler about one request.
struct THttpRequestInfo {
    std::string Command;   // "GET", "HEAD" or "POST" ("OPTIONS" when accepted)
    std::string ClientIp;  // the peer's address
    std::string LocalIp;   // the local address of the connection
    std::string Document;  // the URL's path, percent-decoded, beginning with "/"
    // The query exactly as received; for a POST form ("application/x-www-form-urlencoded") the body, then
    // "&" and the query when there is one.
    std::string Params;
    // Every request header as received (name as the client wrote it, value without surrounding blanks).
    std::vector<std::pair<std::string, std::string>> Headers;
    // The value of the first header of that name (compared without regard to case), or "".
    std::string Header(std::string_view name) const;
    // Set by the listener (on its I/O thread) once the connection has closed: the client left, and an
    // answer would reach nobody. Long work may look at it and give up early.
    std::shared_ptr<const std::atomic<bool>> GoneFlag;
    bool ClientGone() const { return GoneFlag && GoneFlag->load(std::memory_order_relaxed); }
};

// A file opened for sending: the handler opens it (so an error is the handler's), the listener sends it
// whole and closes it.
class TContentFile {
public:
    // Opens a regular file for reading; throws std::runtime_error ("Cannot open file "<path>". <reason>").
    explicit TContentFile(const std::string& path);
    ~TContentFile();
    TContentFile(const TContentFile&) = delete;
    TContentFile& operator=(const TContentFile&) = delete;
    uint64_t Size() const { return fSize; }
    int Release();  // hands the descriptor over; the object no longer closes it
    // The whole file, read from its start; false (out undefined) when it cannot be read whole.
    bool ReadAll(std::string& out) const;

private:
    int fFd = -1;
    uint64_t fSize = 0;
};

// What the handler sets. Text is UTF-8; for "text/..." types the listener adds a charset ("us-ascii" for
// text/xml, "ISO-8859-1" for the others) and sends the text in it (characters it cannot hold become "?").
// A content text without a content type goes out as text/plain.
struct THttpResponseInfo {
    int ResponseNo = 200;
    std::string ContentType;
    std::string ContentText;
    std::unique_ptr<TContentFile> ContentStream;  // sent instead of ContentText when set
    // Headers added to the answer as they are (for example Access-Control-Allow-Origin and Vary).
    std::vector<std::pair<std::string, std::string>> ExtraHeaders;
    // An answer that stays open: the listener sends the status line and headers (no Content-Length), then
    // everything the stream's producer queues, until the stream ends or the client leaves. ContentText and
    // ContentStream are ignored then. A content type that names its own charset ("application/json;
    // charset=utf-8", "text/event-stream; charset=utf-8") is sent unchanged and the text as UTF-8 bytes.
    std::shared_ptr<THttpStream> Stream;
};

// Called once per request, on a worker thread; several calls may run at once. An exception that escapes
// becomes status 500 with its message as the content text. A status without a body (204, 304, 1xx) goes
// out without content and without Content-Length.
using THttpHandler = std::function<void(const THttpRequestInfo&, THttpResponseInfo&)>;

// Tells which requests go to the queued pool (see SetQueuedRequests). Called on the I/O thread: it must be
// quick and must not block.
using THttpRequestTest = std::function<bool(const THttpRequestInfo&)>;

struct THttpLimits {
    int MaxConnections = 1024;
    std::size_t HeaderLimit = 64 * 1024;
    std::size_t BodyLimit = 1024 * 1024;
    std::chrono::milliseconds ReadDeadline{10000};
    std::chrono::milliseconds WriteDeadline{10000};
    // OPTIONS requests reach the handler (cross-origin preflight); otherwise they get 405 like every
    // method but GET, HEAD and POST.
    bool AcceptOptions = false;
    // Worker threads that run the handler, started with the listener, and how many requests may wait for
    // one of them (503 beyond).
    int Workers = 4;
    std::size_t WorkerBacklog = 1024;
    // The pool of the requests SetQueuedRequests picks: threads (started as needed), requests waiting for
    // one (503 beyond), and requests waiting or running per client address (429 beyond).
    int QueuedWorkers = 64;
    std::size_t QueuedBacklog = 1024;
    int QueuedPerClient = 16;
    // Requests one kept-alive connection serves (its last answer closes it; 1 turns keep-alive off), and
    // how long it may stay idle between them.
    int KeepAliveRequests = 100;
    std::chrono::milliseconds KeepAliveIdle{5000};
};

// A port that cannot be opened; the message is the one shown to the user.
class EHttpListenerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class THttpListener {
public:
    explicit THttpListener(THttpHandler handler, THttpLimits limits = {});
    ~THttpListener();  // Stop
    THttpListener(const THttpListener&) = delete;
    THttpListener& operator=(const THttpListener&) = delete;

    // The port Start opens (0 picks a free one; BoundPort tells which).
    uint16_t DefaultPort() const { return fDefaultPort; }
    void SetDefaultPort(uint16_t port) { fDefaultPort = port; }
    // Address to listen on; all IPv4 addresses by default.
    void SetBindAddress(const std::string& address) { fBindAddress = address; }
    // Requests for which isQueued is true run on the queued pool, started in the order they arrived; they
    // wait in a queue, not on a thread, and never hold up the others. Set before Start.
    void SetQueuedRequests(THttpRequestTest isQueued) { fQueued = std::move(isQueued); }

    // Opens the port and starts accepting. Throws EHttpListenerError: "Could not bind socket. Address and
    // port are already in use." when the port is taken, the system's text for other errors.
    void Start();
    // Stops accepting, closes every connection, drops the requests still waiting for the handler and waits
    // until no request is in the handler any more (also those a Restart left running).
    void Stop();
    // Moves to another port without waiting for the handler: stops accepting, closes every connection and
    // drops the requests still waiting, as Stop does, then opens `port` as Start does (throws as Start does;
    // the listener is inactive then). Requests already in the handler run to their end in the background;
    // their answers find the connection closed.
    void Restart(uint16_t port);
    bool Active() const;
    uint16_t BoundPort() const;
    int ConnectionCount() const;  // connections counting against MaxConnections now, kept-alive ones included

private:
    struct TImpl;
    THttpHandler fHandler;
    THttpLimits fLimits;
    THttpRequestTest fQueued;
    uint16_t fDefaultPort = 80;
    std::string fBindAddress = "0.0.0.0";
    std::unique_ptr<TImpl> fImpl;
    // Listeners a Restart closed, ending in the background once their last request has left the handler.
    std::vector<std::future<void>> fRetiring;
    // Closes impl's connections and acceptor; waits only for its I/O thread, which never blocks.
    static void CloseConnections(TImpl& impl);
    static void Finish(TImpl& impl);  // waits for the handler, then ends the threads
};

// "%41" becomes "A"; a "%" not followed by two hexadecimal digits stays as it is.
std::string PercentDecode(const std::string& s);

// UTF-8 text in a one-byte charset: 0x7F is the last character of us-ascii, 0xFF of ISO-8859-1; others "?".
std::string Utf8ToSingleByte(const std::string& s, unsigned maxCodePoint);

}  // namespace zelto
