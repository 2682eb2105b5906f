#pragma once
// The HTTP listener: a general HTTP/1.1 server on Boost.Beast. One I/O thread does all socket work
// (accept, read, write, file bodies, open streams) asynchronously; the handler runs on a fixed pool of
// worker threads, so a handler that waits never stalls the others. Each connection carries one request;
// the listener hands it to the handler, sends what the handler set and closes the connection. Limits keep
// a bad or slow client from taking the server down: at most MaxConnections at once (when all are taken,
// the one that has waited longest without sending a whole request head is closed to make room; when every
// one has sent its request head, the next gets 503), the request line and headers within HeaderLimit (414
// or 431), a body within BodyLimit (413), ReadDeadline for reading a whole request (408) and WriteDeadline
// for each write of an answer. Only GET, HEAD and POST reach the handler (others get 405; OPTIONS may be
// let through). Bodies are never decompressed. An early refusal frees its place as soon as it is sent.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
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
    // Set by the listener: true once the client's connection has closed.
    std::shared_ptr<const std::atomic<bool>> GoneFlag;
    bool ClientGone() const { return GoneFlag && GoneFlag->load(); }
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

// Tells which requests are handled one at a time in the order they arrived (see SetSerialRequests).
// Called on the I/O thread: it must be quick and must not block.
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
    // Worker threads that run the handler, started with the listener.
    int Workers = 4;
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
    // Requests for which isSerial is true are handled one at a time, in the order they arrived, on a worker
    // of their own; they wait in a queue, not on a thread, and never hold up the others. Set before Start.
    void SetSerialRequests(THttpRequestTest isSerial) { fSerial = std::move(isSerial); }

    // Opens the port and starts accepting. Throws EHttpListenerError: "Could not bind socket. Address and
    // port are already in use." when the port is taken, the system's text for other errors.
    void Start();
    // Stops accepting, closes every connection, drops the requests still waiting for the handler and waits
    // until no request is in the handler any more.
    void Stop();
    bool Active() const;
    uint16_t BoundPort() const;
    int ConnectionCount() const;  // connections counting against MaxConnections now

private:
    struct TImpl;
    THttpHandler fHandler;
    THttpLimits fLimits;
    THttpRequestTest fSerial;
    uint16_t fDefaultPort = 80;
    std::string fBindAddress = "0.0.0.0";
    std::unique_ptr<TImpl> fImpl;
};

// "%41" becomes "A"; a "%" not followed by two hexadecimal digits stays as it is.
std::string PercentDecode(const std::string& s);

// UTF-8 text in a one-byte charset: 0x7F is the last character of us-ascii, 0xFF of ISO-8859-1; others "?".
std::string Utf8ToSingleByte(const std::string& s, unsigned maxCodePoint);

}  // namespace zelto
