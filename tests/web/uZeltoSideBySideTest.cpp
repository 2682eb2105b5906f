// The controller service: the controllers of one request asked side by side, requests taking turns on a
// controller, one silence shared, abandoned requests, the bounds, and the bound on sockets.
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "web/SimulatedControllers.h"
#include "web/uZeltoIntf.h"

using namespace zelto;
using namespace std::chrono;
using zelto::test::TSimulatedControllers;

namespace {

std::unique_ptr<TZeltoServer> Server(int MaxParallel, int MaxSockets = kMaxOpenSockets,
                                     milliseconds IdleTime = kSocketIdleTime, int MaxRecords = kMaxControllerRecords) {
    TZeltoServerHost host;
    host.SettingsRoot = std::filesystem::temp_directory_path() / "zelto-no-settings";
    host.ParallelControllers = MaxParallel;
    host.MaxRecords = MaxRecords;
    host.MaxOpenSockets = MaxSockets;
    host.SocketIdleTime = IdleTime;
    auto s = std::make_unique<TZeltoServer>(host);
    s->SetOutputType(iotXML);
    return s;
}

}  // namespace

// Byte for byte the document of one by one, and every controller saw the same requests in the same order:
// writes, reads, an ALC load, an unknown name, a silent controller and a NAD named twice.
TEST(ZeltoSideBySide, SameAnswerAndExchangesAsOneByOne) {
    TSimulatedControllers sim({10, 11, 12, 14});
    const std::string query =
        "c12.tab[3]=7&c10.w=5&c13.w&c11.i=-4&c12.nope&sys.server_version&c10.w&c14.r=2.5&c11.i&c12.tab[3]";
    std::string documents[2];
    std::map<int32_t, std::vector<std::vector<uint8_t>>> seen[2];
    for (const int parallel : {1, 16}) {
        sim.Restart();
        auto server = Server(parallel);
        for (const int32_t nad : {10, 11, 12, 13, 14}) server->Controllers().AddProxy(sim.Proxy(nad, 20));
        const int run = parallel == 1 ? 0 : 1;
        documents[run] = server->ReadVars(query);
        seen[run] = sim.Seen;
    }
    EXPECT_EQ(documents[1], documents[0]);
    EXPECT_NE(documents[0].find("<name>c12.tab[3]</name><value>7</value>"), std::string::npos) << documents[0];
    EXPECT_NE(documents[0].find("<name>c14.r</name><value>2.5</value>"), std::string::npos);
    EXPECT_EQ(seen[1], seen[0]);
    EXPECT_EQ(seen[0].size(), 4u);
}

// A silent controller costs its own time-out once, not once for each silent controller before it; the
// request waits for the slowest, and every silent proxy still sent all its attempts.
TEST(ZeltoSideBySide, TenSilentControllersCostAboutOneTimeOut) {
    constexpr int kWaitMs = 100;  // three attempts: 300 ms per silent controller
    TSimulatedControllers sim({10});
    auto server = Server(kDefaultParallelControllers);
    server->Controllers().AddProxy(sim.Proxy(10));
    std::string query = "c10.w=3";
    for (int nad = 20; nad < 30; ++nad) {
        server->Controllers().AddProxy(sim.Proxy(nad, kWaitMs));
        query += "&c" + std::to_string(nad) + ".w";
    }
    const auto start = steady_clock::now();
    const std::string doc = server->ReadVars(query);
    const auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_GE(took, 3 * kWaitMs);
    EXPECT_LT(took, 2 * 3 * kWaitMs) << "one by one it takes ten times " << 3 * kWaitMs << " ms";
    EXPECT_NE(doc.find("<name>c10.w</name><value>3</value>"), std::string::npos);
    for (int nad = 20; nad < 30; ++nad) {
        EXPECT_EQ(sim.Sockets[nad]->Sent().size(), 3u) << nad;
        EXPECT_EQ(server->Controllers().Proxy(nad)->ErrorS, "PLC not responding!");
    }
}

