#include "platform/uHttpConnection.h"

#include <sys/socket.h>

#include <boost/asio/write.hpp>
#include <cerrno>
#include <utility>

#include "platform/uHttpMessage.h"

namespace zelto {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// After the answer, what the client still sends is read and dropped for at most this long and this much,
// so that closing does not reset the connection before the client has read the answer.
constexpr std::chrono::milliseconds kDrainTime{2000};
constexpr std::size_t kDrainBytes = 1024 * 1024;

std::string_view View(beast::string_view v) { return std::string_view(v.data(), v.size()); }

// Statuses whose answers carry no body (and so no Content-Length).
bool HasNoBody(unsigned status) { return status < 200 || status == 204 || status == 304; }

}  // namespace

// The socket has TCP_NODELAY from the listening socket: an answer is written whole, nothing to gather.
THttpConnection::THttpConnection(THttpConnectionHost& host, tcp::socket socket, std::string clientIp)
    : fHost(host),
      fSocket(std::move(socket)),
      fClientIp(std::move(clientIp)),
      fBuffer(host.Limits().HeaderLimit + 4096) {}

THttpConnection::~THttpConnection() {
    if (fStream) fStream->Abort();
}

// Deadlines cost no timer of their own: the listener's tick calls CheckDeadline on every connection.
void THttpConnection::ArmDeadline(std::chrono::milliseconds after, void (THttpConnection::*onExpiry)()) {
    fDeadline = std::chrono::steady_clock::now() + after;
    fOnExpiry = onExpiry;
    fHost.DeadlineArmed();
}

void THttpConnection::CancelDeadline() { fDeadline = std::chrono::steady_clock::time_point::max(); }

void THttpConnection::CheckDeadline(std::chrono::steady_clock::time_point now) {
    if (fState == TState::Closed || now < fDeadline) return;
    CancelDeadline();
    (this->*fOnExpiry)();
}

void THttpConnection::Start() { ReadRequest(); }

// Reads one request under the read deadline, from what is already in the buffer on.
void THttpConnection::ReadRequest() {
    fState = TState::Reading;
    fTimedOut = false;
    const THttpLimits& limits = fHost.Limits();
    fParser.emplace();
    fParser->header_limit(static_cast<std::uint32_t>(limits.HeaderLimit));
    fParser->body_limit(limits.BodyLimit);
    // One deadline for the whole request. It only cancels the read, so that the client still gets its 408.
    ArmDeadline(limits.ReadDeadline, &THttpConnection::OnReadExpired);
    http::async_read_header(fSocket, fBuffer, *fParser,
                            [self = shared_from_this()](error_code ec, std::size_t) { self->OnHeader(ec); });
}

void THttpConnection::Refuse() { SendStatus(503, "Too many connections"); }

void THttpConnection::Refuse(unsigned status, const std::string& text) {
    if (fState != TState::Waiting) return;
    SendStatus(status, text, true);
}

void THttpConnection::OnReadExpired() {
    fTimedOut = true;
    error_code ignored;
    fSocket.cancel(ignored);
}

void THttpConnection::OnHeader(error_code ec) {
    if (fState != TState::Reading) return;
    if (ec) return OnReadError(ec);
    fHost.MarkClosable(*this, TClosable::No);
    auto& req = fParser->get();
    const auto method = req.method();
    const bool allowed = method == http::verb::get || method == http::verb::head || method == http::verb::post ||
                         (method == http::verb::options && fHost.Limits().AcceptOptions);
    if (!allowed) return SendStatus(405, "Method not allowed");
    if (IEquals(View(req[http::field::expect]), "100-continue") && !fParser->is_done()) {
        // The client waits for this before it sends the body.
        fContinue = "HTTP/1.1 100 Continue\r\n\r\n";
        asio::async_write(fSocket, asio::buffer(fContinue), [self = shared_from_this()](error_code e, std::size_t) {
            if (self->fState != TState::Reading) return;
            if (e) return self->OnReadError(e);
            self->ReadBody();
        });
        return;
    }
    ReadBody();
}

void THttpConnection::ReadBody() {
    if (fParser->is_done()) return OnRequest();
    http::async_read(fSocket, fBuffer, *fParser, [self = shared_from_this()](error_code e, std::size_t) {
        if (self->fState != TState::Reading) return;
        if (e) return self->OnReadError(e);
        self->OnRequest();
    });
}

