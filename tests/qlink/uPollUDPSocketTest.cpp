// The communicator on real sockets, inside the test's own network namespace (loopback only): broadcast to
// the loopback adapter's broadcast address, unicast after Connect, the size limit of datagrams, delivery on
// the waiting thread, and no thread and one descriptor each for a thousand open sockets.
#include "qlink/uPollUDPSocket.h"

#include <sys/resource.h>

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "net/PrivateNetwork.h"
#include "qlink/ScriptedPeer.h"
#include "qlink/hQLinkCommands.h"
#include "qlink/uCommunication.h"

using namespace zelto;
using zelto::test::TScriptedPeer;

namespace {

int EntryCount(const char* Folder) {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(Folder)) ++n;
    return n;
}
int ThreadCount() { return EntryCount("/proc/self/task"); }
int DescriptorCount() { return EntryCount("/proc/self/fd"); }

class TTestCommunicator : public TCommunicator {
public:
    std::string LastData() const { return fLastData; }
};

}  // namespace

TEST(SocketCommunicator, BroadcastOnLoopbackThenUnicastToTheController) {
    ZELTO_REQUIRE_PRIVATE_NETWORK();
    TEthernetAdapterInfo lo;
    ASSERT_TRUE(lo.SetByID("lo"));
    ASSERT_EQ(lo.BroadcastAddress(), "127.255.255.255");

    TScriptedPeer peer("0.0.0.0", kQLinkPort, [](const std::vector<uint8_t>& request) {
        const std::vector<uint8_t> data = request[14] == kCmdPing ? std::vector<uint8_t>{} : std::vector<uint8_t>{1, 2};
        return std::vector<std::vector<uint8_t>>{BuildAnswerFrame(10, 1, 0, data)};
    });
    ASSERT_TRUE(peer.Bound());

    const int descriptors = DescriptorCount();
    TTestCommunicator comm;
    comm.SetEthAdapter(&lo);
    comm.SetZeltoNAD(10);
    ASSERT_TRUE(comm.Open());
    ASSERT_TRUE(comm.Open());  // harmless when open
    ASSERT_TRUE(comm.Connect());
    EXPECT_EQ(comm.ZeltoIP(), "127.0.0.1");
    ASSERT_TRUE(comm.SendCommand(kCmdReadStatus));
    EXPECT_EQ(comm.LastData(), "0102");
    EXPECT_EQ(DescriptorCount() - descriptors, 1);  // one socket, also after it moved to new ports

    const auto received = peer.Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].Destination, "127.255.255.255");
    EXPECT_EQ(received[0].Bytes[14], kCmdPing);
    EXPECT_EQ(received[1].Destination, "127.0.0.1");
    EXPECT_EQ(received[1].Bytes[14], kCmdReadStatus);

    // A closed communicator hears nothing.
    comm.Close();
    comm.SetWaitTime(20);
    EXPECT_FALSE(comm.SendCommand(kCmdReadStatus));
}

TEST(SocketCommunicator, OversizedDatagramIsDropped) {
    ZELTO_REQUIRE_PRIVATE_NETWORK();
    TScriptedPeer peer("127.0.0.1", kQLinkPort, [](const std::vector<uint8_t>& request) {
        auto answer = BuildAnswerFrame(10, 1, 0, request[14] == kCmdPing ? std::vector<uint8_t>{} : std::vector<uint8_t>{0x05});
        answer.resize(request[14] == kCmdPing ? 2048 : 3000, 0x00);
        return std::vector<std::vector<uint8_t>>{answer};
    });
    ASSERT_TRUE(peer.Bound());
    TEthernetAdapterInfo lo("lo", "Loopback lo", "127.0.0.1", "255.255.255.255");  // broadcast = 127.0.0.1
    TTestCommunicator comm;
    comm.SetEthAdapter(&lo);
    comm.SetZeltoNAD(10);
    ASSERT_TRUE(comm.Open());
    EXPECT_TRUE(comm.SendCommand(kCmdPing));
    comm.SetWaitTime(30);
    EXPECT_FALSE(comm.SendCommand(kCmdReadStatus));
}

