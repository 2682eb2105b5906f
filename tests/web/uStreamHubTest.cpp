#include "web/uStreamHub.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "TestJson.h"
#include "web/uZeltoIntf.h"

using namespace zelto;
using namespace std::chrono_literals;
using zelto::test::TJsonReader;

namespace {

// The controllers as the hub's reader sees them: values the test sets, and every query it was asked.
struct TFakeControllers {
    std::mutex m;
    std::condition_variable cv;
    std::map<std::string, double> values;
    std::vector<std::string> queries;

    TVarResults Read(const std::string& query) {
        std::lock_guard<std::mutex> lock(m);
        queries.push_back(query);
        cv.notify_all();
        TVarResults out;
        for (const std::string& item : SplitRequestItems(query)) {
            const auto v = values.find(item);
            if (v == values.end()) out.push_back(TVarResult{item, TValueKind::Missing, 0, "?", {}, "PLC not responding!", {}});
            else out.push_back(TVarResult{item, TValueKind::Number, v->second, {}, {}, {}, {}});
        }
        return out;
    }
    void Set(const std::string& item, double v) {
        std::lock_guard<std::mutex> lock(m);
        values[item] = v;
    }
    // Waits until the reader has been asked n more times than `from`.
    bool WaitReads(std::size_t from, std::size_t n) {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, 5s, [&] { return queries.size() >= from + n; });
    }
    std::size_t Reads() {
        std::lock_guard<std::mutex> lock(m);
        return queries.size();
    }
};

// The client side of a stream: collects what the hub sends, as the listener would write it.
struct TClient {
    std::shared_ptr<THttpStream> stream;
    std::mutex m;
    std::condition_variable cv;
    std::string received;
    bool reading = true;

    explicit TClient(std::size_t limit = THttpStream::kDefaultLimit) : stream(std::make_shared<THttpStream>(limit)) {
        stream->SetNotify([this] {
            std::lock_guard<std::mutex> lock(m);
            if (!reading) return;
            const std::string text = stream->TakePending();
            stream->Written(text.size());
            received += text;
            cv.notify_all();
        });
    }
    // The events received so far: each event's entries as name -> value text (number or error).
    std::vector<std::map<std::string, std::string>> Events() {
        std::lock_guard<std::mutex> lock(m);
        std::vector<std::map<std::string, std::string>> events;
        std::size_t pos = 0;
        while ((pos = received.find("event: vars\ndata: ", pos)) != std::string::npos) {
            pos += 18;
            const std::size_t end = received.find("\n\n", pos);
            std::map<std::string, std::string> e;
            const auto doc = TJsonReader::Parse(received.substr(pos, end - pos));
            for (const auto& v : doc["vars"].Items)
                e[v["name"].Str] = v.Has("error") ? v["error"].Str : v["value"].NumText;
            events.push_back(std::move(e));
        }
        return events;
    }
    bool WaitEvents(std::size_t n) {
        for (auto deadline = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < deadline;) {
            if (Events().size() >= n) return true;
            std::unique_lock<std::mutex> lock(m);
            cv.wait_for(lock, 50ms);
        }
        return false;
    }
};

}  // namespace

