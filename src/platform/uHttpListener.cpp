#include "platform/uHttpListener.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <string_view>
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cerrno>
#include <cstring>

namespace zelto {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

// ---------------------------------------------------------------------------------------------- helpers

std::string PercentDecode(const std::string& s) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
            out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string Utf8ToSingleByte(const std::string& s, unsigned maxCodePoint) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        unsigned cp = 0;
        std::size_t len = 0;
        if (c < 0x80) { cp = c; len = 1; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1Fu; len = 2; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0Fu; len = 3; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07u; len = 4; }
        bool ok = len > 0 && i + len <= s.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (cc & 0x3Fu);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        out += cp <= maxCodePoint ? static_cast<char>(cp) : '?';
        i += len;
    }
    return out;
}

std::string THttpRequestInfo::Header(std::string_view name) const {
    for (const auto& [key, value] : Headers)
        if (key.size() == name.size() && beast::iequals(key, beast::string_view(name.data(), name.size()))) return value;
    return {};
}

TContentFile::TContentFile(const std::string& path) {
    auto fail = [&](int err) {
        throw std::runtime_error("Cannot open file \"" + path + "\". " + std::strerror(err));
    };
    fFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fFd < 0) fail(errno);
    struct stat st;
    if (::fstat(fFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISREG(st.st_mode) ? errno : EISDIR;
        ::close(fFd);
        fFd = -1;
        fail(err);
    }
    fSize = static_cast<uint64_t>(st.st_size);
}

TContentFile::~TContentFile() {
    if (fFd >= 0) ::close(fFd);
}

int TContentFile::Release() {
    const int fd = fFd;
    fFd = -1;
    return fd;
}

namespace {

std::string_view View(beast::string_view v) { return std::string_view(v.data(), v.size()); }

bool IEquals(std::string_view a, std::string_view b) {
    return beast::iequals(beast::string_view(a.data(), a.size()), beast::string_view(b.data(), b.size()));
}

// The media type of a Content-Type value, without parameters and spaces.
std::string_view MediaType(std::string_view v) {
    const auto semi = v.find(';');
    if (semi != std::string_view::npos) v = v.substr(0, semi);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    return v;
}

// The Content-Type header and the bytes for a content text.
void EncodeText(const THttpResponseInfo& r, std::string& type, std::string& body) {
    type = r.ContentType;
    // Plain text, not HTML: these texts (404, 500) repeat what the client sent.
    if (type.empty() && !r.ContentText.empty()) type = "text/plain";
    const std::string_view media = MediaType(type);
    const bool isText = media.size() > 5 && IEquals(media.substr(0, 5), "text/");
    if (!isText) {
        body = r.ContentText;
        return;
    }
    if (type.find("charset") == std::string::npos) {
        type += IEquals(media, "text/xml") ? "; charset=us-ascii" : "; charset=ISO-8859-1";
    }
    if (type.find("us-ascii") != std::string::npos) body = Utf8ToSingleByte(r.ContentText, 0x7F);
    else if (type.find("ISO-8859-1") != std::string::npos) body = Utf8ToSingleByte(r.ContentText, 0xFF);
    else body = r.ContentText;
}

}  // namespace

// ------------------------------------------------------------------------------------------ connection

// One connection: its own io_context, run on its own thread, from reading the request to closing.
class TConnection {
public:
    TConnection(const THttpHandler& handler, const THttpLimits& limits, tcp protocol)
        : fHandler(handler), fLimits(limits), fProtocol(protocol), fStream(fIoc) {}

    // Runs the whole connection on the calling thread.
    void Run(int fd) {
        error_code ec;
        fStream.socket().assign(fProtocol, fd, ec);
        if (ec) {
            ::close(fd);
            return;
        }
        fParser.emplace();
        fParser->header_limit(static_cast<std::uint32_t>(fLimits.HeaderLimit));
        fParser->body_limit(fLimits.BodyLimit);
        // One deadline for the whole request. The stream's own timeout would close the socket; this one only
        // cancels the read, so that the client still gets its 408.
        fReadTimer.expires_after(fLimits.ReadDeadline);
        fReadTimer.async_wait([this](error_code e) {
            if (e) return;
            fTimedOut = true;
            error_code ignored;
            fStream.socket().cancel(ignored);
        });
        http::async_read_header(fStream, fBuffer, *fParser, [this](error_code e, std::size_t) { OnHeader(e); });
        fIoc.run();
        fStream.socket().close(ec);
    }

