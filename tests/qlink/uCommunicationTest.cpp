// The communicator's exchange over a scripted socket: destinations, retries and time-outs, the hand-over of
// answers, frame text gathered over datagrams, ignored frames, datagrams older than the request, detection-mode
// collection and log lines.
#include "qlink/uCommunication.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "log/uLog.h"
#include "qlink/FakeUDPSocket.h"
#include "qlink/ScriptedController.h"
#include "qlink/hQLinkCommands.h"

using namespace zelto;
using namespace std::chrono_literals;
using zelto::test::TFakeUDPSocket;
using zelto::test::TSentDatagram;
using zelto::test::TTestCommunicator;

namespace {

std::vector<uint8_t> Answer(int32_t sender, std::vector<uint8_t> data = {}, int32_t receiver = 1, uint8_t flags = 0) {
    return BuildAnswerFrame(sender, receiver, flags, data);
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

long long MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// A communicator for NAD 10 on an open scripted socket (adapter broadcast 10.1.2.255).
class CommunicatorTest : public zelto::test::TScriptedCommTest {
protected:
    // Answers every send with the given frame, from the given address.
    void AnswerEverySend(std::vector<uint8_t> frame, std::string from = "10.1.2.7") {
        fSocket->SetResponder([frame, from](TFakeUDPSocket& s, const TSentDatagram&, int) { s.Inject(frame, from); });
    }

};

}  // namespace

TEST_F(CommunicatorTest, NewCommunicatorDefaults) {
    TCommunicator fresh(std::make_unique<TFakeUDPSocket>());
    EXPECT_EQ(fresh.ZeltoNAD(), -1);
    EXPECT_EQ(fresh.ZeltoIP(), "");
    EXPECT_EQ(fresh.WaitTime(), 500);
    EXPECT_EQ(fresh.TransferDate(), 0);
    EXPECT_EQ(fresh.CommState(), csNONE);
    EXPECT_EQ(fresh.EthAdapter(), nullptr);
    TCommunicator noSocket(nullptr);
    EXPECT_FALSE(noSocket.Open());
}

TEST_F(CommunicatorTest, BroadcastUntilConnectThenUnicastToTheAnswersAddress) {
    AnswerEverySend(Answer(10), "10.1.2.7");
    ASSERT_TRUE(fComm->Connect());
    EXPECT_EQ(fComm->ZeltoIP(), "10.1.2.7");
    ASSERT_TRUE(fComm->SendCommand(kCmdReadStatus));

    const auto sent = fSocket->Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].Host, "10.1.2.255");
    EXPECT_EQ(sent[0].Port, 8442);
    EXPECT_EQ(sent[0].Bytes.size(), 19u);
    EXPECT_EQ(sent[0].Bytes[8], 10);  // receiver NAD
    EXPECT_EQ(sent[0].Bytes[14], kCmdPing);
    EXPECT_EQ(sent[1].Host, "10.1.2.7");
    EXPECT_EQ(sent[1].Bytes[14], kCmdReadStatus);
    EXPECT_EQ(fComm->CommState(), csREADY);

    // The same NAD keeps the address; another one forgets it.
    fComm->SetZeltoNAD(10);
    EXPECT_EQ(fComm->ZeltoIP(), "10.1.2.7");
    fComm->SetZeltoNAD(11);
    EXPECT_EQ(fComm->ZeltoIP(), "");
    AnswerEverySend(Answer(11), "10.1.2.11");
    ASSERT_TRUE(fComm->SendCommand(kCmdPing));
    EXPECT_EQ(fSocket->Sent().back().Host, "10.1.2.255");
}

TEST_F(CommunicatorTest, FailedConnectKeepsTheKnownAddress) {
    AnswerEverySend(Answer(10), "10.1.2.7");
    ASSERT_TRUE(fComm->Connect());
    fSocket->SetResponder(nullptr);
    fComm->SetWaitTime(10);
    EXPECT_FALSE(fComm->Connect());
    EXPECT_EQ(fComm->ZeltoIP(), "10.1.2.7");
}