void THttpConnection::OnReadError(error_code ec) {
    CancelDeadline();
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
        // A request line that does not even end within the limit is a URI too long; otherwise the headers
        // are too large.
        const auto data = fBuffer.data();
        const std::string_view seen(static_cast<const char*>(data.data()), data.size());
        const bool lineEnded = seen.find('\n') != std::string_view::npos;
        return lineEnded ? SendStatus(431, "Request header fields too large") : SendStatus(414, "Request-URI too long");
    }
    if (ec == http::error::body_limit) return SendStatus(413, "Request entity too large");
    if (fTimedOut) {
        if (fBuffer.size() > 0 || fParser->got_some()) return SendStatus(408, "Request timeout");
        return Close();  // nothing was asked
    }
    if (ec == http::error::end_of_stream || ec == asio::error::eof || ec == asio::error::connection_reset ||
        ec == asio::error::operation_aborted) {
        // Cut off mid-request: the client may still read.
        if (fParser->got_some() && ec != asio::error::operation_aborted) return SendStatus(400, "Bad request");
        return Close();
    }
    if (&ec.category() == &http::make_error_code(http::error::bad_target).category()) {
        return SendStatus(400, "Bad request");  // the request cannot be parsed
    }
    Close();
}

void THttpConnection::OnRequest() {
    CancelDeadline();
    auto& req = fParser->get();
    THttpRequestInfo info;
    info.Command = std::string(View(req.method_string()));
    if (!SplitTarget(View(req.target()), info.Document, info.Params)) return SendStatus(400, "Bad request");
    if (req.method() == http::verb::post &&
        IEquals(MediaType(View(req[http::field::content_type])), "application/x-www-form-urlencoded")) {
        info.Params = info.Params.empty() ? std::move(req.body()) : req.body() + "&" + info.Params;
    }
    error_code ec;
    info.ClientIp = fClientIp;
    const auto local = fSocket.local_endpoint(ec);
    if (!ec) info.LocalIp = local.address().to_string();
    info.Headers.reserve(static_cast<std::size_t>(std::distance(req.begin(), req.end())));
    for (const auto& field : req)
        info.Headers.emplace_back(std::string(View(field.name_string())), std::string(View(field.value())));
    // An absolute target ("GET http://host/..."): its host is the one asked for, whatever Host says.
    if (const std::string_view authority = TargetAuthority(View(req.target())); !authority.empty()) {
        std::erase_if(info.Headers, [](const auto& h) { return IEquals(h.first, "Host"); });
        info.Headers.emplace_back("Host", std::string(authority));
    }
    fHeadOnly = req.method() == http::verb::head;
    // HTTP/1.1 stays open unless the client asks to close; HTTP/1.0 only when it asks to stay open.
    const int maxRequests = fHost.Limits().KeepAliveRequests;
    fKeepAlive = req.keep_alive() && ++fRequests < maxRequests;
    fSayKeepAlive = fKeepAlive && req.version() < 11;
    if (!fGone) fGone = std::make_shared<std::atomic<bool>>(false);
    info.GoneFlag = fGone;
    // While the request waits for a worker it holds only its socket, what the handler gets, and the bytes
    // of a next request that came with it.
    fParser.reset();
    if (fBuffer.size() == 0) fBuffer.shrink_to_fit();
    fAheadSeen = fBuffer.size() > 0;
    fState = TState::Waiting;
    fHost.Dispatch(shared_from_this(), std::move(info));
}

void THttpConnection::SendStatus(unsigned status, const std::string& text, bool retryLater) {
    fHost.MarkClosable(*this, TClosable::No);
    THttpResponseInfo r;
    r.ResponseNo = static_cast<int>(status);
    r.ContentText = text;
    if (retryLater) r.ExtraHeaders.emplace_back("Retry-After", "1");
    fHeadOnly = false;
    fKeepAlive = false;
    fSayKeepAlive = false;
    PrepareAnswer(r);
    WriteAnswer();
}