    // Makes Run return as soon as the handler (if it is in it) has returned.
    void Abort() { fIoc.stop(); }

private:
    void OnHeader(error_code ec) {
        if (ec) return OnReadError(ec);
        auto& req = fParser->get();
        if (req.method() != http::verb::get && req.method() != http::verb::head && req.method() != http::verb::post) {
            return SendStatus(http::status::method_not_allowed, "Method not allowed", "GET, HEAD, POST");
        }
        if (IEquals(View(req[http::field::expect]), "100-continue") && !fParser->is_done()) {
            // The client waits for this before it sends the body.
            fContinue = "HTTP/1.1 100 Continue\r\n\r\n";
            return asio::async_write(fStream, asio::buffer(fContinue), [this](error_code e, std::size_t) {
                if (e) return;
                ReadBody();
            });
        }
        ReadBody();
    }

    void ReadBody() {
        http::async_read(fStream, fBuffer, *fParser, [this](error_code e, std::size_t) {
            if (e) return OnReadError(e);
            OnRequest();
        });
    }

    void OnReadError(error_code ec) {
        fReadTimer.cancel();
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
            // A request line that does not even end within the limit is a URI too long; otherwise the
            // headers are too large.
            const auto data = fBuffer.data();
            const std::string_view seen(static_cast<const char*>(data.data()), data.size());
            const bool lineEnded = seen.find('\n') != std::string_view::npos;
            return SendStatus(lineEnded ? http::status::request_header_fields_too_large : http::status::uri_too_long,
                              lineEnded ? "Request header fields too large" : "Request-URI too long");
        }
        if (ec == http::error::body_limit) return SendStatus(http::status::payload_too_large, "Request entity too large");
        if (fTimedOut) {
            if (fBuffer.size() > 0 || fParser->got_some()) return SendStatus(http::status::request_timeout, "Request timeout");
            return;  // nothing was asked; just close
        }
        if (ec == http::error::end_of_stream || ec == asio::error::eof || ec == asio::error::connection_reset ||
            ec == asio::error::operation_aborted) {
            if (fParser->got_some() && ec != asio::error::operation_aborted) {
                return SendStatus(http::status::bad_request, "Bad request");  // cut off mid-request
            }
            return;
        }
        if (&ec.category() == &http::make_error_code(http::error::bad_target).category()) {
            return SendStatus(http::status::bad_request, "Bad request");  // the request cannot be parsed
        }
    }

    // Splits the target into the decoded path and the raw query.
    static bool SplitTarget(std::string_view target, std::string& document, std::string& query) {
        if (target.rfind("http://", 0) == 0 || target.rfind("https://", 0) == 0) {
            const auto slash = target.find('/', target.find("//") + 2);
            target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
        }
        if (target.empty() || target.front() != '/') return false;
        const auto q = target.find('?');
        document = PercentDecode(std::string(target.substr(0, q)));
        query = q == std::string_view::npos ? std::string() : std::string(target.substr(q + 1));
        return true;
    }

    void OnRequest() {
        fReadTimer.cancel();
        auto& req = fParser->get();
        THttpRequestInfo info;
        info.Command = std::string(View(req.method_string()));
        if (!SplitTarget(View(req.target()), info.Document, info.Params)) {
            return SendStatus(http::status::bad_request, "Bad request");
        }
        if (req.method() == http::verb::post &&
            IEquals(MediaType(View(req[http::field::content_type])), "application/x-www-form-urlencoded")) {
            info.Params = info.Params.empty() ? req.body() : req.body() + "&" + info.Params;
        }
        error_code ec;
        const auto remote = fStream.socket().remote_endpoint(ec);
        if (!ec) info.ClientIp = remote.address().to_string();
        const auto local = fStream.socket().local_endpoint(ec);
        if (!ec) info.LocalIp = local.address().to_string();
        for (const auto& field : req)
            info.Headers.emplace_back(std::string(View(field.name_string())), std::string(View(field.value())));

        THttpResponseInfo res;
        try {
            fHandler(info, res);
        } catch (const std::exception& e) {
            res.ResponseNo = 500;
            res.ContentText = e.what();
            res.ContentStream.reset();
        } catch (...) {
            res.ResponseNo = 500;
            res.ContentText = "Internal server error";
            res.ContentStream.reset();
        }
        Send(res, req.method() == http::verb::head);
    }

    void SendStatus(http::status status, const std::string& text, const char* allow = nullptr) {
        THttpResponseInfo res;
        res.ResponseNo = static_cast<int>(status);
        res.ContentText = text;
        if (allow != nullptr) fAllow = allow;
        Send(res, false);
    }

    template <class Body>
    void Prepare(http::response<Body>& r, const THttpResponseInfo& info, const std::string& type, uint64_t length) {
        r.version(11);
        r.result(static_cast<unsigned>(info.ResponseNo));
        if (!type.empty()) r.set(http::field::content_type, type);
        if (!fAllow.empty()) r.set(http::field::allow, fAllow);
        r.keep_alive(false);
        r.content_length(length);
    }

    void Send(THttpResponseInfo& info, bool headOnly) {
        fStream.expires_after(fLimits.WriteDeadline);
        auto done = [this](error_code e, std::size_t) { Finish(e); };
        if (info.ContentStream) {
            const uint64_t size = info.ContentStream->Size();
            if (headOnly) {
                Prepare(fEmptyRes, info, info.ContentType, size);
                return http::async_write(fStream, fEmptyRes, done);
            }
            beast::file_posix file;
            file.native_handle(info.ContentStream->Release());
            error_code ec;
            fFileRes.body().reset(std::move(file), ec);
            Prepare(fFileRes, info, info.ContentType, size);
            return http::async_write(fStream, fFileRes, done);
        }
        std::string type, body;
        EncodeText(info, type, body);
        if (headOnly) {
            Prepare(fEmptyRes, info, type, body.size());
            return http::async_write(fStream, fEmptyRes, done);
        }
        fTextRes.body() = std::move(body);
        Prepare(fTextRes, info, type, fTextRes.body().size());
        http::async_write(fStream, fTextRes, done);
    }

    // After the response: stop sending, then read (and drop) what the client still sends, briefly, so that
    // closing does not reset the connection before the client has read the response.
    void Finish(error_code ec) {
        if (ec) return;
        fStream.socket().shutdown(tcp::socket::shutdown_send, ec);
        fStream.expires_after(std::chrono::seconds(2));
        Drain();
    }

    void Drain() {
        fStream.async_read_some(asio::buffer(fDrain), [this](error_code e, std::size_t n) {
            fDrained += n;
            if (!e && fDrained < 1024 * 1024) Drain();
        });
    }

    const THttpHandler& fHandler;
    const THttpLimits& fLimits;
    tcp fProtocol;
    asio::io_context fIoc{1};
    beast::tcp_stream fStream;
    asio::steady_timer fReadTimer{fIoc};
    bool fTimedOut = false;
    beast::flat_buffer fBuffer{64 * 1024};
    std::optional<http::request_parser<http::string_body>> fParser;
    std::string fContinue;
    std::string fAllow;
    http::response<http::string_body> fTextRes;
    http::response<http::file_body> fFileRes;
    http::response<http::empty_body> fEmptyRes;
    char fDrain[4096];
    std::size_t fDrained = 0;
};