TEST_F(CommunicatorTest, ThreeAttemptsThenFalseAfterThreeWaitTimes) {
    fComm->SetWaitTime(60);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(fComm->SendCommand(kCmdPing));
    const auto elapsed = MsSince(start);
    EXPECT_GE(elapsed, 180);
    EXPECT_LT(elapsed, 180 + 250);
    EXPECT_EQ(fSocket->Sent().size(), 3u);
    EXPECT_EQ(fComm->WaitTime(), 500);
    EXPECT_EQ(fComm->CommState(), csREADY);
}

TEST_F(CommunicatorTest, AnswerToTheSecondAttemptSendsNoThird) {
    fComm->SetWaitTime(200);
    const auto frame = Answer(10, {0x01, 0x02});
    fSocket->SetResponder([&](TFakeUDPSocket& s, const TSentDatagram&, int index) {
        if (index == 1) s.Inject(frame, "10.1.2.7", 5ms);
    });
    EXPECT_TRUE(fComm->SendCommand(kCmdReadStatus));
    EXPECT_EQ(fSocket->Sent().size(), 2u);
    EXPECT_EQ(fComm->LastData(), "0102");
}

TEST_F(CommunicatorTest, WithoutDestinationNothingIsSentButEveryAttemptWaits) {
    fComm->SetEthAdapter(nullptr);
    fComm->SetWaitTime(20);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(fComm->SendCommand(kCmdPing));
    EXPECT_GE(MsSince(start), 60);
    EXPECT_TRUE(fSocket->Sent().empty());

    fComm->SetEthAdapter(&fAdapter);
    fSocket->FailSends = true;
    fComm->SetWaitTime(20);
    EXPECT_FALSE(fComm->SendCommand(kCmdPing));
}

TEST_F(CommunicatorTest, LongWaitTimeLastsOneExchange) {
    // With 10 s per attempt an answer after 700 ms is the first attempt's answer; afterwards 500 ms again.
    fComm->SetWaitTime(10000);
    fSocket->SetResponder([](TFakeUDPSocket& s, const TSentDatagram&, int) { s.Inject(Answer(10), "10.1.2.7", 700ms); });
    EXPECT_TRUE(fComm->SendCommand(kCmdFlashInit));
    EXPECT_EQ(fSocket->Sent().size(), 1u);
    EXPECT_EQ(fComm->WaitTime(), 500);
}

TEST_F(CommunicatorTest, BytesBeforeTheMagicAreDropped) {
    AnswerEverySend(Concat({0x01, 0x02, 0x03}, Answer(10, {0x07})));
    ASSERT_TRUE(fComm->SendCommand(kCmdReadStatus));
    EXPECT_EQ(fComm->LastData(), "07");
    EXPECT_EQ(fComm->LastAnswer().substr(0, 4), "AA55");
}

TEST_F(CommunicatorTest, FrameSplitOverTwoDatagramsAtEveryOffset) {
    // Data that hold the magic bytes: one cut gives a second part that begins like a frame.
    const auto frame = Answer(10, {0xAA, 0x55});
    // The first part must hold the magic bytes: a datagram without them while waiting is dropped.
    for (std::size_t cut = 2; cut < frame.size(); ++cut) {
        const std::vector<uint8_t> head(frame.begin(), frame.begin() + static_cast<long>(cut));
        const std::vector<uint8_t> tail(frame.begin() + static_cast<long>(cut), frame.end());
        fSocket->SetResponder([&](TFakeUDPSocket& s, const TSentDatagram&, int) {
            s.Inject(head);
            s.Inject(tail);
        });
        ASSERT_TRUE(fComm->SendCommand(kCmdReadStatus)) << "cut at " << cut;
        EXPECT_EQ(fComm->LastData(), "AA55") << "cut at " << cut;
    }
}

