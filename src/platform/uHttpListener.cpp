#include "platform/uHttpListener.h"

#include <pthread.h>
#include <sys/resource.h>

#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <future>
#include <utility>

#include "platform/uHttpConnection.h"
#include "platform/uWorkQueue.h"

namespace zelto {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

namespace {

// Answered connections that may still be draining at once, beyond the cap; more close without a drain.
constexpr std::size_t kMaxLingering = 1024;

// Posts to the I/O thread for a stream's producer, which may outlive the listener: after Stop it does
// nothing.
class TWaker {
public:
    explicit TWaker(asio::io_context& ioc) : fIoc(&ioc) {}
    void Post(std::function<void()> f) {
        std::lock_guard<std::mutex> lock(fLock);
        if (fIoc != nullptr) asio::post(*fIoc, std::move(f));
    }
    void Stop() {
        std::lock_guard<std::mutex> lock(fLock);
        fIoc = nullptr;
    }

private:
    std::mutex fLock;
    asio::io_context* fIoc;
};

// Lets the process open the descriptors the cap asks for (two per connection at most, with the drain).
void RaiseDescriptorLimit(int maxConnections) {
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) return;
    const rlim_t wanted = static_cast<rlim_t>(maxConnections) * 2 + 256;
    if (lim.rlim_cur >= wanted) return;
    lim.rlim_cur = lim.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, lim.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &lim);
}

}  // namespace

// The listener's state. The acceptor, the connection table and every connection live on the I/O thread;
// the handler runs on the workers: the pool, and one worker for the requests that go one at a time.
struct THttpListener::TImpl : THttpConnectionHost {
    TImpl(const THttpHandler& handler, const THttpLimits& limits, const THttpRequestTest& serial)
        : Handler(handler),
          Limit(limits),
          Serial(serial),
          Pool(std::max(1, limits.Workers), "http-worker"),
          InOrder(1, "http-in-order") {}

    const THttpHandler& Handler;
    const THttpLimits& Limit;
    const THttpRequestTest& Serial;
    asio::io_context Ioc{1};  // declared first: every socket below closes before it goes
    asio::executor_work_guard<asio::io_context::executor_type> Work{Ioc.get_executor()};
    tcp::acceptor Acceptor{Ioc};
    asio::steady_timer Backoff{Ioc};
    std::shared_ptr<TWaker> Waker = std::make_shared<TWaker>(Ioc);
    std::thread IoThread;
    uint16_t Port = 0;
    TWorkQueue Pool;
    TWorkQueue InOrder;
    // Every connection the I/O thread still serves, and (oldest first) those without a whole request head.
    std::list<std::shared_ptr<THttpConnection>> Open;
    std::list<THttpConnection*> Headless;
    int Counted = 0;                     // connections counting against the cap
    std::atomic<int> CountedShown{0};    // the same, for other threads
    std::array<char, 16 * 1024> Scratch; // bytes drained, never read

