#include "platform/uHttpListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/TempDir.h"
#include "platform/TestHttpClient.h"

using namespace zelto;
using namespace zelto::test;
using namespace std::chrono_literals;

namespace {

// A gate that handler calls wait at until the test opens it; counts who is waiting.
struct TGate {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Open = false;
    int Waiting = 0;
    void Pass() {
        std::unique_lock<std::mutex> lock(Mutex);
        ++Waiting;
        Changed.notify_all();
        Changed.wait(lock, [&] { return Open; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(Mutex);
        Open = true;
        Changed.notify_all();
    }
    bool WaitForWaiting(int n) {
        std::unique_lock<std::mutex> lock(Mutex);
        return Changed.wait_for(lock, 5s, [&] { return Waiting >= n; });
    }
};

// How often a header (name in lower case) occurs in the head of an answer.
int HeaderCount(const std::string& raw, const std::string& name) {
    std::string head = raw.substr(0, raw.find("\r\n\r\n"));
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    int n = 0;
    for (std::size_t at = 0; (at = head.find("\r\n" + name + ":", at)) != std::string::npos; ++at) ++n;
    return n;
}

class HttpListenerTest : public ::testing::Test {
protected:
    void Start(THttpLimits limits = {}, THttpRequestTest queued = {}) {
        fListener = std::make_unique<THttpListener>(
            [this](const THttpRequestInfo& rq, THttpResponseInfo& rs) {
                {
                    std::lock_guard<std::mutex> lock(fMutex);
                    fSeen.push_back(rq);
                }
                if (fHandler) fHandler(rq, rs);
            },
            limits);
        fListener->SetBindAddress("127.0.0.1");
        fListener->SetDefaultPort(0);
        fListener->SetQueuedRequests(std::move(queued));
        fListener->Start();
        fPort = fListener->BoundPort();
        ASSERT_NE(fPort, 0);
    }
    std::vector<THttpRequestInfo> Seen() {
        std::lock_guard<std::mutex> lock(fMutex);
        return fSeen;
    }
    // Waits (up to 2 s) until the listener counts n connections.
    bool CountReaches(int n) {
        for (int k = 0; k < 2000 && fListener->ConnectionCount() != n; ++k) std::this_thread::sleep_for(1ms);
        return fListener->ConnectionCount() == n;
    }

    std::function<void(const THttpRequestInfo&, THttpResponseInfo&)> fHandler;
    std::unique_ptr<THttpListener> fListener;
    uint16_t fPort = 0;
    std::mutex fMutex;
    std::vector<THttpRequestInfo> fSeen;
};

}  // namespace

TEST_F(HttpListenerTest, HandsTheHandlerTheRequest) {
    Start();
    const std::string longQuery = std::string(20 * 1024, 'q');  // a few hundred variables
    const struct {
        std::string request, command, document, params;
        std::string host = {};  // the Host the handler sees, when given: an absolute target's wins
    } cases[] = {
        {"GET /v?" + longQuery + " HTTP/1.1\r\nHost: h\r\n\r\n", "GET", "/v", longQuery},
        {"GET /a%20b/c.html?x=%41&y HTTP/1.1\r\nHost: h\r\n\r\n", "GET", "/a b/c.html", "x=%41&y"},
        {"GET /%2e%2e/x HTTP/1.1\r\nHost: h\r\n\r\n", "GET", "/../x", ""},
        {"GET /p%zz%4 HTTP/1.0\r\n\r\n", "GET", "/p%zz%4", ""},
        {"GET http://host:1/abs?k HTTP/1.1\r\nHost: h\r\n\r\n", "GET", "/abs", "k", "host:1"},
        {"HEAD /h?z HTTP/1.1\r\nHost: h\r\n\r\n", "HEAD", "/h", "z", "h"},
        {"POST /f?q=2 HTTP/1.1\r\nHost: h\r\nContent-Type: application/x-www-form-urlencoded; charset=UTF-8\r\n"
         "Content-Length: 3\r\n\r\na=1",
         "POST", "/f", "a=1&q=2"},
        {"POST /f HTTP/1.1\r\nHost: h\r\nContent-Type: Application/X-WWW-Form-Urlencoded\r\nContent-Length: 3\r\n\r\na=1",
         "POST", "/f", "a=1"},
        {"POST /f?q=2 HTTP/1.1\r\nHost: h\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n\r\nzzz", "POST", "/f", "q=2"},
        // A compressed body is handed over as it came.
        {"POST /f HTTP/1.1\r\nHost: h\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Encoding: gzip\r\n"
         "Content-Length: 4\r\n\r\n" + std::string("\x1f\x8b\x08\x00", 4),
         "POST", "/f", std::string("\x1f\x8b\x08\x00", 4)},
    };
    for (const auto& c : cases) {
        const std::size_t before = Seen().size();
        const THttpReply reply = ParseReply(SendRaw(fPort, c.request));
        EXPECT_EQ(reply.Status, 200) << c.request;
        // HTTP/1.1 stays open for the next request; HTTP/1.0 closes as it always did.
        EXPECT_EQ(reply.Header("connection"), c.request.find("HTTP/1.0") != std::string::npos ? "close" : "");
        const auto seen = Seen();
        ASSERT_EQ(seen.size(), before + 1) << c.request;
        EXPECT_EQ(seen.back().Command, c.command);
        EXPECT_EQ(seen.back().Document, c.document) << c.request;
        EXPECT_EQ(seen.back().Params, c.params) << c.request;
        if (!c.host.empty()) {
            EXPECT_EQ(seen.back().Header("Host"), c.host) << c.request;
        }
        EXPECT_EQ(seen.back().ClientIp, "127.0.0.1");
        EXPECT_EQ(seen.back().LocalIp, "127.0.0.1");
    }
}

TEST_F(HttpListenerTest, SendsWhatTheHandlerSet) {
    TTempDir dir;
    const std::string png = std::string("\x89PNG\r\n\x1a\n\0\0", 10);
    WriteFileText(dir / "a.png", png);
    fHandler = [&](const THttpRequestInfo& rq, THttpResponseInfo& rs) {
        const std::string& d = rq.Document;
        if (d == "/xml") {
            rs.ContentType = "text/xml";
            rs.ContentText = "<a>\xC3\xA9</a>";
        } else if (d == "/html") {
            rs.ContentType = "text/html";
            rs.ContentText = "caf\xC3\xA9 \xE2\x82\xAC";
        } else if (d == "/none") {
            rs.ResponseNo = 404;
            rs.ContentText = "<b>x</b>";
        } else if (d == "/throw") {
            rs.ContentType = "text/xml";
            throw std::runtime_error("boom");
        } else if (d == "/file") {
            rs.ContentType = "image/png";
            rs.ContentStream = std::make_unique<TContentFile>(dir / "a.png");
        } else if (d == "/missing") {
            rs.ContentStream = std::make_unique<TContentFile>(dir / "nope.png");
        } else if (d == "/not-allowed") {
            rs.ResponseNo = 405;
            rs.ContentText = "no";
            rs.ExtraHeaders = {{"Vary", "Origin"}, {"Allow", "GET, HEAD, POST"}};
        } else if (d == "/preflight") {
            rs.ResponseNo = 204;
            rs.ExtraHeaders = {{"Access-Control-Allow-Origin", "*"}, {"X-Split", "a\r\nX-Injected: 1"}};
        }
    };
    THttpLimits limits;
    limits.AcceptOptions = true;
    Start(limits);
    const struct {
        std::string method, target;
        int status;
        std::string type, body, length;
    } cases[] = {
        {"GET", "/xml", 200, "text/xml; charset=us-ascii", "<a>?</a>", "8"},
        {"GET", "/html", 200, "text/html; charset=ISO-8859-1", "caf\xE9 ?", "6"},
        {"GET", "/none", 404, "text/plain; charset=ISO-8859-1", "<b>x</b>", "8"},
        {"GET", "/throw", 500, "text/xml; charset=us-ascii", "boom", "4"},
        {"GET", "/file", 200, "image/png", png, "10"},
        {"HEAD", "/file", 200, "image/png", "", "10"},
        {"HEAD", "/xml", 200, "text/xml; charset=us-ascii", "", "8"},
        {"GET", "/missing", 500, "", "", ""},
        {"OPTIONS", "/preflight", 204, "", "", ""},
        {"OPTIONS", "/not-allowed", 405, "text/plain; charset=ISO-8859-1", "no", "2"},
        {"GET", "/preflight", 204, "", "", ""},
    };
    for (const auto& c : cases) {
        const THttpReply r = Request(fPort, c.method, c.target);
        EXPECT_EQ(r.Status, c.status) << c.method << " " << c.target;
        if (c.target == "/missing") {
            EXPECT_NE(r.Body.find("Cannot open file"), std::string::npos) << r.Body;
            continue;
        }
        EXPECT_EQ(r.Header("content-type"), c.type) << c.target;
        EXPECT_EQ(r.Body, c.body) << c.method << " " << c.target;
        EXPECT_EQ(r.Header("content-length"), c.length) << c.method << " " << c.target;
        if (c.status == 405) {
            EXPECT_EQ(HeaderCount(r.Raw, "allow"), 1) << r.Raw;  // the handler's, not the listener's as well
            EXPECT_EQ(r.Header("allow"), "GET, HEAD, POST");
        }
        if (c.target == "/preflight") {
            EXPECT_EQ(r.Header("access-control-allow-origin"), "*");
            EXPECT_EQ(r.Raw.find("X-Injected"), std::string::npos) << r.Raw;  // a header that would split the answer is left out
        }
    }
}

TEST_F(HttpListenerTest, RefusesWhatItCannotServe) {
    Start();
    const std::string longLine = "GET /" + std::string(100 * 1024, 'a') + " HTTP/1.1\r\nHost: h\r\n\r\n";
    std::string manyHeaders = "GET / HTTP/1.1\r\nHost: h\r\n";
    for (int i = 0; i < 8000; ++i) manyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
    manyHeaders += "\r\n";
    const std::string bigBody = "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 2000000\r\n\r\n" + std::string(4096, 'b');
    const struct {
        std::string name, request;
        int status;
    } cases[] = {
        {"request line of 100 KiB", longLine, 414},
        {"8000 headers", manyHeaders, 431},
        {"body over 1 MiB", bigBody, 413},
        {"PUT", "PUT / HTTP/1.1\r\nHost: h\r\nContent-Length: 0\r\n\r\n", 405},
        {"DELETE", "DELETE /x HTTP/1.1\r\nHost: h\r\n\r\n", 405},
        {"OPTIONS", "OPTIONS / HTTP/1.1\r\nHost: h\r\n\r\n", 405},
        {"garbage", "NOT HTTP AT ALL\r\n\r\n", 400},
        {"target without slash", "GET abc HTTP/1.1\r\nHost: h\r\n\r\n", 400},
    };
    for (const auto& c : cases) {
        const THttpReply r = ParseReply(SendRaw(fPort, c.request));
        EXPECT_EQ(r.Status, c.status) << c.name;
        if (c.status == 405) {
            EXPECT_EQ(HeaderCount(r.Raw, "allow"), 1) << r.Raw;
        }
    }
    EXPECT_TRUE(Seen().empty());
    EXPECT_EQ(Get(fPort, "/still-there").Status, 200);
}

TEST_F(HttpListenerTest, SlowClientIsCutOffWhileOthersAreServed) {
    THttpLimits limits;
    limits.ReadDeadline = 600ms;
    Start(limits);
    const int slow = ConnectLocal(fPort);
    ASSERT_GE(slow, 0);
    const std::string request = "GET /slow HTTP/1.1\r\nHost: h\r\n\r\n";
    const auto started = std::chrono::steady_clock::now();
    std::string reply;
    bool othersServed = false;
    // One byte every 100 ms, paced by waiting for the server's answer.
    for (std::size_t i = 0; i < request.size() && reply.empty(); ++i) {
        (void)::send(slow, &request[i], 1, MSG_NOSIGNAL);
        pollfd p{slow, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) reply = ReadAll(slow, 2000);
        if (i == 2) othersServed = Get(fPort, "/fast").Status == 200;
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    ::close(slow);
    EXPECT_TRUE(othersServed);
    EXPECT_EQ(ParseReply(reply).Status, 408);
    EXPECT_GE(elapsed, 500ms);
    EXPECT_LT(elapsed, 2500ms);
    ASSERT_EQ(Seen().size(), 1u);
    EXPECT_EQ(Seen()[0].Document, "/fast");
}

TEST_F(HttpListenerTest, ConnectionsBeyondTheCapGet503) {
    TGate gate;
    fHandler = [&](const THttpRequestInfo& rq, THttpResponseInfo&) {
        if (rq.Document == "/block") gate.Pass();
    };
    THttpLimits limits;
    limits.MaxConnections = 2;
    Start(limits);
    std::vector<std::thread> blocked;
    std::vector<int> statuses(2);
    for (int i = 0; i < 2; ++i) blocked.emplace_back([&, i] { statuses[i] = Get(fPort, "/block").Status; });
    ASSERT_TRUE(gate.WaitForWaiting(2));
    const THttpReply busy = Get(fPort, "/third");
    EXPECT_EQ(busy.Status, 503);
    gate.Release();
    for (auto& t : blocked) t.join();
    EXPECT_EQ(statuses, (std::vector<int>{200, 200}));
    EXPECT_EQ(Get(fPort, "/after").Status, 200);  // the finished connections freed their places

    // Early answers free their places as soon as they are sent, even while their clients stay connected.
    std::vector<int> refused;
    for (int i = 0; i < 4; ++i) {
        refused.push_back(ConnectLocal(fPort));
        const std::string put = "PUT / HTTP/1.1\r\nHost: h\r\nContent-Length: 0\r\n\r\n";
        (void)::send(refused.back(), put.data(), put.size(), MSG_NOSIGNAL);
        char head[12] = {};
        EXPECT_EQ(::recv(refused.back(), head, sizeof head, MSG_WAITALL), 12);
        EXPECT_EQ(std::string(head, 12), "HTTP/1.1 405");
    }
    EXPECT_EQ(Get(fPort, "/after-405").Status, 200);
    for (const int fd : refused) ::close(fd);

    // Idle connections that never sent a whole request head make room, the oldest first.
    auto accepted = [&](int n) { return CountReaches(n); };
    const int idle1 = ConnectLocal(fPort);
    (void)::send(idle1, "GET /", 5, MSG_NOSIGNAL);
    ASSERT_TRUE(accepted(1));
    const int idle2 = ConnectLocal(fPort);
    ASSERT_TRUE(accepted(2));
    EXPECT_EQ(Get(fPort, "/past-the-idle").Status, 200);
    EXPECT_EQ(ReadAll(idle1, 2000), "");  // closed without an answer
    pollfd p{idle2, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 50), 0);  // still open
    ::close(idle1);

    // A kept-alive connection idle between two requests goes first, before an older one without its head.
    ASSERT_TRUE(accepted(1));
    const int kept = ConnectLocal(fPort);
    const std::string get = "GET /kept HTTP/1.1\r\nHost: h\r\n\r\n";
    (void)::send(kept, get.data(), get.size(), MSG_NOSIGNAL);
    std::string answer;
    ReadAnswer(kept, answer, false, 2000);
    EXPECT_EQ(ParseReply(answer).Status, 200);
    ASSERT_TRUE(accepted(2));
    EXPECT_EQ(Get(fPort, "/past-the-kept").Status, 200);
    EXPECT_EQ(ReadAll(kept, 2000), "");  // closed
    EXPECT_EQ(::poll(&p, 1, 50), 0);     // the one without its head is still open
    ::close(kept);
    ::close(idle2);
}

TEST_F(HttpListenerTest, KeepsConnectionsOpenUntilTheClientAsksToCloseOrTheyEnd) {
    TGate gate;
    fHandler = [&](const THttpRequestInfo& rq, THttpResponseInfo& rs) {
        if (rq.Document == "/slow") gate.Pass();
        rs.ContentText = rq.Document;
    };
    THttpLimits limits;
    limits.KeepAliveRequests = 5;
    limits.KeepAliveIdle = 300ms;
    Start(limits);
    const std::string v11 = " HTTP/1.1\r\nHost: h\r\n\r\n";
    const std::string close11 = " HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n";
    const std::string v10 = " HTTP/1.0\r\n\r\n";
    const std::string keep10 = " HTTP/1.0\r\nConnection: keep-alive\r\n\r\n";
    const struct {
        std::string name;
        std::vector<std::string> requests;  // sent one after another on one connection
        std::vector<std::string> connection;  // the Connection header of each answer
        bool closedAtEnd;
    } cases[] = {
        {"HTTP/1.1", {"GET /a" + v11, "HEAD /b" + v11, "GET /c" + v11}, {"", "", ""}, false},
        {"HTTP/1.1, then close", {"GET /a" + v11, "GET /b" + close11}, {"", "close"}, true},
        {"HTTP/1.0", {"GET /a" + v10}, {"close"}, true},
        {"HTTP/1.0 asking to stay", {"GET /a" + keep10, "GET /b" + v10}, {"keep-alive", "close"}, true},
        {"the last request a connection serves",
         {"GET /1" + v11, "GET /2" + v11, "GET /3" + v11, "GET /4" + v11, "GET /5" + v11},
         {"", "", "", "", "close"}, true},
        {"two requests in one write", {"GET /a" + v11 + "GET /b" + v11}, {"", ""}, false},
    };
    for (const auto& c : cases) {
        const int fd = ConnectLocal(fPort);
        std::string raw;
        std::size_t answer = 0;
        for (const auto& request : c.requests) {
            (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            // One answer per request line sent.
            for (std::size_t at = 0; (at = request.find(" HTTP/1.", at + 1)) != std::string::npos; ++answer) {
                ReadAnswer(fd, raw, request.rfind("HEAD", 0) == 0, 2000);
                const std::size_t length = WholeAnswerLength(raw, request.rfind("HEAD", 0) == 0);
                ASSERT_GT(length, 0u) << c.name << " #" << answer;
                const THttpReply r = ParseReply(raw.substr(0, length));
                raw.erase(0, length);
                EXPECT_EQ(r.Status, 200) << c.name << " #" << answer;
                ASSERT_LT(answer, c.connection.size()) << c.name;
                EXPECT_EQ(r.Header("connection"), c.connection[answer]) << c.name << " #" << answer;
            }
        }
        EXPECT_EQ(answer, c.connection.size()) << c.name;
        // A closed connection ends at once; an open one when its idle time has passed.
        const auto idleFrom = std::chrono::steady_clock::now();
        EXPECT_EQ(ReadAll(fd, 2000), "") << c.name;
        const auto idle = std::chrono::steady_clock::now() - idleFrom;
        if (c.closedAtEnd) EXPECT_LT(idle, 250ms) << c.name;
        else EXPECT_GE(idle, 250ms) << c.name;
        ::close(fd);
    }

    // The next request sent while the first one is in the handler is no hang-up: both are answered.
    const int fd = ConnectLocal(fPort);
    const std::string first = "GET /slow" + v11, second = "GET /next" + close11;
    (void)::send(fd, first.data(), first.size(), MSG_NOSIGNAL);
    ASSERT_TRUE(gate.WaitForWaiting(1));
    (void)::send(fd, second.data(), second.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(CountReaches(1));
    gate.Release();
    const std::string both = ReadAll(fd, 2000);
    ::close(fd);
    const std::size_t split = WholeAnswerLength(both, false);
    EXPECT_EQ(ParseReply(both.substr(0, split)).Body, "/slow");
    EXPECT_EQ(ParseReply(both.substr(split)).Body, "/next");
    EXPECT_TRUE(CountReaches(0));
}

namespace {

// A connection to 127.0.0.1:port from another loopback address, so that the listener sees another client.
int ConnectFrom(const char* source, uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

TEST_F(HttpListenerTest, QueuedRequestsAreBoundedAndThoseOfGoneClientsDropped) {
    TGate gate;
    std::atomic<bool> goneSeen{false};
    fHandler = [&](const THttpRequestInfo& rq, THttpResponseInfo& rs) {
        if (rq.Params == "block") {
            gate.Pass();
            goneSeen = rq.ClientGone();
        }
        rs.ContentText = rq.Params;
    };
    THttpLimits limits;
    limits.QueuedWorkers = 1;
    limits.QueuedBacklog = 1;
    limits.QueuedPerClient = 1;
    Start(limits, [](const THttpRequestInfo& rq) { return !rq.Params.empty(); });
    auto send = [&](const char* source, const std::string& target) {
        const int fd = ConnectFrom(source, fPort);
        const std::string get = "GET " + target + " HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n";
        (void)::send(fd, get.data(), get.size(), MSG_NOSIGNAL);
        return fd;
    };
    auto status = [](int fd) {
        const THttpReply r = ParseReply(ReadAll(fd, 5000));
        ::close(fd);
        return std::to_string(r.Status) + " " + r.Body;
    };
    const int running = send("127.0.0.1", "/?block");
    ASSERT_TRUE(gate.WaitForWaiting(1));
    const int waiting = send("127.0.0.2", "/?second");
    ASSERT_TRUE(CountReaches(2));
    const struct {
        const char* source;
        std::string target, answer;
    } refused[] = {
        {"127.0.0.1", "/?same-client", "429 Too many requests from this client at once: at most 1 may wait. Try again later."},
        {"127.0.0.3", "/?third", "503 Server busy: too many requests are waiting for their turn. Try again later."},
        {"127.0.0.1", "/file", "200 "},  // files do not wait for the queued pool
    };
    for (const auto& c : refused) EXPECT_EQ(status(send(c.source, c.target)), c.answer) << c.target;

    // A queued request whose client leaves before its turn never reaches the handler; one that runs learns it.
    ::close(waiting);
    ::close(running);
    ASSERT_TRUE(CountReaches(0));
    gate.Release();
    // Refused until the pool has let the two go (the one worker runs "block", then drops "second").
    std::string after;
    for (int k = 0; k < 2000 && after != "200 after"; ++k) {
        if (k > 0) std::this_thread::sleep_for(1ms);
        after = status(send("127.0.0.1", "/?after"));
    }
    EXPECT_EQ(after, "200 after");
    EXPECT_TRUE(goneSeen);
    std::vector<std::string> handled;
    for (const auto& rq : Seen()) handled.push_back(rq.Params);
    EXPECT_EQ(handled, (std::vector<std::string>{"block", "", "after"}));
}

TEST_F(HttpListenerTest, PortThatCannotBeOpenedIsReported) {
    Start();
    THttpListener second([](const THttpRequestInfo&, THttpResponseInfo&) {});
    second.SetBindAddress("127.0.0.1");
    second.SetDefaultPort(fPort);
    try {
        second.Start();
        ADD_FAILURE() << "a taken port was opened";
    } catch (const EHttpListenerError& e) {
        EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
    }
    EXPECT_FALSE(second.Active());
    THttpListener foreign([](const THttpRequestInfo&, THttpResponseInfo&) {});
    foreign.SetBindAddress("192.0.2.1");  // an address this host does not have
    foreign.SetDefaultPort(0);
    EXPECT_THROW(foreign.Start(), EHttpListenerError);
}

// Stop waits for a request in the handler; a move to another port does not (the window that asks for it
// must not wait for a slow controller), and the old request still runs to its end.
TEST_F(HttpListenerTest, StopWaitsForTheRequestInTheHandlerARestartDoesNot) {
    TGate gate;
    std::atomic<int> handlerDone{0};
    fHandler = [&](const THttpRequestInfo& rq, THttpResponseInfo& rs) {
        if (rq.Document == "/slow") gate.Pass();
        rs.ContentText = "done";
        ++handlerDone;
    };
    Start();
    const uint16_t first = fPort;
    std::thread client([&] { Get(first, "/slow"); });
    ASSERT_TRUE(gate.WaitForWaiting(1));
    fListener->Restart(0);
    fPort = fListener->BoundPort();
    EXPECT_TRUE(fListener->Active());
    EXPECT_NE(fPort, first);
    EXPECT_EQ(handlerDone, 0) << "the restart waited for the handler";
    EXPECT_LT(ConnectLocal(first), 0);
    EXPECT_EQ(Get(fPort, "/").Body, "done") << "the new port serves while the old request runs";
    client.join();  // its connection was closed by the restart

    std::thread second([&] { Get(fPort, "/slow"); });
    ASSERT_TRUE(gate.WaitForWaiting(2));
    std::atomic<bool> doneWhenStopped{false};
    std::thread stopper([&] {
        fListener->Stop();
        doneWhenStopped = handlerDone.load() == 3;  // both slow requests, the old one included
    });
    std::this_thread::sleep_for(50ms);
    gate.Release();
    stopper.join();
    second.join();
    EXPECT_TRUE(doneWhenStopped);
    EXPECT_FALSE(fListener->Active());
    EXPECT_LT(ConnectLocal(fPort), 0);
}

TEST_F(HttpListenerTest, BurstBeyondTheWorkersIsAnsweredAndQueuedRequestsKeepToTheirPool) {
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    fHandler = [&](const THttpRequestInfo& rq, THttpResponseInfo& rs) {
        if (rq.Document == "/serial") {
            const int now = ++inside;
            int seen = most;
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(2ms);
            --inside;
        }
        rs.ContentText = rq.Document + "?" + rq.Params;
    };
    THttpLimits limits;
    limits.Workers = 2;
    limits.QueuedWorkers = 2;
    Start(limits, [](const THttpRequestInfo& rq) { return rq.Document == "/serial"; });
    std::vector<std::thread> clients;
    std::vector<THttpReply> replies(48);
    for (int i = 0; i < 48; ++i) {
        clients.emplace_back([&, i] { replies[i] = Get(fPort, std::string(i % 4 == 0 ? "/serial" : "/pool") + "?" + std::to_string(i)); });
    }
    for (auto& t : clients) t.join();
    for (int i = 0; i < 48; ++i) {
        EXPECT_EQ(replies[i].Status, 200) << i;
        EXPECT_EQ(replies[i].Body, std::string(i % 4 == 0 ? "/serial" : "/pool") + "?" + std::to_string(i));
    }
    EXPECT_GE(most, 1);
    EXPECT_LE(most, 2);
    EXPECT_TRUE(CountReaches(0));
}

TEST_F(HttpListenerTest, StreamSendsWhatItsProducerQueuesWithoutHoldingAWorker) {
    std::mutex m;
    std::vector<std::shared_ptr<THttpStream>> streams;
    fHandler = [&](const THttpRequestInfo& rq, THttpResponseInfo& rs) {
        if (rq.Document != "/events") return;
        rs.ContentType = "text/event-stream; charset=utf-8";
        rs.ExtraHeaders = {{"Cache-Control", "no-cache"}};
        rs.Stream = std::make_shared<THttpStream>();
        rs.Stream->Send(": open\n\n");
        std::lock_guard<std::mutex> lock(m);
        streams.push_back(rs.Stream);
    };
    THttpLimits limits;
    limits.Workers = 1;
    Start(limits);
    auto streamNo = [&](std::size_t i) -> std::shared_ptr<THttpStream> {
        for (int k = 0; k < 500; ++k) {
            {
                std::lock_guard<std::mutex> lock(m);
                if (streams.size() > i) return streams[i];
            }
            std::this_thread::sleep_for(10ms);
        }
        return nullptr;
    };
    // A stream that its producer ends.
    std::string raw;
    std::thread reader([&] { raw = SendRaw(fPort, "GET /events HTTP/1.1\r\nHost: h\r\n\r\n"); });
    const auto first = streamNo(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Get(fPort, "/other").Status, 200);  // the open stream holds no worker
    EXPECT_TRUE(first->Send("data: 1\n\n"));
    EXPECT_TRUE(first->Send("data: caf\xC3\xA9\n\n"));
    first->Close();
    reader.join();
    const THttpReply r = ParseReply(raw);
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Header("content-type"), "text/event-stream; charset=utf-8");
    EXPECT_EQ(r.Header("cache-control"), "no-cache");
    EXPECT_EQ(r.Header("content-length"), "");
    EXPECT_EQ(r.Body, ": open\n\ndata: 1\n\ndata: caf\xC3\xA9\n\n");

    // A stream whose client leaves: the producer learns it from Send.
    const int fd = ConnectLocal(fPort);
    const std::string get = "GET /events HTTP/1.1\r\nHost: h\r\n\r\n";
    (void)::send(fd, get.data(), get.size(), MSG_NOSIGNAL);
    const auto second = streamNo(1);
    ASSERT_NE(second, nullptr);
    ::close(fd);
    bool ended = false;
    for (int k = 0; k < 500 && !ended; ++k) {
        ended = !second->Send("data: x\n\n");
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(ended);
    EXPECT_TRUE(CountReaches(0));
}