// Sockets beyond the cap close the least recently used first; an unused socket closes after the idle time;
// a closed proxy opens its socket again when it is next asked.
TEST(ZeltoSideBySide, SocketsAreBoundedAndClosedWhenIdle) {
    TSimulatedControllers sim({10, 11, 12});
    auto capped = Server(kDefaultParallelControllers, 2);
    for (const int32_t nad : {10, 11, 12}) capped->Controllers().AddProxy(sim.Proxy(nad));
    const auto open = [](TZeltoServer& s) {
        std::vector<bool> out;
        for (const int32_t nad : {10, 11, 12}) out.push_back(s.Controllers().Proxy(nad)->SocketOpen());
        return out;
    };
    capped->ReadVars("c10.w&c11.w");
    EXPECT_EQ(open(*capped), (std::vector<bool>{true, true, false}));
    capped->ReadVars("c11.w");
    capped->ReadVars("c12.w");
    EXPECT_EQ(open(*capped), (std::vector<bool>{false, true, true}));
    EXPECT_NE(capped->ReadVars("c10.w=9").find("<value>9</value>"), std::string::npos);
    EXPECT_EQ(open(*capped), (std::vector<bool>{true, false, true}));

    constexpr milliseconds kIdle{150};
    auto idle = Server(kDefaultParallelControllers, kMaxOpenSockets, kIdle);
    for (const int32_t nad : {10, 11, 12}) idle->Controllers().AddProxy(sim.Proxy(nad));
    idle->ReadVars("c10.w&c11.w");
    const auto used = steady_clock::now();
    EXPECT_EQ(open(*idle), (std::vector<bool>{true, true, false}));
    // The two were released one after the other: each closes at its own due time.
    const auto anyOpen = [&] { return open(*idle) != std::vector<bool>{false, false, false}; };
    while (anyOpen() && steady_clock::now() - used < seconds(10)) std::this_thread::sleep_for(milliseconds(10));
    EXPECT_GE(steady_clock::now() - used, kIdle);
    EXPECT_EQ(open(*idle), (std::vector<bool>{false, false, false}));
    EXPECT_NE(idle->ReadVars("c11.w=4").find("<value>4</value>"), std::string::npos);
    EXPECT_EQ(open(*idle), (std::vector<bool>{false, true, false}));
}

namespace {

// The client's side of a request: a flag the listener sets when the connection closes.
struct TClient {
    std::shared_ptr<std::atomic<bool>> Gone = std::make_shared<std::atomic<bool>>(false);
    TVarQuery Query(const std::string& Params) const {
        TVarQuery q = PlainQuery(Params);
        q.GoneFlag = Gone;
        return q;
    }
};

std::vector<int32_t> Counts(TZeltoServer& s, const std::vector<int32_t>& Nads) {
    std::vector<int32_t> out;
    for (const int32_t nad : Nads) out.push_back(s.Controllers().Proxy(nad) ? s.Controllers().Proxy(nad)->RequestCount : -1);
    return out;
}

}  // namespace