TEST(StreamHub, FirstEventChangesOnlyAndOneReadPerController) {
    TFakeControllers plc;
    plc.Set("c10.temp", 21.5);
    plc.Set("c10.level", 3);
    plc.Set("c11.x", 1);
    TStreamHub hub([&](const std::string& q) { return plc.Read(q); }, {10ms, 256, 15000ms});

    TClient a, b, c;
    ASSERT_EQ(hub.Open(a.stream, "c10.temp&c10.level", plc.Read("c10.temp&c10.level")), TStreamHub::TOpenResult::Opened);
    ASSERT_EQ(hub.Open(b.stream, "c10.temp&c11.x&c12.gone", plc.Read("c10.temp&c11.x&c12.gone")),
              TStreamHub::TOpenResult::Opened);
    ASSERT_EQ(hub.Open(c.stream, "c10.temp", plc.Read("c10.temp")), TStreamHub::TOpenResult::Opened);
    ASSERT_TRUE(a.WaitEvents(1));
    EXPECT_EQ(a.Events()[0], (std::map<std::string, std::string>{{"c10.temp", "21.5"}, {"c10.level", "3"}}));
    ASSERT_TRUE(b.WaitEvents(1));
    EXPECT_EQ(b.Events()[0]["c12.gone"], "PLC not responding!");

    // Rounds without a change send nothing; each round reads each controller once, whatever the streams,
    // and a controller that does not answer is read less and less often.
    std::size_t from = plc.Reads();
    std::map<std::string, int> perQuery;
    for (std::size_t seen = from; perQuery["c10.temp&c10.level"] < 8; ++seen) {
        ASSERT_TRUE(plc.WaitReads(seen, 1));
        std::lock_guard<std::mutex> lock(plc.m);
        ++perQuery[plc.queries[seen]];
    }
    EXPECT_EQ(a.Events().size(), 1u);
    EXPECT_EQ(b.Events().size(), 1u);
    EXPECT_EQ(perQuery.size(), 3u);  // c10 with the union of its items, c11, c12
    EXPECT_LE(std::abs(perQuery["c11.x"] - 8), 1);
    EXPECT_LT(perQuery["c12.gone"], 6);

    // A change reaches every stream that names the item, with only the changed entry.
    plc.Set("c10.level", 4.25);
    ASSERT_TRUE(a.WaitEvents(2));
    EXPECT_EQ(a.Events()[1], (std::map<std::string, std::string>{{"c10.level", "4.25"}}));
    plc.Set("c10.temp", 22);
    ASSERT_TRUE(c.WaitEvents(2));
    EXPECT_EQ(c.Events()[1], (std::map<std::string, std::string>{{"c10.temp", "22"}}));
    ASSERT_TRUE(b.WaitEvents(2));
    EXPECT_EQ(b.Events()[1], (std::map<std::string, std::string>{{"c10.temp", "22"}}));

    hub.Stop();
    for (TClient* t : {&a, &b, &c}) EXPECT_TRUE(t->stream->Finished());
    EXPECT_EQ(hub.Open(std::make_shared<THttpStream>(), "c10.temp", {}), TStreamHub::TOpenResult::Stopped);
}

TEST(StreamHub, BoundsDropAndKeepAlive) {
    TFakeControllers plc;
    TStreamHub hub([&](const std::string& q) { return plc.Read(q); }, {5ms, 2, 30ms});

    // A client that stops reading is dropped once its unsent text passes the stream's bound.
    TClient slow(300);
    {
        std::lock_guard<std::mutex> lock(slow.m);
        slow.reading = false;
    }
    TClient idle;
    ASSERT_EQ(hub.Open(slow.stream, "c1.a", {}), TStreamHub::TOpenResult::Opened);
    ASSERT_EQ(hub.Open(idle.stream, "c1.b", plc.Read("c1.b")), TStreamHub::TOpenResult::Opened);
    EXPECT_FALSE(hub.HasRoom());
    EXPECT_EQ(hub.Open(std::make_shared<THttpStream>(), "c1.c", {}), TStreamHub::TOpenResult::Full);
    for (int i = 0; i < 20 && !slow.stream->Closed(); ++i) {
        plc.Set("c1.a", i);
        const std::size_t from = plc.Reads();
        ASSERT_TRUE(plc.WaitReads(from, 2));
    }
    EXPECT_TRUE(slow.stream->Closed());
    ASSERT_TRUE(plc.WaitReads(plc.Reads(), 2));
    EXPECT_EQ(hub.Count(), 1u);
    EXPECT_TRUE(hub.HasRoom());

    // An idle stream hears a comment line now and then, and nothing else.
    for (auto deadline = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < deadline;) {
        std::unique_lock<std::mutex> lock(idle.m);
        if (idle.received.find(TStreamHub::kKeepAlive) != std::string::npos) break;
        idle.cv.wait_for(lock, 50ms);
    }
    hub.Stop();  // before the clients go: it ends their streams
    std::lock_guard<std::mutex> lock(idle.m);
    EXPECT_EQ(idle.received.substr(0, idle.received.find(TStreamHub::kKeepAlive)), "event: vars\ndata: {\"vars\":[{\"name\":\"c1.b\",\"value\":null,\"description\":\"\",\"error\":\"PLC not responding!\"}]}\n\n");
}