// -------------------------------------------------------------------------------------------- listener

struct THttpListener::TImpl {
    struct TSlot {
        std::unique_ptr<TConnection> Connection;
        std::thread Thread;
        std::atomic<bool> Done{false};
    };

    TImpl(const THttpHandler& handler, const THttpLimits& limits) : Handler(handler), Limits(limits) {}

    const THttpHandler& Handler;
    const THttpLimits& Limits;
    asio::io_context Ioc{1};
    tcp::acceptor Acceptor{Ioc};
    asio::steady_timer Backoff{Ioc};
    std::thread AcceptThread;
    uint16_t Port = 0;
    tcp Protocol = tcp::v4();
    std::atomic<int> Refusing{0};

    mutable std::mutex Mutex;  // guards Slots
    std::list<std::unique_ptr<TSlot>> Slots;

    // Joins the threads of finished connections; returns the number still running.
    int Reap() {
        std::list<std::unique_ptr<TSlot>> finished;
        int running = 0;
        {
            std::lock_guard<std::mutex> lock(Mutex);
            for (auto it = Slots.begin(); it != Slots.end();) {
                if ((*it)->Done) {
                    finished.splice(finished.end(), Slots, it++);
                } else {
                    ++running;
                    ++it;
                }
            }
        }
        for (auto& s : finished) s->Thread.join();
        return running;
    }