    void Accept() {
        Acceptor.async_accept([this](error_code ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted || !Acceptor.is_open()) return;
            if (ec) {
                // Out of descriptors or similar: wait a little instead of spinning.
                Backoff.expires_after(std::chrono::milliseconds(50));
                Backoff.async_wait([this](error_code e) {
                    if (!e) Accept();
                });
                return;
            }
            OnAccepted(std::move(socket));
            Accept();
        });
    }

    // A full table makes room by closing the connection that has waited longest without a whole request
    // head; when every connection has one, the newcomer gets 503.
    void OnAccepted(tcp::socket socket) {
        if (Counted >= Limit.MaxConnections && !Headless.empty()) {
            const auto oldest = Headless.front()->shared_from_this();
            oldest->Close();
        }
        auto c = std::make_shared<THttpConnection>(*this, std::move(socket));
        c->OpenPos = Open.insert(Open.end(), c);
        if (Counted >= Limit.MaxConnections) {
            if (!MayLinger()) return c->Close();
            return c->Refuse();
        }
        c->Counted = true;
        SetCounted(Counted + 1);
        c->WithoutHead = true;
        c->HeadlessPos = Headless.insert(Headless.end(), c.get());
        c->Start();
    }

    void SetCounted(int n) {
        Counted = n;
        CountedShown = n;
    }

    // Closes every connection and stops accepting; on the I/O thread.
    void CloseAll() {
        error_code ec;
        Acceptor.close(ec);
        Backoff.cancel();
        const auto all = Open;
        for (const auto& c : all) c->Close();
    }

    // THttpConnectionHost
    const THttpLimits& Limits() const override { return Limit; }

    void ReadingEnded(THttpConnection& c) override {
        if (!c.WithoutHead) return;
        c.WithoutHead = false;
        Headless.erase(c.HeadlessPos);
    }

    void Released(THttpConnection& c) override {
        ReadingEnded(c);
        if (!c.Counted) return;
        c.Counted = false;
        SetCounted(Counted - 1);
    }

    void Closed(THttpConnection& c) override {
        Released(c);
        Open.erase(c.OpenPos);
    }

    bool MayLinger() const override { return Open.size() - static_cast<std::size_t>(Counted) < kMaxLingering; }

    void Dispatch(std::shared_ptr<THttpConnection> c, THttpRequestInfo request) override {
        bool inOrder = false;
        if (Serial) {
            try {
                inOrder = Serial(request);
            } catch (...) {
                inOrder = false;
            }
        }
        (inOrder ? InOrder : Pool).Post([this, c = std::move(c), request = std::move(request)]() mutable {
            auto response = std::make_shared<THttpResponseInfo>();
            RunHandler(request, *response);
            asio::post(Ioc, [c = std::move(c), response] { c->Respond(*response); });
        });
    }

    // The handler's answer; an exception that escapes becomes 500 with its message.
    void RunHandler(const THttpRequestInfo& request, THttpResponseInfo& response) {
        auto fail = [&](std::string text) {
            response.ResponseNo = 500;
            response.ContentText = std::move(text);
            response.ContentStream.reset();
            if (response.Stream) response.Stream->Abort();
            response.Stream.reset();
        };
        try {
            Handler(request, response);
        } catch (const std::exception& e) {
            fail(e.what());
        } catch (...) {
            fail("Internal server error");
        }
    }

    std::function<void()> StreamWaker(std::weak_ptr<THttpConnection> c) override {
        // One wake-up queued at a time: a producer sending fast costs one pass of the I/O thread per batch.
        auto queued = std::make_shared<std::atomic<bool>>(false);
        return [waker = Waker, c = std::move(c), queued] {
            if (queued->exchange(true)) return;
            waker->Post([c, queued] {
                queued->store(false);
                if (const auto conn = c.lock()) conn->Pump();
            });
        };
    }

    asio::mutable_buffer DrainBuffer() override { return asio::buffer(Scratch); }
};

THttpListener::THttpListener(THttpHandler handler, THttpLimits limits) : fHandler(std::move(handler)), fLimits(limits) {}

THttpListener::~THttpListener() { Stop(); }

void THttpListener::Start() {
    if (fImpl) return;
    auto impl = std::make_unique<TImpl>(fHandler, fLimits, fSerial);
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
    RaiseDescriptorLimit(fLimits.MaxConnections);
    impl->Port = impl->Acceptor.local_endpoint().port();
    impl->Accept();
    TImpl* p = impl.get();
    impl->IoThread = std::thread([p] { p->Ioc.run(); });
    pthread_setname_np(impl->IoThread.native_handle(), "http-io");
    fImpl = std::move(impl);
}

void THttpListener::Stop() {
    if (!fImpl) return;
    TImpl& impl = *fImpl;
    std::promise<void> closed;
    asio::post(impl.Ioc, [&] {
        impl.CloseAll();
        closed.set_value();
    });
    closed.get_future().wait();
    // Requests in the handler finish (their answers find the connection closed); queued ones are dropped.
    impl.Pool.Stop();
    impl.InOrder.Stop();
    impl.Waker->Stop();
    impl.Ioc.stop();
    impl.IoThread.join();
    fImpl.reset();
}

bool THttpListener::Active() const { return fImpl != nullptr; }

uint16_t THttpListener::BoundPort() const { return fImpl ? fImpl->Port : 0; }

int THttpListener::ConnectionCount() const { return fImpl ? fImpl->CountedShown.load() : 0; }

}  // namespace zelto