// The arrival time handed over with a datagram is the kernel's, not the time of delivery: datagrams that
// came while nobody waited keep the time they came in, and are delivered on the thread that waits next.
TEST(SocketCommunicator, DatagramsCarryTheTimeTheyReachedTheHost) {
    ZELTO_REQUIRE_PRIVATE_NETWORK();
    using namespace std::chrono;
    struct TSeen {
        TArrivalTime Arrived, Delivered;
        std::thread::id Thread;
    };
    std::vector<TSeen> seen;
    TPollUDPSocket socket;
    socket.SetOnRead([&](std::span<const uint8_t>, const TUDPEndpoint&, const TUDPEndpoint&, TArrivalTime Arrived) {
        seen.push_back({Arrived, steady_clock::now(), std::this_thread::get_id()});
    });
    ASSERT_TRUE(socket.Activate());
    // The first socket that asks for time stamps switches them on in the kernel a moment later; until then
    // datagrams count as arriving when they are read.
    std::this_thread::sleep_for(50ms);

    const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(sender, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(socket.BoundPort());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const uint8_t bytes[] = {0xAA, 0x55};
    const auto before = steady_clock::now();
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(::sendto(sender, bytes, sizeof bytes, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 2);
    const auto sent = steady_clock::now();
    ::close(sender);
    std::this_thread::sleep_for(100ms);  // nobody waits: both stay in the socket
    EXPECT_TRUE(seen.empty());
    ASSERT_TRUE(socket.ReceiveUntil(steady_clock::now() + 5s, [&] { return seen.size() == 2; }));
    ASSERT_EQ(seen.size(), 2u);
    // Nothing more comes: the wait ends at its deadline.
    const auto waitFrom = steady_clock::now();
    EXPECT_TRUE(socket.ReceiveUntil(waitFrom + 30ms, [] { return false; }));
    EXPECT_GE(steady_clock::now() - waitFrom, 30ms);
    socket.Deactivate();
    EXPECT_FALSE(socket.ReceiveUntil(steady_clock::now() + 30ms, [] { return false; }));
    // A little slack for the real-time clock the kernel stamps with being slewed meanwhile.
    for (const auto& s : seen) {
        EXPECT_GE(s.Arrived, before - 2ms);
        EXPECT_LE(s.Arrived, sent + 2ms);
        EXPECT_GE(s.Delivered - s.Arrived, 90ms);
        EXPECT_EQ(s.Thread, std::this_thread::get_id());
    }
}

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZELTO_TEST_UNDER_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(ZELTO_TEST_UNDER_TSAN)
constexpr int kSanitizerThreads = 1;
#else
constexpr int kSanitizerThreads = 0;
#endif

TEST(SocketCommunicator, ThousandOpenCommunicatorsStartNoThreadAndHoldOneDescriptorEach) {
    ZELTO_REQUIRE_PRIVATE_NETWORK();
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < 1100) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 1100);
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    if (files.rlim_cur < 1100) GTEST_SKIP() << "too few file descriptors allowed";

    const int before = ThreadCount();
    const int descriptorsBefore = DescriptorCount();
    std::vector<std::unique_ptr<TCommunicator>> all;
    for (int i = 0; i < 1000; ++i) {
        all.push_back(std::make_unique<TCommunicator>());
        ASSERT_TRUE(all.back()->Open()) << i;
    }
    const int during = ThreadCount();
    // One descriptor each: the socket itself, no event machinery beside it.
    EXPECT_EQ(DescriptorCount() - descriptorsBefore, 1000);
    RecordProperty("threads_before", before);
    RecordProperty("threads_with_1000_open", during);
    // The sockets are read by the threads that wait for answers (ThreadSanitizer may start a background
    // thread of its own on the way).
    EXPECT_LE(during, before + kSanitizerThreads);
    all.clear();
}