TEST_F(CommunicatorTest, DatagramWhileNothingWaitsIsNotTheNextAnswer) {
    fComm->SetWaitTime(20);
    fSocket->Inject(Answer(10, {0x01}));  // before any exchange (csNONE)
    fSocket->Drain();
    AnswerEverySend(Answer(10, {0x02}));
    ASSERT_TRUE(fComm->SendCommand(kCmdReadStatus));
    fSocket->SetResponder(nullptr);
    fSocket->Inject(Answer(10, {0x03}));  // after the exchange (csREADY)
    fSocket->Drain();
    fComm->SetWaitTime(20);
    EXPECT_FALSE(fComm->SendCommand(kCmdReadStatus));
    EXPECT_EQ(fComm->LastData(), "02");
}

TEST_F(CommunicatorTest, CopyOfThePreviousAnswerQueuedBeforeTheSendIsDropped) {
    // The first request's answer comes twice; the copy is delivered only while the second request waits,
    // whose own answer comes later. Both carry the same frame layout and size: only the arrival tells.
    fComm->SetWaitTime(300);
    fSocket->SetResponder([](TFakeUDPSocket& s, const TSentDatagram&, int index) {
        const auto answer = Answer(10, {0x00, static_cast<uint8_t>(index + 1)});
        if (index == 0) {
            s.Inject(answer);
            s.InjectArrived(answer, std::chrono::steady_clock::now(), 30ms);
        } else {
            s.Inject(answer, "10.1.2.7", 60ms);
        }
    });
    ASSERT_TRUE(fComm->SendCommand(kCmdReadStatus));
    EXPECT_EQ(fComm->LastData(), "0001");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(fComm->SendCommand(kCmdReadStatus));
    EXPECT_EQ(fComm->LastData(), "0002");
    EXPECT_GE(MsSince(start), 50) << "the copy ended the wait";
    EXPECT_EQ(fSocket->Sent().size(), 2u);

    // A stale first half does not start the text that a fresh datagram would complete.
    const auto frame = Answer(10, {0xAB, 0xCD});
    const std::vector<uint8_t> head(frame.begin(), frame.begin() + 6), tail(frame.begin() + 6, frame.end());
    fSocket->SetResponder([&](TFakeUDPSocket& s, const TSentDatagram&, int) { s.Inject(tail); });
    fSocket->InjectArrived(head, std::chrono::steady_clock::now() - 1ms, 20ms);
    fComm->SetWaitTime(60);
    EXPECT_FALSE(fComm->SendCommand(kCmdReadStatus));
}

TEST_F(CommunicatorTest, LateAnswerToTheFirstAttemptCountsInTheSecond) {
    // Attempts of 100 ms: the second request leaves at 100 ms. Both answers belong to the request.
    struct TCase {
        const char* Name;
        std::chrono::milliseconds Arrives, Delivered;
    };
    const TCase cases[] = {
        {"arrives after the second attempt left", 150ms, 150ms},
        {"arrives within the first attempt, delivered in the second", 60ms, 150ms},
    };
    for (const auto& c : cases) {
        fSocket->SetResponder([&](TFakeUDPSocket& s, const TSentDatagram&, int index) {
            if (index % 2 == 0)
                s.InjectArrived(Answer(10, {0x07}), std::chrono::steady_clock::now() + c.Arrives, c.Delivered);
        });
        fComm->SetWaitTime(100);
        const auto before = fSocket->Sent().size();
        EXPECT_TRUE(fComm->SendCommand(kCmdReadStatus)) << c.Name;
        EXPECT_EQ(fSocket->Sent().size() - before, 2u) << c.Name;
        EXPECT_EQ(fComm->LastData(), "07") << c.Name;
        fSocket->Drain();
    }
}

