// The simulator without sockets: its command line and the answers it gives to request frames.
#include "sim/uSimServer.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "qlink/uQLink.h"
#include "sim/uSimOptions.h"

using namespace zelto;
using namespace zelto::sim;

namespace {

std::vector<uint8_t> Request(int32_t receiver, uint8_t command, std::vector<uint8_t> data = {}, uint8_t direction = 0) {
    TFrameBuffer buf{};
    std::copy(data.begin(), data.end(), buf.begin());
    auto len = static_cast<uint16_t>(data.size());
    EXPECT_TRUE(BuildFrame(1, receiver, command, direction, 0, buf, len, 0x1234));
    return {buf.begin(), buf.begin() + len};
}

struct TAnswer {
    int32_t sender = 0, receiver = 0;
    uint8_t direction = 0, flags = 0;
    std::string data;
};

TAnswer ParseAnswer(const std::vector<uint8_t>& frame) {
    TAnswer a;
    EXPECT_TRUE(ParseFrame(BytesToHex(frame), a.sender, a.receiver, a.direction, a.flags, a.data));
    return a;
}

}  // namespace

TEST(SimOptions, CommandLineTable) {
    struct Case {
        std::vector<std::string> args;
        bool ok;
        std::vector<int32_t> nads;
        std::string bind;
        uint16_t port;
    };
    const Case cases[] = {
        {{"10"}, true, {10}, "", 8442},
        {{"10", "11", "$C"}, true, {10, 11, 12}, "", 8442},
        {{"--bind", "127.0.0.1", "--port", "9000", "7"}, true, {7}, "127.0.0.1", 9000},
        {{}, true, {}, "", 8442},  // the ALC's own NAD
        {{"10", "10"}, false, {}, "", 0},
        {{"0"}, false, {}, "", 0},
        {{"1"}, false, {}, "", 0},
        {{"ten"}, false, {}, "", 0},
        {{"--bind", "localhost", "10"}, false, {}, "", 0},
        {{"--port", "70000", "10"}, false, {}, "", 0},
        {{"10", "--port"}, false, {}, "", 0},
        {{"--colour", "red", "10"}, false, {}, "", 0},
        {{"--plc-status", "running", "10"}, false, {}, "", 0},
        {{"--checksum-key", "15C", "10"}, false, {}, "", 0},
        {{"--checksum-weights", "1,3,7", "10"}, false, {}, "", 0},
    };
    for (const auto& c : cases) {
        TSimOptions o;
        std::string error;
        const bool ok = ParseSimOptions(c.args, o, error);
        EXPECT_EQ(ok, c.ok) << testing::PrintToString(c.args);
        if (!ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(o.NADs, c.nads);
        EXPECT_EQ(o.BindAddress, c.bind);
        EXPECT_EQ(o.Port, c.port);
    }
    TSimOptions o;
    std::string error;
    ASSERT_TRUE(ParseSimOptions({"--sys-status", "loader", "--plc-status", "congestion", "5"}, o, error));
    EXPECT_EQ(o.SysStatus, TSysStatus::ssLoader);
    EXPECT_EQ(o.PLCStatus, TPLCStatus::psCongestionError);
    for (const char* bad : {"", "a/b", "name-longer-than-15"}) {
        TSimOptions refused;
        EXPECT_FALSE(ParseSimOptions({"--device", bad, "10"}, refused, error)) << bad;
    }
    ASSERT_TRUE(ParseSimOptions({"--device", "lo", "10"}, o, error));
    EXPECT_EQ(o.Device, "lo");
    ASSERT_TRUE(ParseSimOptions({"--jitter", "700", "--delay", "5", "--count-reads", "10"}, o, error));
    EXPECT_EQ(o.Faults.JitterMs, 700);
    EXPECT_EQ(o.Faults.DelayMs, 5);
    EXPECT_TRUE(o.CountReads);
    EXPECT_FALSE(ParseSimOptions({"--jitter", "-1", "10"}, o, error));
}

// Jitter: each copy of an answer waits the delay and its own random part of the jitter.
TEST(SimFaults, JitterGivesEachCopyItsOwnDelay) {
    TSimFaultOptions options;
    options.Duplicate.Every = 1;
    options.DelayMs = 5;
    options.JitterMs = 700;
    TSimFaults faults(options);
    const std::vector<uint8_t> answer = BuildAnswerFrame(10, 1, 0, std::vector<uint8_t>{1, 2});
    int low = 1000, high = 0;
    for (int i = 0; i < 200; ++i) {
        const auto copies = faults.ApplyCopies(answer);
        ASSERT_EQ(copies.size(), 2u);
        EXPECT_EQ(copies[1], copies[0]);
        for (std::size_t c = 0; c < copies.size(); ++c) {
            const int delay = faults.NextDelayMs();
            low = std::min(low, delay);
            high = std::max(high, delay);
        }
    }
    EXPECT_GE(low, 5);
    EXPECT_LE(high, 705);
    EXPECT_GT(high - low, 500);  // spread over the range, not one value
    TSimFaults still;             // no jitter: the delay alone
    EXPECT_EQ(still.NextDelayMs(), 0);
}

TEST(SimServer, RequestParsing) {
    TSimRequest r;
    ASSERT_TRUE(ParseSimRequest(Request(10, 0x21, {0x00, 0x02, 0x10, 0x00}), r));
    EXPECT_EQ(r.SenderNAD, 1);
    EXPECT_EQ(r.ReceiverNAD, 10);
    EXPECT_EQ(r.Command, 0x21);
    EXPECT_EQ(r.Data, (std::vector<uint8_t>{0x00, 0x02, 0x10, 0x00}));
    EXPECT_EQ(r.PasswordCRC, 0x1234);
    EXPECT_FALSE(ParseSimRequest(Request(10, 0x10, {}, 1), r));  // an answer, not a request
    EXPECT_FALSE(ParseSimRequest(BuildAnswerFrame(10, 1, 0, {}), r));
    auto broken = Request(10, 0x10);
    broken[5] ^= 1;
    EXPECT_FALSE(ParseSimRequest(broken, r));
}

TEST(SimServer, AnswersByNADAndBroadcast) {
    TSimServer server;
    ASSERT_TRUE(server.AddController(7));
    ASSERT_TRUE(server.AddController(5));
    EXPECT_FALSE(server.AddController(7));
    server.Controller(5)->SetPLCStatus(TPLCStatus::psStop);

    struct Case {
        const char* what;
        std::vector<uint8_t> request;
        std::vector<int32_t> answeredBy;
        std::vector<std::string> data;
    };
    const Case cases[] = {
        {"ping to 7", Request(7, kCmdPing), {7}, {""}},
        {"ping to all", Request(0, kCmdPing), {7, 5}, {"", ""}},
        {"ping to a NAD nobody has", Request(99, kCmdPing), {}, {}},
        {"status of 7: kernel, running", Request(7, kCmdReadStatus), {7}, {"0102"}},
        {"status of 5: kernel, stopped", Request(5, kCmdReadStatus), {5}, {"0100"}},
        {"status to all is not answered", Request(0, kCmdReadStatus), {}, {}},
        {"unknown command", Request(7, 0x7F), {}, {}},
        {"garbage", {0x01, 0x02, 0x03}, {}, {}},
    };
    for (const auto& c : cases) {
        const auto answers = server.HandleDatagram(c.request);
        ASSERT_EQ(answers.size(), c.answeredBy.size()) << c.what;
        for (std::size_t i = 0; i < answers.size(); ++i) {
            const TAnswer a = ParseAnswer(answers[i]);
            EXPECT_EQ(a.sender, c.answeredBy[i]) << c.what;
            EXPECT_EQ(a.receiver, 1) << c.what;
            EXPECT_EQ(a.direction, 1) << c.what;
            EXPECT_EQ(a.flags, 0) << c.what;
            EXPECT_EQ(a.data, c.data[i]) << c.what;
        }
    }
}