// Requests from four clients at once give each the answer, each controller the exchanges and each counter
// the value that the same requests give one after another with one exchange at a time. A controller is
// written by one client only; the one they share is only read the same way by all, so its exchanges do not
// depend on the order.
TEST(ZeltoSideBySide, RequestsAtOnceAnswerAndExchangeAsOneAfterAnother) {
    TSimulatedControllers sim({10, 11, 12, 14});
    const std::vector<std::vector<std::string>> clients = {
        {"c10.w=5&c12.tab[3]&c10.w", "c10.w=6&c10.w&sys.server_version", "c10.w&c12.tab[3]"},
        {"c11.i=-4&c11.i&c12.tab[3]", "c12.tab[3]&c11.i=9&c11.i", "c11.i&c11.nope"},
        {"c14.r=2.5&c14.r", "c13.w&c14.r", "c14.r=1.5&c12.tab[3]&c14.r"},
        {"c12.tab[3]", "c12.sys.x&c12.tab[3]", "c12.tab[3]&c99.sys.x"},
    };
    const std::vector<int32_t> nads = {10, 11, 12, 13, 14};
    std::vector<std::vector<std::string>> documents[2];
    std::map<int32_t, std::vector<std::vector<uint8_t>>> seen[2];
    std::vector<int32_t> counts[2];
    for (const int run : {0, 1}) {
        sim.Restart();
        auto server = Server(run == 0 ? 1 : kDefaultParallelControllers);
        for (const int32_t nad : nads) server->Controllers().AddProxy(sim.Proxy(nad, 20));
        documents[run].assign(clients.size(), {});
        const auto client = [&](std::size_t c) {
            for (const std::string& q : clients[c]) documents[run][c].push_back(server->ReadVars(q));
        };
        if (run == 0) {
            for (std::size_t c = 0; c < clients.size(); ++c) client(c);
        } else {
            std::vector<std::thread> threads;
            for (std::size_t c = 0; c < clients.size(); ++c) threads.emplace_back(client, c);
            for (auto& t : threads) t.join();
        }
        seen[run] = sim.Seen;
        counts[run] = Counts(*server, nads);
        EXPECT_EQ(server->Controllers().RecordCount(), 5) << "c99.sys.x keeps no record";
    }
    EXPECT_EQ(documents[1], documents[0]);
    EXPECT_EQ(seen[1], seen[0]);
    EXPECT_EQ(counts[1], counts[0]);
    EXPECT_EQ(counts[0], (std::vector<int32_t>{5, 6, 9, 1, 5}));
    EXPECT_NE(documents[0][2][0].find("<name>c14.r</name><value>2.5</value>"), std::string::npos);
}

// Twenty requests wait for one silent controller: the first pays the time-out, the others answer "?" at
// once with its reason, and nothing more is sent. A controller that answers is not held by them.
TEST(ZeltoSideBySide, OneSilenceIsSharedByTheRequestsThatWaitedForIt) {
    constexpr int kWaitMs = 100;  // three attempts: 300 ms
    TSimulatedControllers sim({10});
    auto server = Server(kDefaultParallelControllers);
    server->Controllers().AddProxy(sim.Proxy(10));
    server->Controllers().AddProxy(sim.Proxy(13, kWaitMs));
    TVarAnswer answers[20];
    const auto start = steady_clock::now();
    std::vector<std::thread> threads;
    for (auto& a : answers) threads.emplace_back([&] { a = server->ReadResults(PlainQuery("c13.w")); });
    std::this_thread::sleep_for(milliseconds(50));
    const auto healthyStart = steady_clock::now();
    EXPECT_NE(server->ReadVars("c10.w=2").find("<value>2</value>"), std::string::npos);
    EXPECT_LT(steady_clock::now() - healthyStart, milliseconds(kWaitMs));
    for (auto& t : threads) t.join();
    const auto took = steady_clock::now() - start;
    EXPECT_LT(took, milliseconds(2 * 3 * kWaitMs)) << "one by one: twenty time-outs";
    for (const TVarAnswer& a : answers) {
        ASSERT_EQ(a.Results.size(), 1u);
        EXPECT_EQ(a.Results[0].Text, "?");
        EXPECT_EQ(a.Results[0].Error, kNotResponding);
    }
    // Every request is served (counted); the controller saw the attempts of the first request only.
    EXPECT_EQ(server->Controllers().Proxy(13)->RequestCount, 20);
    EXPECT_EQ(sim.Sockets[13]->Sent().size(), 3u);
    // Later requests do not take an old silence: they ask again.
    server->ReadVars("c13.w");
    EXPECT_EQ(sim.Sockets[13]->Sent().size(), 6u);
}

