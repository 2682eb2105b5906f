#include "platform/uHttpListener.h"

#include <pthread.h>
#include <sys/resource.h>

#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <future>
#include <optional>
#include <unordered_map>
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
// Files up to this size are read whole by the worker, so that the I/O thread sends head and content in one
// write and never reads a disk.
constexpr uint64_t kReadWholeLimit = 16 * 1024;
// How often the connections' deadlines are looked at: one timer for all, instead of one set and cancelled
// per read and write.
constexpr std::chrono::milliseconds kTick{50};

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

// The listener's state. The acceptor, the connection table, the count of queued requests per client and
// every connection live on the I/O thread; the handler runs on the workers of the two pools.
struct THttpListener::TImpl : THttpConnectionHost {
    TImpl(const THttpHandler& handler, const THttpLimits& limits, const THttpRequestTest& queued)
        : Handler(handler),
          Limit(limits),
          IsQueued(queued),
          Pool(limits.Workers, "http-worker", limits.WorkerBacklog),
          Queued(limits.QueuedWorkers, "http-queued", limits.QueuedBacklog) {}

    const THttpHandler& Handler;
    const THttpLimits& Limit;
    const THttpRequestTest& IsQueued;
    asio::io_context Ioc{1};  // declared first: every socket below closes before it goes
    asio::executor_work_guard<asio::io_context::executor_type> Work{Ioc.get_executor()};
    tcp::acceptor Acceptor{Ioc};
    asio::steady_timer Backoff{Ioc};
    asio::steady_timer Tick{Ioc};
    bool Ticking = false;
    tcp::endpoint Peer;  // of the connection being accepted
    std::shared_ptr<TWaker> Waker = std::make_shared<TWaker>(Ioc);
    std::thread IoThread;
    uint16_t Port = 0;
    TWorkQueue Pool;
    TWorkQueue Queued;
    // Every connection the I/O thread still serves, and (oldest first) those idle between two requests and
    // those without a whole request head.
    std::list<std::shared_ptr<THttpConnection>> Open;
    std::list<THttpConnection*> Idle;
    std::list<THttpConnection*> Headless;
    std::unordered_map<std::string, int> QueuedByClient;  // queued requests waiting or running
    int Counted = 0;                     // connections counting against the cap
    std::atomic<int> CountedShown{0};    // the same, for other threads
    std::array<char, 16 * 1024> Scratch; // bytes drained, never read