    void Accept() {
        Acceptor.async_accept([this](error_code ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted || !Acceptor.is_open()) return;
            if (ec) {
                // Out of descriptors or similar: wait a little instead of spinning.
                Backoff.expires_after(std::chrono::milliseconds(50));
                Backoff.async_wait([this](error_code) { Accept(); });
                return;
            }
            OnAccepted(std::move(socket));
            Accept();
        });
    }

    void OnAccepted(tcp::socket socket) {
        if (Reap() >= Limits.MaxConnections) return Refuse(std::move(socket));
        auto slot = std::make_unique<TSlot>();
        slot->Connection = std::make_unique<TConnection>(Handler, Limits, Protocol);
        TSlot* s = slot.get();
        const int fd = socket.release();
        std::lock_guard<std::mutex> lock(Mutex);
        try {
            s->Thread = std::thread([s, fd] {
                s->Connection->Run(fd);
                s->Done = true;
            });
        } catch (const std::system_error&) {
            ::close(fd);  // no thread to be had: drop this connection, keep serving the others
            return;
        }
        Slots.push_back(std::move(slot));
    }

    // Too many connections: answer 503 on the acceptor's own thread, without a thread of its own.
    void Refuse(tcp::socket socket) {
        if (Refusing >= 256) return;  // the socket closes as it goes out of scope
        ++Refusing;
        struct TBusy {
            beast::tcp_stream Stream;
            std::string Text;
            char Drain[1024];
            explicit TBusy(tcp::socket s) : Stream(std::move(s)) {}
        };
        auto busy = std::make_shared<TBusy>(std::move(socket));
        const std::string body = "Too many connections";
        busy->Text = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=ISO-8859-1\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        busy->Stream.expires_after(std::chrono::seconds(2));
        asio::async_write(busy->Stream, asio::buffer(busy->Text), [this, busy](error_code ec, std::size_t) {
            if (ec) {
                --Refusing;
                return;
            }
            busy->Stream.socket().shutdown(tcp::socket::shutdown_send, ec);
            busy->Stream.async_read_some(asio::buffer(busy->Drain), [this, busy](error_code, std::size_t) { --Refusing; });
        });
    }
};

THttpListener::THttpListener(THttpHandler handler, THttpLimits limits) : fHandler(std::move(handler)), fLimits(limits) {}

THttpListener::~THttpListener() { Stop(); }

void THttpListener::Start() {
    if (fImpl) return;
    auto impl = std::make_unique<TImpl>(fHandler, fLimits);
    error_code ec;
    const auto address = asio::ip::make_address(fBindAddress, ec);
    if (ec) throw EHttpListenerError(ec.message());
    const tcp::endpoint endpoint(address, fDefaultPort);
    impl->Acceptor.open(endpoint.protocol(), ec);
    if (!ec) impl->Acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) impl->Acceptor.bind(endpoint, ec);
    if (!ec) impl->Acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec == asio::error::address_in_use) {
        throw EHttpListenerError("Could not bind socket. Address and port are already in use.");
    }
    if (ec) throw EHttpListenerError(ec.message());
    impl->Port = impl->Acceptor.local_endpoint().port();
    impl->Protocol = endpoint.protocol();
    impl->Accept();
    TImpl* p = impl.get();
    impl->AcceptThread = std::thread([p] { p->Ioc.run(); });
    fImpl = std::move(impl);
}

void THttpListener::Stop() {
    if (!fImpl) return;
    fImpl->Ioc.stop();
    fImpl->AcceptThread.join();
    error_code ec;
    fImpl->Acceptor.close(ec);
    std::list<std::unique_ptr<TImpl::TSlot>> slots;
    {
        std::lock_guard<std::mutex> lock(fImpl->Mutex);
        slots.swap(fImpl->Slots);
    }
    for (auto& s : slots) s->Connection->Abort();
    for (auto& s : slots) s->Thread.join();  // a request in the handler finishes first
    fImpl.reset();
}

bool THttpListener::Active() const { return fImpl != nullptr; }

uint16_t THttpListener::BoundPort() const { return fImpl ? fImpl->Port : 0; }

int THttpListener::ConnectionCount() const { return fImpl ? fImpl->Reap() : 0; }

}  // namespace zelto