// A request whose client has left before its controller's turn sends nothing and is not counted; the one
// after it is answered as soon as the running exchange ends.
TEST(ZeltoSideBySide, AnAbandonedRequestIsDropped) {
    constexpr int kWaitMs = 100;
    TSimulatedControllers sim({10});
    auto server = Server(kDefaultParallelControllers);
    server->Controllers().AddProxy(sim.Proxy(10));
    std::string query = "c10.w";
    for (int nad = 20; nad < 83; ++nad) {  // with c10: 64 controllers, the most one request may name
        server->Controllers().AddProxy(sim.Proxy(nad, kWaitMs));
        query += "&c" + std::to_string(nad) + ".w";
    }
    TClient first, abandoned[10];
    TVarAnswer firstAnswer;
    std::thread running([&] { firstAnswer = server->ReadVars(first.Query(query)); });
    const std::string silent = query.substr(query.find('&') + 1);
    std::this_thread::sleep_for(milliseconds(30));
    std::vector<std::thread> waiting;
    std::vector<TVarAnswer> answers(10);
    for (int i = 0; i < 10; ++i)
        waiting.emplace_back([&, i] { answers[static_cast<std::size_t>(i)] = server->ReadVars(abandoned[i].Query(silent)); });
    std::this_thread::sleep_for(milliseconds(30));
    for (auto& c : abandoned) c.Gone->store(true);
    for (auto& t : waiting) t.join();
    running.join();
    for (const TVarAnswer& a : answers) EXPECT_EQ(a.Outcome, TVarOutcome::Dropped);
    EXPECT_EQ(firstAnswer.Outcome, TVarOutcome::Answered);
    for (int nad = 20; nad < 83; ++nad) {
        EXPECT_EQ(sim.Sockets[nad]->Sent().size(), 3u) << nad;
        EXPECT_EQ(server->Controllers().Proxy(nad)->RequestCount, 1) << nad;
    }
    const auto start = steady_clock::now();
    EXPECT_NE(server->ReadVars("c10.w=4").find("<value>4</value>"), std::string::npos);
    EXPECT_LT(steady_clock::now() - start, milliseconds(kWaitMs));
    TClient gone;
    gone.Gone->store(true);
    EXPECT_EQ(server->ReadVars(gone.Query("c10.w=5")).Outcome, TVarOutcome::Dropped);
    EXPECT_EQ(server->Controllers().Proxy(10)->RequestCount, 2);
}