void THttpConnection::Respond(THttpResponseInfo& response, std::string* fileBytes) {
    if (fState != TState::Waiting) return;  // closed meanwhile (the client left, the listener stops)
    PrepareAnswer(response, fileBytes);
    WriteAnswer();
}

void THttpConnection::WatchClient() {
    if (fState == TState::Waiting && !fAheadSeen) WatchReadable();
}

// Builds the answer from what the handler set: status line and headers, then the content text, the file,
// or (for a stream) nothing yet.
void THttpConnection::PrepareAnswer(THttpResponseInfo& r, std::string* fileBytes) {
    const unsigned status = r.ResponseNo >= 100 && r.ResponseNo <= 999 ? static_cast<unsigned>(r.ResponseNo) : 500u;
    const bool noBody = HasNoBody(status);
    auto head = [&](auto& m, const std::string& type, std::optional<uint64_t> length) {
        m.version(11);
        m.result(status);
        if (!type.empty()) m.set(http::field::content_type, type);
        // One Allow on a 405: the handler's when it gives one, else the methods the listener serves.
        bool allowSent = false;
        for (const auto& [name, value] : r.ExtraHeaders) {
            if (!IsSafeHeader(name, value)) continue;
            if (IEquals(name, "Allow")) {
                if (allowSent) continue;
                allowSent = true;
            }
            m.insert(name, value);
        }
        if (status == 405 && !allowSent) {
            m.set(http::field::allow, fHost.Limits().AcceptOptions ? "GET, HEAD, POST, OPTIONS" : "GET, HEAD, POST");
        }
        m.keep_alive(fKeepAlive);
        if (fSayKeepAlive) m.set(http::field::connection, "keep-alive");
        if (length && !noBody) m.content_length(*length);
    };
    if (r.Stream) {
        fKeepAlive = fSayKeepAlive = false;  // a stream ends with its connection
        std::string type, ignored;
        THttpResponseInfo typeOnly;
        typeOnly.ContentType = r.ContentType;
        EncodeText(typeOnly, type, ignored);
        head(fAnswer.emplace<http::response<http::empty_body>>(), type, std::nullopt);
        if (fHeadOnly || noBody) {
            r.Stream->Abort();  // nothing of it goes out
        } else {
            fStream = r.Stream;
        }
        return;
    }
    if (r.ContentStream) {
        const uint64_t size = r.ContentStream->Size();
        if (fHeadOnly || noBody) {
            head(fAnswer.emplace<http::response<http::empty_body>>(), r.ContentType, size);
            return;
        }
        if (fileBytes != nullptr) {
            // Read on the worker already: it goes out with the head in one write.
            auto& m = fAnswer.emplace<http::response<http::string_body>>();
            m.body() = std::move(*fileBytes);
            head(m, r.ContentType, size);
            return;
        }
        auto& m = fAnswer.emplace<http::response<http::file_body>>();
        beast::file_posix file;
        file.native_handle(r.ContentStream->Release());
        error_code ec;
        m.body().reset(std::move(file), ec);
        head(m, r.ContentType, size);
        return;
    }
    std::string type, body;
    EncodeText(r, type, body);
    if (fHeadOnly || noBody) {
        head(fAnswer.emplace<http::response<http::empty_body>>(), type, body.size());
        return;
    }
    auto& m = fAnswer.emplace<http::response<http::string_body>>();
    m.body() = std::move(body);
    head(m, type, m.body().size());
}

void THttpConnection::WriteAnswer() {
    fState = TState::Writing;
    ArmDeadline(fHost.Limits().WriteDeadline, &THttpConnection::Close);
    std::visit(
        [this](auto& m) {
            if constexpr (!std::is_same_v<std::decay_t<decltype(m)>, std::monostate>) {
                http::async_write(fSocket, m,
                                  [self = shared_from_this()](error_code ec, std::size_t) { self->OnWritten(ec); });
            }
        },
        fAnswer);
}

void THttpConnection::OnWritten(error_code ec) {
    if (fState != TState::Writing) return;
    CancelDeadline();
    if (ec) return Close();
    fAnswer.emplace<std::monostate>();  // frees the text, closes the file
    if (!fStream) return fKeepAlive ? KeepOpen() : Finish();
    // An open answer: what the producer queues goes out as it comes; a read notices the client leaving.
    fState = TState::Streaming;
    fStream->SetNotify(fHost.StreamWaker(weak_from_this()));
    Drain();
    Pump();
}

