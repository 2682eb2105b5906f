// Which datagrams may answer the request that waits, over real sockets on the loopback adapter of the
// test's own network namespace, read by the waiting thread as in the program: answers from another port,
// of the wrong length, duplicated or late answers to the exchange before. A controller on port 8442 (and a
// forger on 8443 of the same address) answer each request as the table says.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "net/PrivateNetwork.h"
#include "qlink/hQLinkCommands.h"
#include "qlink/uByteOrder.h"
#include "qlink/uCommunication.h"
#include "qlink/uPollUDPSocket.h"

using namespace zelto;

namespace {

constexpr uint16_t kForgerPort = 8443;

// Where a planned datagram goes, and from which port of the controller's address it leaves.
struct TSend {
    std::vector<uint8_t> Bytes;
    bool ToPrevious = false;    // to the port the exchange before sent from (else the current request's)
    bool FromForger = false;    // from port 8443 instead of 8442
};

// The controller (and the forger beside it) on 127.0.0.1: each request is answered by the current plan.
class TPlannedController {
public:
    TPlannedController() {
        fSockets[0] = Bind(kQLinkPort);
        fSockets[1] = Bind(kForgerPort);
        fThread = std::thread([this] { Run(); });
    }
    ~TPlannedController() {
        fStop = true;
        fThread.join();
        for (const int s : fSockets) ::close(s);
    }
    bool Ok() const { return fSockets[0] >= 0 && fSockets[1] >= 0; }
    // The datagrams that answer the next request.
    void Plan(std::vector<TSend> Sends) {
        std::lock_guard<std::mutex> lock(fMutex);
        fPlan = std::move(Sends);
    }
    // From now on, "previous" means the port the last request came from.
    void NextExchange() {
        std::lock_guard<std::mutex> lock(fMutex);
        fPrevious = fCurrent;
    }

private:
    static int Bind(uint16_t Port) {
        const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        timeval tv{0, 20000};
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(Port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(s);
            return -1;
        }
        return s;
    }
    void Run() {
        uint8_t buf[2048];
        while (!fStop) {
            sockaddr_in from{};
            socklen_t size = sizeof from;
            if (::recvfrom(fSockets[0], buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &size) < 0) continue;
            std::lock_guard<std::mutex> lock(fMutex);
            fCurrent = from;
            for (const auto& send : fPlan) {
                const sockaddr_in& to = send.ToPrevious ? fPrevious : fCurrent;
                ::sendto(fSockets[send.FromForger ? 1 : 0], send.Bytes.data(), send.Bytes.size(), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to);
            }
        }
    }

    int fSockets[2] = {-1, -1};
    std::atomic<bool> fStop{false};
    std::mutex fMutex;
    std::vector<TSend> fPlan;
    sockaddr_in fCurrent{}, fPrevious{};
    std::thread fThread;
};

class TTestCommunicator : public TCommunicator {
public:
    using TCommunicator::TCommunicator;
    void SetNoRetries(int Value) { fNoRetries = Value; }
};

// The program's socket, for controller 10 on a one-address adapter: the first ping goes to 127.0.0.1
// itself, nothing is broadcast.
class TLoopbackCommunicator : public TTestCommunicator {
public:
    TLoopbackCommunicator() : TTestCommunicator(std::make_unique<TPollUDPSocket>()) {
        SetEthAdapter(&fLo);
        SetZeltoNAD(10);
    }

private:
    TEthernetAdapterInfo fLo{"lo", "Loopback lo", "127.0.0.1", "255.255.255.255"};
};

// The answer to a random read of one 4-byte item (with Extra more bytes, or Extra < 0 fewer).
std::vector<uint8_t> ValueAnswer(uint32_t Value, int Extra = 0) {
    std::vector<uint8_t> data(4);
    PutU32LE(data, 0, Value);
    if (Extra > 0) data.resize(4 + static_cast<std::size_t>(Extra), 0x5A);
    if (Extra < 0) data.resize(static_cast<std::size_t>(4 + Extra));
    return BuildAnswerFrame(10, kServerNAD, 0, data);
}

}  // namespace

