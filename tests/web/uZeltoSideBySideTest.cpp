// The controllers of one request asked side by side, and the bound on their sockets.
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
                                     milliseconds IdleTime = kSocketIdleTime) {
    TZeltoServerHost host;
    host.SettingsRoot = std::filesystem::temp_directory_path() / "zelto-no-settings";
    host.MaxParallelReads = MaxParallel;
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
        for (const int32_t nad : {10, 11, 12, 13, 14}) server->ZeltoList().Add(sim.Proxy(nad, 20));
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
    auto server = Server(kMaxParallelReads);
    server->ZeltoList().Add(sim.Proxy(10));
    std::string query = "c10.w=3";
    for (int nad = 20; nad < 30; ++nad) {
        server->ZeltoList().Add(sim.Proxy(nad, kWaitMs));
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
        EXPECT_EQ(server->ZeltoList().GetByNAD(nad)->ErrorS, "PLC not responding!");
    }
}

// Sockets beyond the cap close the least recently used first; an unused socket closes after the idle time;
// a closed proxy opens its socket again when it is next asked.
TEST(ZeltoSideBySide, SocketsAreBoundedAndClosedWhenIdle) {
    TSimulatedControllers sim({10, 11, 12});
    auto capped = Server(kMaxParallelReads, 2);
    for (const int32_t nad : {10, 11, 12}) capped->ZeltoList().Add(sim.Proxy(nad));
    const auto open = [](TZeltoServer& s) {
        std::vector<bool> out;
        for (const int32_t nad : {10, 11, 12}) out.push_back(s.ZeltoList().GetByNAD(nad)->SocketOpen());
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
    auto idle = Server(kMaxParallelReads, kMaxOpenSockets, kIdle);
    for (const int32_t nad : {10, 11, 12}) idle->ZeltoList().Add(sim.Proxy(nad));
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