void THttpConnection::Pump() {
    if (fState != TState::Streaming || fStreamWriting) return;
    fStreamText = fStream->TakePending();
    if (fStreamText.empty()) {
        if (fStream->Finished()) Finish();
        return;
    }
    fStreamWriting = true;
    ArmDeadline(fHost.Limits().WriteDeadline, &THttpConnection::Close);
    asio::async_write(fSocket, asio::buffer(fStreamText), [self = shared_from_this()](error_code ec, std::size_t n) {
        if (self->fState != TState::Streaming) return;
        self->fStreamWriting = false;
        self->CancelDeadline();
        if (ec) return self->Close();
        self->fStream->Written(n);
        self->Pump();
    });
}

// The answer is out and the connection stays for the client's next request: idle (the first to be closed
// when the table is full) until its first bytes come, or closed after the idle time.
void THttpConnection::KeepOpen() {
    fState = TState::Idle;
    fHeadOnly = false;
    fHost.MarkClosable(*this, TClosable::Idle);
    if (fAheadSeen || fBuffer.size() > 0) {
        // Sent ahead: read at once (a request still incomplete gets the whole read deadline).
        fHost.MarkClosable(*this, TClosable::Headless);
        return ReadRequest();
    }
    ArmDeadline(fHost.Limits().KeepAliveIdle, &THttpConnection::Close);
    WatchReadable();
}

// Waits for the socket to become readable, once at a time: while the request waits or runs (has the
// client left?) and while the connection is idle (has the next request begun?).
void THttpConnection::WatchReadable() {
    if (fWatching) return;
    fWatching = true;
    fSocket.async_wait(tcp::socket::wait_read, [self = shared_from_this()](error_code ec) { self->OnReadable(ec); });
}

void THttpConnection::OnReadable(error_code ec) {
    fWatching = false;
    if (ec || fState == TState::Closed) return;
    if (fState == TState::Idle) {
        fHost.MarkClosable(*this, TClosable::Headless);
        return ReadRequest();  // the next request, or the client's close, which the read sees
    }
    if (fState != TState::Waiting) return;
    // A look without taking: bytes are the client's next request (it is still there), the end or an error
    // means it left.
    char byte;
    const ssize_t n = ::recv(fSocket.native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        fAheadSeen = true;
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return WatchReadable();
    Close();
}

// The answer is out: the connection stops counting, stops sending and drops what still comes, briefly.
void THttpConnection::Finish() {
    fState = TState::Draining;
    if (fStream) fStream->SetNotify(nullptr);
    fHost.Released(*this);
    // Nothing more came from the client: closing now sends the end after the answer, no reset.
    char byte;
    if (fBuffer.size() == 0 && !fStream && ::recv(fSocket.native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0)
        return Close();
    error_code ec;
    fSocket.shutdown(tcp::socket::shutdown_send, ec);
    if (ec || !fHost.MayLinger()) return Close();
    ArmDeadline(kDrainTime, &THttpConnection::Close);
    Drain();
}

// Reads and drops what the client sends; its end (or an error) closes the connection. While a stream is
// open this is how the connection learns that the client left.
void THttpConnection::Drain() {
    if (fDrainReading) return;
    fDrainReading = true;
    fSocket.async_read_some(fHost.DrainBuffer(), [self = shared_from_this()](error_code ec, std::size_t n) {
        self->fDrainReading = false;
        if (self->fState == TState::Closed) return;
        self->fDrained += n;
        if (ec || self->fDrained > kDrainBytes) return self->Close();
        self->Drain();
    });
}

void THttpConnection::Close() {
    if (fState == TState::Closed) return;
    fState = TState::Closed;
    if (fGone) fGone->store(true, std::memory_order_relaxed);
    CancelDeadline();
    error_code ignored;
    fSocket.close(ignored);
    if (fStream) {
        fStream->SetNotify(nullptr);
        fStream->Abort();
    }
    // The answer and the parser stay until the connection goes: a write or read still pending on the closed
    // socket completes (aborted) with references to them. The last of those handlers frees the connection.
    fHost.Closed(*this);
}

}  // namespace zelto