    void Accept() {
        Acceptor.async_accept(Peer, [this](error_code ec, tcp::socket socket) {
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

    // A full table makes room by closing the connection idle longest between two requests, or else the one
    // that has waited longest without a whole request head; when every connection has one, the newcomer
    // gets 503.
    void OnAccepted(tcp::socket socket) {
        if (Counted >= Limit.MaxConnections) {
            auto& from = !Idle.empty() ? Idle : Headless;
            if (!from.empty()) from.front()->shared_from_this()->Close();
        }
        auto c = std::make_shared<THttpConnection>(*this, std::move(socket), Peer.address().to_string());
        c->OpenPos = Open.insert(Open.end(), c);
        if (Counted >= Limit.MaxConnections) {
            if (!MayLinger()) return c->Close();
            return c->Refuse();
        }
        c->Counted = true;
        SetCounted(Counted + 1);
        MarkClosable(*c, TClosable::Headless);
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
        Tick.cancel();
        const auto all = Open;
        for (const auto& c : all) c->Close();
    }

    // THttpConnectionHost
    const THttpLimits& Limits() const override { return Limit; }

    void MarkClosable(THttpConnection& c, TClosable kind) override {
        if (c.Closable != TClosable::No) (c.Closable == TClosable::Idle ? Idle : Headless).erase(c.ClosablePos);
        c.Closable = kind;
        if (kind == TClosable::No) return;
        auto& to = kind == TClosable::Idle ? Idle : Headless;
        c.ClosablePos = to.insert(to.end(), &c);
    }

    void Released(THttpConnection& c) override {
        MarkClosable(c, TClosable::No);
        if (!c.Counted) return;
        c.Counted = false;
        SetCounted(Counted - 1);
    }

    void Closed(THttpConnection& c) override {
        Released(c);
        Open.erase(c.OpenPos);
    }

    bool MayLinger() const override { return Open.size() - static_cast<std::size_t>(Counted) < kMaxLingering; }

    // Queues the request on its pool, or refuses it when the pool's backlog or the client's share of the
    // queued pool is full. A request whose client has left by its turn is dropped.
    void Dispatch(std::shared_ptr<THttpConnection> c, THttpRequestInfo request) override {
        bool queued = false;
        if (IsQueued) {
            try {
                queued = IsQueued(request);
            } catch (...) {
                queued = false;
            }
        }
        const std::string client = queued ? request.ClientIp : std::string();
        if (queued) {
            const auto it = QueuedByClient.find(client);
            if (it != QueuedByClient.end() && it->second >= Limit.QueuedPerClient) {
                return c->Refuse(429, "Too many requests from this client at once: at most " +
                                          std::to_string(Limit.QueuedPerClient) + " may wait. Try again later.");
            }
        }
        TWorkQueue& pool = queued ? Queued : Pool;
        // Watched while it waits for a worker or may run long: a quick file request is not worth the wait.
        const bool watch = queued || pool.AllBusy();
        const auto posted = pool.Post([this, c, queued, client, request = std::move(request)]() mutable {
            struct TAnswer {
                THttpResponseInfo Response;
                std::optional<std::string> FileBytes;
            };
            std::shared_ptr<TAnswer> answer;
            if (!request.ClientGone()) {
                answer = std::make_shared<TAnswer>();
                RunHandler(request, answer->Response);
                const auto& file = answer->Response.ContentStream;
                if (file && !answer->Response.Stream && request.Command != "HEAD" && file->Size() <= kReadWholeLimit &&
                    !file->ReadAll(answer->FileBytes.emplace()))
                    answer->FileBytes.reset();
            }
            asio::post(Ioc, [this, c = std::move(c), queued, client = std::move(client), answer] {
                if (queued && --QueuedByClient[client] <= 0) QueuedByClient.erase(client);
                if (answer) c->Respond(answer->Response, answer->FileBytes ? &*answer->FileBytes : nullptr);
            });
        });
        if (posted == TWorkQueue::TPosted::Queued) {
            if (queued) ++QueuedByClient[client];
            if (watch) c->WatchClient();
        } else if (posted == TWorkQueue::TPosted::Full) {
            c->Refuse(503, queued ? "Server busy: too many requests are waiting for their turn. Try again later."
                                  : "Server busy: too many requests are waiting. Try again later.");
        } else {
            c->Close();
        }
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

    void DeadlineArmed() override {
        if (Ticking) return;
        Ticking = true;
        ScheduleTick();
    }

    // Every kTick while connections are open: each whose deadline has passed acts on it.
    void ScheduleTick() {
        Tick.expires_after(kTick);
        Tick.async_wait([this](error_code ec) {
            if (ec || !Acceptor.is_open()) {
                Ticking = false;
                return;
            }
            const auto now = std::chrono::steady_clock::now();
            for (auto it = Open.begin(); it != Open.end();) {
                const auto c = *it++;  // past it first: acting may close c, which leaves the list
                c->CheckDeadline(now);
            }
            if (Open.empty()) {
                Ticking = false;
                return;
            }
            ScheduleTick();
        });
    }
};

THttpListener::THttpListener(THttpHandler handler, THttpLimits limits) : fHandler(std::move(handler)), fLimits(limits) {}

THttpListener::~THttpListener() { Stop(); }

void THttpListener::Start() {
    if (fImpl) return;
    auto impl = std::make_unique<TImpl>(fHandler, fLimits, fQueued);
    error_code ec;
    const auto address = asio::ip::make_address(fBindAddress, ec);
    if (ec) throw EHttpListenerError(ec.message());
    const tcp::endpoint endpoint(address, fDefaultPort);
    impl->Acceptor.open(endpoint.protocol(), ec);
    if (!ec) impl->Acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    // Accepted sockets inherit it: an answer goes out whole, nothing to gather.
    if (!ec) impl->Acceptor.set_option(tcp::no_delay(true), ec);
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

void THttpListener::CloseConnections(TImpl& impl) {
    std::promise<void> closed;
    asio::post(impl.Ioc, [&] {
        impl.CloseAll();
        closed.set_value();
    });
    closed.get_future().wait();
}

void THttpListener::Finish(TImpl& impl) {
    // Requests in the handler finish (their answers find the connection closed); queued ones are dropped.
    impl.Pool.Stop();
    impl.Queued.Stop();
    impl.Waker->Stop();
    impl.Ioc.stop();
    impl.IoThread.join();
}

void THttpListener::Stop() {
    if (fImpl) {
        CloseConnections(*fImpl);
        Finish(*fImpl);
        fImpl.reset();
    }
    fRetiring.clear();  // each waits for its listener's last request
}

void THttpListener::Restart(uint16_t port) {
    // Those that retired earlier and are done go now; the others keep running.
    std::erase_if(fRetiring, [](const std::future<void>& f) {
        return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    if (fImpl) {
        CloseConnections(*fImpl);  // the port is free once this returns
        std::shared_ptr<TImpl> old(std::move(fImpl));
        fRetiring.push_back(std::async(std::launch::async, [old] { Finish(*old); }));
    }
    fDefaultPort = port;
    Start();
}

bool THttpListener::Active() const { return fImpl != nullptr; }

uint16_t THttpListener::BoundPort() const { return fImpl ? fImpl->Port : 0; }

int THttpListener::ConnectionCount() const { return fImpl ? fImpl->CountedShown.load() : 0; }

}  // namespace zelto