TEST(AnswerMatching, OnlyTheWaitingRequestsOwnAnswerBecomesItsValue) {
    ZELTO_REQUIRE_PRIVATE_NETWORK();
    TPlannedController controller;
    ASSERT_TRUE(controller.Ok());
    TLoopbackCommunicator comm;
    ASSERT_TRUE(comm.Open());
    controller.Plan({{BuildAnswerFrame(10, kServerNAD, 0, {}), false, false}});
    ASSERT_TRUE(comm.Connect());
    ASSERT_EQ(comm.ZeltoIP(), "127.0.0.1");

    constexpr uint32_t kPrevious = 0x11111111, kRight = 0x22222222, kWrong = 0x0BADBAD0;
    struct TCase {
        const char* Name;
        bool PreviousAnswered;  // the exchange before got its answer (else its late answer is kept back)
        std::vector<TSend> Sends;
        bool Ok;  // the exchange succeeds, with kRight as its value
    };
    const TSend right{ValueAnswer(kRight)};
    const TCase cases[] = {
        {"the answer alone", true, {right}, true},
        {"from another port, then the answer", true, {{ValueAnswer(kWrong), false, true}, right}, true},
        {"from another port only", true, {{ValueAnswer(kWrong), false, true}}, false},
        {"longer than asked, then the answer", true, {{ValueAnswer(kWrong, 2)}, right}, true},
        {"longer than asked only", true, {{ValueAnswer(kWrong, 2)}}, false},
        {"shorter than asked, then the answer", true, {{ValueAnswer(kWrong, -1)}, right}, false},
        {"a duplicate of the exchange before, then the answer", true, {{ValueAnswer(kPrevious), true}, right}, true},
        {"a duplicate of the exchange before only", true, {{ValueAnswer(kPrevious), true}}, false},
        {"a late answer to the last attempt before, then the answer", false, {{ValueAnswer(kPrevious), true}, right},
         true},
        {"a late answer to the last attempt before only", false, {{ValueAnswer(kPrevious), true}}, false},
    };
    const uint16_t address[] = {0x0040};
    for (const auto& c : cases) {
        // The exchange before: answered, or silent (its answer comes late, during the next one).
        comm.SetNoRetries(1);
        controller.Plan(c.PreviousAnswered ? std::vector<TSend>{{ValueAnswer(kPrevious)}} : std::vector<TSend>{});
        std::array<uint8_t, 16> values{};
        comm.SetWaitTime(c.PreviousAnswered ? 2000 : 100);
        EXPECT_EQ(comm.ReadRandom(0, 0, 1, address, values), c.PreviousAnswered) << c.Name;
        controller.NextExchange();

        controller.Plan(c.Sends);
        values.fill(0);
        comm.SetWaitTime(c.Ok ? 2000 : 150);
        EXPECT_EQ(comm.ReadRandom(0, 0, 1, address, values), c.Ok) << c.Name;
        if (c.Ok) {
            EXPECT_EQ(GetU32LE(values, 0), kRight) << c.Name;
        }
        controller.NextExchange();
    }
}

// With only ten ports to give (a system so set up), new ports keep being ones used lately: the first
// attempt on such a port is given up, the next is taken as it comes, and every exchange is still answered.
TEST(AnswerMatching, FewPortsToGiveStillAnswer) {
    ZELTO_REQUIRE_PRIVATE_NETWORK();
    const char* kRange = "/proc/sys/net/ipv4/ip_local_port_range";
    std::string saved;
    {
        std::ifstream in(kRange);
        std::getline(in, saved);
    }
    if (saved.empty() || !(std::ofstream(kRange) << "40000 40009\n")) GTEST_SKIP() << "the port range is fixed here";
    struct TRestore {
        const char* Path;
        std::string Text;
        ~TRestore() { std::ofstream(Path) << Text << "\n"; }
    } restore{kRange, saved};

    TPlannedController controller;
    ASSERT_TRUE(controller.Ok());
    TLoopbackCommunicator comm;
    ASSERT_TRUE(comm.Open());
    const uint16_t address[] = {0x0040};
    for (uint32_t i = 1; i <= 20; ++i) {
        controller.Plan({{ValueAnswer(i)}});
        std::array<uint8_t, 16> values{};
        comm.SetWaitTime(100);
        ASSERT_TRUE(comm.ReadRandom(0, 0, 1, address, values)) << i;
        EXPECT_EQ(GetU32LE(values, 0), i);
    }
}