TEST_F(CommunicatorTest, FramesThatAreNotAnswersToUsAreIgnored) {
    TFrameBuffer echo{};
    uint16_t len = 0;
    ASSERT_TRUE(BuildFrame(1, 10, kCmdReadStatus, 0, 0, echo, len, 0));
    struct TStranger {
        std::vector<uint8_t> Frame;
        std::string From;
        bool AddressKnown;  // ignored only once the controller's address has been learnt
    };
    const std::vector<TStranger> strangers = {
        {{echo.begin(), echo.begin() + len}, "10.1.2.7", false},  // our own request (direction 0)
        {Answer(10, {0x0E}, 1, 0x04), "10.1.2.7", false},         // flags set
        {Answer(10, {0x0E}, 2), "10.1.2.7", false},               // answer to another station
        {Answer(12, {0x0E}), "10.1.2.12", false},                 // another controller's answer
        {Answer(10, {0x0E}), "10.1.2.99", true},                  // NAD 10 from another address
    };
    for (const bool known : {false, true}) {
        if (known) {
            AnswerEverySend(Answer(10), "10.1.2.7");
            ASSERT_TRUE(fComm->Connect());
        }
        // Alone, each of them leaves the exchange unanswered.
        for (const auto& stranger : strangers) {
            if (stranger.AddressKnown && !known) continue;
            AnswerEverySend(stranger.Frame, stranger.From);
            fComm->SetWaitTime(20);
            EXPECT_FALSE(fComm->SendCommand(kCmdReadStatus)) << stranger.From << " known " << known;
        }
        // Followed by the real answer within the same wait, the real one counts.
        const auto good = Answer(10, {0x01, 0x02});
        fSocket->SetResponder([&](TFakeUDPSocket& s, const TSentDatagram&, int) {
            for (const auto& stranger : strangers)
                if (known || !stranger.AddressKnown) s.Inject(stranger.Frame, stranger.From);
            s.Inject(good, "10.1.2.7");
        });
        const auto before = fSocket->Sent().size();
        ASSERT_TRUE(fComm->SendCommand(kCmdReadStatus));
        EXPECT_EQ(fComm->LastData(), "0102");
        EXPECT_EQ(fSocket->Sent().size() - before, 1u) << "the real answer came in the first attempt";
        fSocket->Drain();
    }
}

TEST_F(CommunicatorTest, CorruptAnswerThenGoodOneWithinTheSameWaitIsTaken) {
    auto corrupt = Answer(10, {0x01, 0x02});
    corrupt.back() ^= 0xFF;
    fSocket->SetResponder([&](TFakeUDPSocket& s, const TSentDatagram&, int) {
        s.Inject(corrupt);
        s.Inject(Answer(10, {0x05}));
    });
    fComm->SetWaitTime(100);
    ASSERT_TRUE(fComm->SendCommand(kCmdReadStatus));
    EXPECT_EQ(fSocket->Sent().size(), 1u);
    EXPECT_EQ(fComm->LastData(), "05");
}

TEST_F(CommunicatorTest, NoiseBeforeAndAmongTheAnswerIsDropped) {
    const auto frame = Answer(10, {0xAB, 0xCD});
    const std::vector<uint8_t> head(frame.begin(), frame.begin() + 9), tail(frame.begin() + 9, frame.end());
    auto corrupt = Answer(10, {0x01});
    corrupt.back() ^= 0xFF;
    const std::vector<uint8_t> started = {0xAA, 0x55, 0x40, 0x00, 0x0A};  // a head announcing 64 bytes
    struct TNoise {
        const char* Name;
        std::vector<std::vector<uint8_t>> Datagrams;
        std::string From;
    };
    const TNoise noises[] = {
        {"bytes without a frame start", {{0x01, 0x02, 0x03}, std::vector<uint8_t>(300, 0x5A)}, "10.1.2.7"},
        {"magic bytes off the byte boundary", {{0x0A, 0xA5, 0x5F, 0x00, 0x00, 0x00, 0x00}}, "10.1.2.7"},
        {"an impossible length", {{0xAA, 0x55, 0xFF, 0xFF, 0x00}}, "10.1.2.7"},
        {"a frame with a wrong checksum", {corrupt}, "10.1.2.7"},
        {"the beginning of a longer frame", {started, {0x11, 0x22}}, "10.1.2.7"},
        {"beginnings from another sender", {started, head, {0x33}}, "10.1.2.50"},
    };
    AnswerEverySend(Answer(10), "10.1.2.7");
    ASSERT_TRUE(fComm->Connect());
    for (const auto& noise : noises) {
        for (const bool split : {false, true}) {
            fSocket->SetResponder([&](TFakeUDPSocket& s, const TSentDatagram&, int) {
                for (const auto& d : noise.Datagrams) s.Inject(d, noise.From);
                if (!split) {
                    s.Inject(frame);
                    return;
                }
                // Noise from another address between the two parts does not break them apart.
                s.Inject(head);
                s.Inject({0x44, 0xAA, 0x55}, "10.1.2.51");
                s.Inject(tail);
            });
            const auto before = fSocket->Sent().size();
            fComm->SetWaitTime(200);
            ASSERT_TRUE(fComm->SendCommand(kCmdReadStatus)) << noise.Name << (split ? ", split" : "");
            EXPECT_EQ(fComm->LastData(), "ABCD") << noise.Name;
            EXPECT_EQ(fSocket->Sent().size() - before, 1u) << noise.Name << (split ? ", split" : "");
            fSocket->Drain();
        }
    }
}

