// Autodetection over the scripted socket: answer order, each NAD once with its first address, the
// replaced lists, and the communicator's controller, retries and wait time given back.
#include <gtest/gtest.h>

#include "qlink/ScriptedController.h"

using namespace zelto;
using namespace std::chrono_literals;
using zelto::test::TFakeUDPSocket;
using zelto::test::TSentDatagram;

namespace {

using TList = std::vector<std::string>;

using DetectTest = zelto::test::TScriptedCommTest;

long long MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST_F(DetectTest, AnswersListedInOrderEachNADOnceWithItsFirstAddress) {
    fSocket->SetResponder([](TFakeUDPSocket& s, const TSentDatagram&, int) {
        s.Inject(BuildAnswerFrame(7, 1, 0, {}), "10.1.2.70");
        s.Inject(BuildAnswerFrame(5, 1, 0, {}), "10.1.2.50");
        s.Inject(BuildAnswerFrame(7, 1, 0, {}), "10.1.2.71");          // NAD 7 again, elsewhere
        s.Inject(BuildAnswerFrame(9, 2, 0, {}), "10.1.2.90");          // not an answer to us
        s.Inject(BuildAnswerFrame(12, 1, 0, {}), "10.1.2.120", 30ms);  // late, but within the time-out
    });
    TList nads{"stale"}, ips{"stale", "more"};
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(fComm->DetectZeltos(&nads, &ips, 120));
    EXPECT_GE(MsSince(start), 120);
    EXPECT_EQ(nads, (TList{"7", "5", "12"}));
    EXPECT_EQ(ips, (TList{"10.1.2.70", "10.1.2.50", "10.1.2.120"}));

    const auto sent = fSocket->Sent();
    ASSERT_EQ(sent.size(), 1u);  // one ping, no retry
    EXPECT_EQ(sent[0].Host, "10.1.2.255");
    EXPECT_EQ(sent[0].Bytes[14], kCmdPing);
    EXPECT_EQ(GetS32LE(sent[0].Bytes, 8), 0);  // to every controller
}

TEST_F(DetectTest, CommunicatorIsGivenBackAsItWas) {
    fSocket->SetResponder([](TFakeUDPSocket& s, const TSentDatagram&, int) { s.Inject(BuildAnswerFrame(12, 1, 0, {}), "10.1.2.12"); });
    fComm->SetZeltoNAD(12);
    ASSERT_TRUE(fComm->Connect());
    fComm->SetNoRetries(4);
    fComm->SetWaitTime(321);
    TList nads, ips;
    ASSERT_TRUE(fComm->DetectZeltos(&nads, &ips, 40));
    EXPECT_EQ(nads, TList{"12"});
    EXPECT_EQ(fComm->ZeltoNAD(), 12);
    EXPECT_EQ(fComm->ZeltoIP(), "10.1.2.12");
    EXPECT_EQ(fComm->NoRetries(), 4);
    EXPECT_EQ(fComm->WaitTime(), 321);

    // The next request goes to NAD 12 at its address again.
    fComm->SetWaitTime(500);
    ASSERT_TRUE(fComm->Ping());
    const auto last = fSocket->Sent().back();
    EXPECT_EQ(last.Host, "10.1.2.12");
    EXPECT_EQ(GetS32LE(last.Bytes, 8), 12);
}

TEST_F(DetectTest, SilenceGivesEmptyListsAfterTheTimeout) {
    struct Case {
        bool Adapter;
        std::size_t Sent;
    };
    for (const Case c : {Case{true, 1}, Case{false, 0}}) {
        fComm->SetEthAdapter(c.Adapter ? &fAdapter : nullptr);
        TList nads{"1"}, ips{"1.2.3.4"};
        const auto before = fSocket->Sent().size();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(fComm->DetectZeltos(&nads, &ips, 80));
        const auto elapsed = MsSince(start);
        EXPECT_GE(elapsed, 80);
        EXPECT_LT(elapsed, 80 + 200);
        EXPECT_TRUE(nads.empty());
        EXPECT_TRUE(ips.empty());
        EXPECT_EQ(fSocket->Sent().size() - before, c.Sent);
    }
}

TEST_F(DetectTest, MissingListReturnsAtOnceAndChangesNothing) {
    fComm->SetWaitTime(77);
    TList list{"keep"};
    EXPECT_FALSE(fComm->DetectZeltos(nullptr, &list, 1000));
    EXPECT_FALSE(fComm->DetectZeltos(&list, nullptr, 1000));
    EXPECT_EQ(list, TList{"keep"});
    EXPECT_TRUE(fSocket->Sent().empty());
    EXPECT_EQ(fComm->ZeltoNAD(), 10);
    EXPECT_EQ(fComm->WaitTime(), 77);
}