TEST(StreamHub, ListenersShareTheRoundsAndHearChangesOnly) {
    TFakeControllers plc;
    plc.Set("c10.temp", 21.5);
    plc.Set("c10.level", 3);
    TStreamHub hub([&](const std::string& q) { return plc.Read(q); }, {40ms, 256, 15000ms});
    std::mutex m;
    std::vector<std::map<std::string, std::string>> calls;
    const auto listener = [&](const TVarResults& changed) {
        std::map<std::string, std::string> call;
        for (const TVarResult& r : changed) call[r.Name] = r.Kind == TValueKind::Number ? std::to_string(r.Number) : r.Error;
        std::lock_guard<std::mutex> lock(m);
        calls.push_back(call);
    };
    const auto callCount = [&] {
        std::lock_guard<std::mutex> lock(m);
        return calls.size();
    };
    const auto waitCalls = [&](std::size_t n) {
        for (auto deadline = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < deadline;) {
            if (callCount() >= n) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    };
    // A listener faster than the streams sets the pace; one slower than it is read every fourth round.
    const auto fast = hub.Subscribe({"c10.temp", "c10.level"}, 10ms, listener);
    TClient stream;
    ASSERT_EQ(hub.Open(stream.stream, "c10.temp", plc.Read("c10.temp")), TStreamHub::TOpenResult::Opened);
    ASSERT_TRUE(waitCalls(1));
    EXPECT_EQ(calls[0], (std::map<std::string, std::string>{{"c10.temp", "21.500000"}, {"c10.level", "3.000000"}}));

    // One read of the controller per round, with the union of the items, whoever is due.
    const std::size_t from = plc.Reads();
    ASSERT_TRUE(plc.WaitReads(from, 12));
    {
        std::lock_guard<std::mutex> lock(plc.m);
        for (std::size_t i = from; i < from + 12; ++i) EXPECT_EQ(plc.queries[i], "c10.temp&c10.level") << i;
    }
    EXPECT_EQ(callCount(), 1u);  // nothing changed
    plc.Set("c10.level", 4.25);
    ASSERT_TRUE(waitCalls(2));
    EXPECT_EQ(calls[1], (std::map<std::string, std::string>{{"c10.level", "4.250000"}}));

    // Resend hands every entry again; after Unsubscribe the listener hears nothing, and the streams'
    // own rounds read only what the streams want.
    hub.Resend(fast);
    ASSERT_TRUE(waitCalls(3));
    EXPECT_EQ(calls[2].size(), 2u);
    hub.Unsubscribe(fast);
    const std::size_t after = callCount();
    plc.Set("c10.level", 5);
    const std::size_t reads = plc.Reads();
    ASSERT_TRUE(plc.WaitReads(reads, 3));
    EXPECT_EQ(callCount(), after);
    {
        std::lock_guard<std::mutex> lock(plc.m);
        EXPECT_EQ(plc.queries.back(), "c10.temp");
    }
    EXPECT_EQ(hub.Count(), 1u);

    // A controller that does not answer is asked less and less often for a listener too, also when the
    // listener is due only every other round.
    hub.Subscribe({"c12.gone"}, 80ms, listener);
    std::this_thread::sleep_for(1500ms);
    hub.Stop();  // before the client goes: it ends its stream
    EXPECT_LT(std::count(plc.queries.begin(), plc.queries.end(), "c12.gone"), 10);
    EXPECT_GE(std::count(plc.queries.begin(), plc.queries.end(), "c12.gone"), 2);
}