TEST_F(CommunicatorTest, TextBeyond2080CharactersIsDroppedAndWaitingGoesOn) {
    // A frame head with an impossible length holds the text until more than 1040 bytes have come.
    std::vector<uint8_t> junk = {0xAA, 0x55, 0xFF, 0xFF};
    junk.resize(1000, 0x11);
    fSocket->SetResponder([&](TFakeUDPSocket& s, const TSentDatagram&, int) {
        s.Inject(junk);
        s.Inject(std::vector<uint8_t>(41, 0x22));  // 2000 + 82 characters: over the limit, all dropped
        s.Inject(Answer(10, {0x09}));
    });
    ASSERT_TRUE(fComm->SendCommand(kCmdReadStatus));
    EXPECT_EQ(fSocket->Sent().size(), 1u);
    EXPECT_EQ(fComm->LastData(), "09");
}

TEST_F(CommunicatorTest, DatagramsOver2048BytesAreDropped) {
    auto padded = Answer(10, {0x04});
    padded.resize(2048, 0x00);
    AnswerEverySend(padded);
    ASSERT_TRUE(fComm->SendCommand(kCmdReadStatus));  // a frame followed by padding, 2048 bytes in all
    EXPECT_EQ(fComm->LastData(), "04");

    padded.resize(2049, 0x00);
    AnswerEverySend(padded);
    fComm->SetWaitTime(20);
    EXPECT_FALSE(fComm->SendCommand(kCmdReadStatus));
}

TEST_F(CommunicatorTest, DetectionModeCollectsEachNADOnceAndWaitsItsFullTime) {
    fComm->SetZeltoNAD(0);
    fSocket->SetResponder([](TFakeUDPSocket& s, const TSentDatagram&, int) {
        s.Inject(Answer(7), "10.1.2.7");
        s.Inject(Answer(5), "10.1.2.5");
        s.Inject(Answer(7), "10.1.2.99");  // a second answer of NAD 7 keeps the first address
        s.Inject(Answer(3), "10.1.2.3", 20ms);
    });
    // An answer that reached the host before the broadcast is not collected.
    fSocket->InjectArrived(Answer(9), std::chrono::steady_clock::now() - 1ms, 20ms, "10.1.2.9");
    fComm->StartCollecting();
    fComm->SetNoRetries(1);
    fComm->SetWaitTime(300);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(fComm->SendRequest(kCmdPing, {}));  // the wait always ends as a time-out
    EXPECT_GE(MsSince(start), 300);
    EXPECT_EQ(fSocket->Sent().size(), 1u);
    std::vector<std::string> nads{"old"}, ips;
    fComm->StopCollecting(nads, ips);
    EXPECT_EQ(nads, (std::vector<std::string>{"7", "5", "3"}));
    EXPECT_EQ(ips, (std::vector<std::string>{"10.1.2.7", "10.1.2.5", "10.1.2.3"}));

    // Out of detection mode an answer ends the wait again, and nothing more is collected.
    AnswerEverySend(Answer(8));
    ASSERT_TRUE(fComm->SendCommand(kCmdPing));
    fComm->StopCollecting(nads, ips);
    EXPECT_EQ(nads.size(), 3u);
}