// Each bound has its answer: items and controllers of one request (400, naming the setting), and the
// records, which are made only for controllers that are asked and drop the one unused longest.
TEST(ZeltoSideBySide, BoundsOfARequestAndOfTheRecords) {
    TSimulatedControllers sim({1, 2, 3, 4});
    auto server = Server(kDefaultParallelControllers, kMaxOpenSockets, kSocketIdleTime, 3);
    std::string items, controllers;
    for (int i = 0; i < 1001; ++i) items += (i ? "&" : "") + std::string("sys.x");
    for (int i = 0; i < 65; ++i) controllers += (i ? "&" : "") + ("c" + std::to_string(i) + ".sys.x");
    const struct {
        std::string query;
        TVarOutcome outcome;
        std::string refusal;
    } cases[] = {
        {items, TVarOutcome::Refused, "Too many items in one request: at most 1000 (setting MaxRequestItems)."},
        {items.substr(6), TVarOutcome::Answered, ""},
        {controllers, TVarOutcome::Refused, "Too many controllers in one request: at most 64 (setting MaxRequestControllers)."},
        {controllers.substr(controllers.find('&') + 1), TVarOutcome::Answered, ""},
    };
    for (const auto& c : cases) {
        const TVarAnswer a = server->ReadResults(PlainQuery(c.query));
        EXPECT_EQ(a.Outcome, c.outcome) << c.query.size();
        EXPECT_EQ(a.Refusal, c.refusal);
    }
    EXPECT_EQ(server->Controllers().RecordCount(), 0) << "c<N>.sys.x asks no controller";

    for (const int32_t nad : {1, 2, 3}) server->Controllers().AddProxy(sim.Proxy(nad));
    server->ReadVars("c1.w");
    server->Controllers().AddProxy(sim.Proxy(4));
    std::vector<bool> kept;
    for (const int32_t nad : {1, 2, 3, 4}) kept.push_back(server->Controllers().Proxy(nad) != nullptr);
    EXPECT_EQ(kept, (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(server->Controllers().RecordCount(), 3);
}

// The status display's copies: the controllers of the latest request with their counters (every item
// counts, an ALC load once more; the counter wraps), read from another thread while requests run.
TEST(ZeltoSideBySide, AccessListAndCounters) {
    TSimulatedControllers sim({1, 2, 3, 4, 5});
    auto server = Server(kDefaultParallelControllers);
    for (const int32_t nad : {1, 2, 3, 4, 5}) server->Controllers().AddProxy(sim.Proxy(nad));
    const auto nads = [&] {
        std::vector<int32_t> out;
        for (const auto& slot : server->LastAccessSnapshot()) out.push_back(slot ? slot->NAD : -1);
        return out;
    };
    server->ReadVars("c1.a&c2.b&c3.c&c4.d");
    EXPECT_EQ(nads(), (std::vector<int32_t>{4, 2, 3}));
    EXPECT_EQ(server->LastAccessSnapshot()[2]->RequestCount, 1);
    EXPECT_EQ(server->LastAccessSnapshot()[0]->IP, "127.0.0.1");

    server->ReadVars("c5.a&C5.b&c5.sys.alc_file&c5.sys.x");
    EXPECT_EQ(nads(), (std::vector<int32_t>{5, -1, -1}));
    EXPECT_EQ(server->Controllers().Proxy(5)->RequestCount, 5);
    EXPECT_EQ(server->LastAccessSnapshot()[0]->RequestCount, 5);

    server->Controllers().Proxy(5)->RequestCount = kMaxRequestCount - 1;
    server->ReadVars("c5.sys.x");  // counted: the controller has a record
    server->ReadVars("c5.a&c5.a");
    EXPECT_EQ(server->LastAccessSnapshot()[0]->RequestCount, 1);

    // A request without controller items empties the list; an uncounted reading leaves it.
    server->ReadVars("sys.server_version&cx.y");
    EXPECT_EQ(nads(), (std::vector<int32_t>{-1, -1, -1}));
    TVarQuery stream = PlainQuery("c1.a");
    stream.Counted = false;
    server->ReadResults(stream);
    EXPECT_EQ(nads(), (std::vector<int32_t>{-1, -1, -1}));

    std::atomic<bool> done{false};
    std::atomic<int> seenSlots{0};
    std::thread display([&] {
        while (!done) {
            for (const auto& slot : server->LastAccessSnapshot()) {
                if (!slot) continue;
                EXPECT_TRUE(slot->NAD >= 1 && slot->NAD <= 4) << slot->NAD;
                ++seenSlots;
            }
        }
    });
    std::vector<std::thread> clients;
    for (int c = 0; c < 3; ++c)
        clients.emplace_back([&, c] {
            for (int i = 0; i < 200; ++i) server->ReadVars(c % 2 ? "c1.a&c2.b&c3.c" : "c4.d&sys.server_version");
        });
    for (auto& t : clients) t.join();
    done = true;
    display.join();
    EXPECT_GT(seenSlots.load(), 0);
    EXPECT_EQ(Counts(*server, {1, 2, 3, 4}), (std::vector<int32_t>{201, 201, 201, 401}));
}

// With one place, exchanges never overlap in the whole server; with more, a controller that answers is
// not held by requests for silent ones.
TEST(ZeltoSideBySide, ParallelControllersBoundsTheExchangesAtOnce) {
    constexpr int kWaitMs = 100;
    TSimulatedControllers sim({10});
    for (const int parallel : {1, 4}) {
        SCOPED_TRACE(parallel);
        auto server = Server(parallel);
        server->Controllers().AddProxy(sim.Proxy(10));
        server->ReadVars("c10.w");  // answered once: no longer a suspect
        std::string silent;
        for (int nad = 20; nad < 28; ++nad) {
            server->Controllers().AddProxy(sim.Proxy(nad, kWaitMs));
            silent += (silent.empty() ? "c" : "&c") + std::to_string(nad) + ".w";
        }
        std::thread hog([&] { server->ReadVars(silent); });
        std::this_thread::sleep_for(milliseconds(50));
        const auto start = steady_clock::now();
        server->ReadVars("c10.w=1");
        const auto waited = steady_clock::now() - start;
        hog.join();
        if (parallel == 1)
            EXPECT_GT(waited, milliseconds(kWaitMs)) << "one place: the healthy controller waits its turn";
        else
            EXPECT_LT(waited, milliseconds(kWaitMs));
    }
}
