#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "BenchCrowd.h"
#include "BenchHttp.h"
#include "net/PrivateNetwork.h"

namespace zelto::bench {
namespace {

TEST(BenchClient, StatusOfAnswers) {
    const struct {
        std::string Answer;
        int Status;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\n\r\n", 200},
        {"HTTP/1.0 503 Service Unavailable\r\n", 503},
        {"HTTP/1.1 405 ", 405},
        {"HTTP/1.1 20", 0},           // cut short
        {"HTTP/1.1 2x0 OK\r\n\r\n", 0},
        {"SSH-2.0-OpenSSH_9.2\r\n", 0},
        {"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(StatusOf(c.Answer), c.Status) << c.Answer;
}

TEST(BenchClient, PercentilesOfSamples) {
    const struct {
        std::vector<double> Samples;
        double Share, Value;
    } cases[] = {
        {{}, 0.5, 0},
        {{7}, 0.5, 7},
        {{7}, 0.99, 7},
        {{4, 1, 3, 2}, 0.5, 2},  // the lower middle of an even count
        {{4, 1, 3, 2}, 1.0, 4},
        {{5, 1, 2, 3, 4, 6, 7, 8, 9, 10}, 0.99, 10},
    };
    for (auto c : cases) EXPECT_EQ(Percentile(c.Samples, c.Share), c.Value) << c.Share;
}

// A server that holds at most Slots connections: the first Slots get 200 once their head is whole, every
// later one 503 at once, the way a full server turns clients away.
TEST(BenchClient, CrowdCountsAnswersByStatus) {
    ZELTO_REQUIRE_PRIVATE_NETWORK();
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = LoopbackAddress(0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 64), 0);
    socklen_t length = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
    constexpr int kCount = 12, kSlots = 5;
    std::thread server([&] {
        std::vector<int> held;
        for (int i = 0; i < kCount; ++i) {
            const int c = ::accept(listener, nullptr, nullptr);
            if (c < 0) break;
            if (i >= kSlots) {
                const std::string busy = "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n\r\n";
                ::send(c, busy.data(), busy.size(), MSG_NOSIGNAL);
                ::close(c);
            } else {
                held.push_back(c);
            }
        }
        for (const int c : held) {
            std::string head;
            char buffer[1024];
            ssize_t n;
            while (head.find("\r\n\r\n") == std::string::npos && (n = ::recv(c, buffer, sizeof buffer, 0)) > 0)
                head.append(buffer, static_cast<std::size_t>(n));
            const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
            ::send(c, ok.data(), ok.size(), MSG_NOSIGNAL);
            ::close(c);
        }
    });
    const TCrowdResult r = OpenAtOnce(ntohs(a.sin_port), "/index.html", kCount, 100, ::getpid());
    server.join();
    ::close(listener);
    EXPECT_EQ(r.Answered, kSlots);
    EXPECT_EQ(r.Others, (std::map<int, int>{{503, kCount - kSlots}}));
    EXPECT_GT(r.MaxResidentKiB, 0);
}

}  // namespace
}  // namespace zelto::bench