TEST_F(CommunicatorTest, OversizedRequestDataAreRefusedWithoutSending) {
    fComm->SetWaitTime(5);
    EXPECT_FALSE(fComm->SendRequest(kCmdWriteCode, std::vector<uint8_t>(1023, 0)));
    EXPECT_EQ(fSocket->Sent().size(), 3u);  // 1023 bytes still build a frame: sent, unanswered
    EXPECT_EQ(fSocket->Sent()[0].Bytes.size(), 1042u);
    const auto before = fSocket->Sent().size();
    EXPECT_FALSE(fComm->SendRequest(kCmdWriteCode, std::vector<uint8_t>(1024, 0)));
    EXPECT_EQ(fSocket->Sent().size(), before);
}

TEST_F(CommunicatorTest, TransmitAndReceiveLogLines) {
    const auto dir = std::filesystem::temp_directory_path() / ("zelto_comlog_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto file = (dir / "com.log").string();
    const std::string oldFile = MyLog.LogFile();
    MyLog.SetLogFile(file);
    MyLog.Enabled = true;
    const bool oldShorten = MyLog.ShortenComMessages;
    MyLog.ShortenComMessages = false;
    MyLog.LogStaleAnswers = true;  // LogStaleAnswers=1; without it the "Old" line is not written

    AnswerEverySend(Answer(10), "10.1.2.7");
    ASSERT_TRUE(fComm->Connect());
    fSocket->SetResponder(nullptr);
    fComm->SetEthAdapter(nullptr);
    fComm->SetZeltoNAD(11);
    fComm->SetWaitTime(50);
    // A copy that lay in the socket before the request left is logged as dropped.
    fSocket->InjectArrived(Answer(10), std::chrono::steady_clock::now() - 1ms, 10ms);
    EXPECT_FALSE(fComm->SendCommand(kCmdPing));

    MyLog.Enabled = false;
    MyLog.LogStaleAnswers = false;
    MyLog.ShortenComMessages = oldShorten;
    MyLog.SetLogFile(oldFile);
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto com = line.find("COM ");
        ASSERT_NE(com, std::string::npos) << line;
        lines.push_back(line.substr(com + 4));
    }
    std::filesystem::remove_all(dir);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Tx             0.0.0.0:0 ->       10.1.2.255:8442, AA550500010000000A00000000001000004D7D");
    EXPECT_EQ(lines[1], "Rx         10.1.2.7:8442 ->         0.0.0.0:40000, AA5502000A0000000100000001001162");
    EXPECT_EQ(lines[2].substr(0, 55), "Tx             0.0.0.0:0 ->                 :8442, AA55");
    EXPECT_EQ(lines[3], "Old         10.1.2.7:8442 ->         0.0.0.0:40000, arrived before the request, dropped: "
                        "AA5502000A0000000100000001001162");
    EXPECT_EQ(lines[4], lines[2]);
    EXPECT_EQ(lines[5], lines[2]);
}

TEST_F(CommunicatorTest, BindEthernetAdapterKeepsTheActiveState) {
    fComm->BindEthernetAdapter();
    EXPECT_TRUE(fSocket->Active());
    EXPECT_EQ(fSocket->LocalAddress(), "10.1.2.3");
    fComm->Close();
    fComm->SetEthAdapter(nullptr);
    fComm->BindEthernetAdapter();  // without an adapter the binding stays
    EXPECT_FALSE(fSocket->Active());
    EXPECT_EQ(fSocket->LocalAddress(), "10.1.2.3");
}

TEST(CommunicatorText, PadLeft21) {
    EXPECT_EQ(PadLeft21("1.2.3.4:5"), std::string(12, ' ') + "1.2.3.4:5");
    EXPECT_EQ(PadLeft21(""), std::string(21, ' '));
    EXPECT_EQ(PadLeft21("255.255.255.255:65535"), "255.255.255.255:65535");
    EXPECT_EQ(PadLeft21("1234567890123456789012"), "1234567890123456789012");
}
