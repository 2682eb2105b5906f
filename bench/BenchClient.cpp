// The benchmark's clients where wrk does not fit: each mode prints one line of key=value figures
// (times in microseconds unless the key says otherwise) for scripts/bench.sh to read.
//
//   zelto_bench_client seq    --port P --path PATH [--count N] [--warmup W] [--keep-alive 1]
//   zelto_bench_client udp    --port P [--count N] [--size S]
//   zelto_bench_client crowd  --port P --path PATH --count N [--hold-ms H] [--pid PID]
//   zelto_bench_client during --port P --bg-path A --path B [--delay-ms D] [--count N]
//   zelto_bench_client slow   --port P --path PATH --slow M [--warm-ms W] [--count N] [--interval-ms I]
//   zelto_bench_client early  --port P --path PATH --early E [--method M] [--count N]
//   zelto_bench_client load   --port P --paths A,B,... [--count N] [--connections C]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "BenchCrowd.h"
#include "BenchHttp.h"

namespace {

using namespace zelto::bench;

struct TArguments {
    std::map<std::string, std::string> Values;
    std::string Text(const std::string& name, const std::string& fallback = "") const {
        const auto it = Values.find(name);
        return it == Values.end() ? fallback : it->second;
    }
    int Number(const std::string& name, int fallback) const {
        const auto it = Values.find(name);
        return it == Values.end() ? fallback : std::atoi(it->second.c_str());
    }
};

// Timed exchanges one after another: how many, how many were not 200, and the spread of their times.
struct TSeries {
    std::vector<double> Micros;
    int Bad = 0;
    int LastBadStatus = 0;
    void Add(const TExchange& e) {
        Micros.push_back(e.Micros);
        if (e.Status != 200) {
            ++Bad;
            LastBadStatus = e.Status;
        }
    }
    void Print() {
        const std::size_t n = Micros.size();
        const double p50 = Percentile(Micros, 0.5), p95 = Percentile(Micros, 0.95), p99 = Percentile(Micros, 0.99);
        std::printf("n=%zu bad=%d bad_status=%d p50=%.0f p95=%.0f p99=%.0f max=%.0f", n, Bad, LastBadStatus, p50, p95, p99,
                    Percentile(Micros, 1.0));
    }
};

void PrintStatuses(const char* prefix, const std::map<int, int>& statuses) {
    for (const auto& [status, count] : statuses) std::printf(" %s%d=%d", prefix, status, count);
}

// Exchanges one after another, each on a new connection, or with --keep-alive 1 over one kept connection.
int Sequential(const TArguments& a, uint16_t port) {
    const bool keepAlive = a.Number("--keep-alive", 0) != 0;
    const std::string request = GetRequest(a.Text("--path", "/"), keepAlive);
    TKeptConnection kept(port);
    auto exchange = [&] { return keepAlive ? kept.Exchange(request) : Exchange(port, request); };
    for (int i = a.Number("--warmup", 0); i > 0; --i) exchange();
    TSeries series;
    for (int i = a.Number("--count", 100); i > 0; --i) series.Add(exchange());
    series.Print();
    std::printf("\n");
    return 0;
}

int UdpRoundTrips(const TArguments& a, uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = LoopbackAddress(port);
    timeval tv{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) return 1;
    std::vector<char> frame(static_cast<std::size_t>(a.Number("--size", 64)), 'q');
    std::vector<double> micros;
    int lost = 0;
    for (int i = a.Number("--count", 1000); i > 0; --i) {
        const auto start = std::chrono::steady_clock::now();
        ::send(fd, frame.data(), frame.size(), 0);
        char buffer[2048];
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0) ++lost;
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    ::close(fd);
    const std::size_t n = micros.size();
    const double p50 = Percentile(micros, 0.5);
    std::printf("n=%zu lost=%d p50=%.1f p99=%.1f\n", n, lost, p50, Percentile(micros, 0.99));
    return 0;
}

int Crowd(const TArguments& a, uint16_t port) {
    const TCrowdResult r = OpenAtOnce(port, a.Text("--path", "/index.html"), a.Number("--count", 1000),
                                      a.Number("--hold-ms", 500), static_cast<pid_t>(a.Number("--pid", 0)));
    int others = 0;
    for (const auto& [status, count] : r.Others) others += count;
    std::printf("ok=%d bad=%d rss_kib=%ld ms=%.0f", r.Answered, others, r.MaxResidentKiB, r.Millis);
    PrintStatuses("status_", r.Others);
    std::printf("\n");
    return 0;
}

// A request that takes long (Bg) and, while it runs, others that should not wait for it.
int During(const TArguments& a, uint16_t port) {
    std::atomic<bool> backgroundDone{false};
    TExchange background;
    std::thread slow([&] {
        background = Exchange(port, GetRequest(a.Text("--bg-path")));
        backgroundDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(a.Number("--delay-ms", 100)));
    // Whether the others were sent while the long one still ran; if not, they show nothing.
    const bool overlapped = !backgroundDone;
    TSeries series;
    const std::string request = GetRequest(a.Text("--path", "/index.html"));
    for (int i = a.Number("--count", 5); i > 0; --i) series.Add(Exchange(port, request));
    slow.join();
    series.Print();
    std::printf(" overlapped=%d bg_us=%.0f bg_status=%d\n", overlapped ? 1 : 0, background.Micros, background.Status);
    return 0;
}

// Normal requests while Slow clients trickle their heads in.
int Slow(const TArguments& a, uint16_t port) {
    std::atomic<bool> stop{false};
    std::atomic<int> reconnects{0};
    std::thread crowd([&] { TrickleClients(port, a.Number("--slow", 300), stop, reconnects); });
    std::this_thread::sleep_for(std::chrono::milliseconds(a.Number("--warm-ms", 3000)));
    TSeries series;
    const std::string request = GetRequest(a.Text("--path", "/index.html"));
    for (int i = a.Number("--count", 10); i > 0; --i) {
        series.Add(Exchange(port, request, 5000));
        std::this_thread::sleep_for(std::chrono::milliseconds(a.Number("--interval-ms", 300)));
    }
    stop = true;
    crowd.join();
    series.Print();
    std::printf(" reconnects=%d\n", reconnects.load());
    return 0;
}

// Normal requests right after a number of refused ones whose clients keep their connections.
int Early(const TArguments& a, uint16_t port) {
    std::map<int, int> statuses;
    const auto start = std::chrono::steady_clock::now();
    const std::vector<int> open = RefusedButOpen(port, a.Text("--method", "DELETE"), a.Number("--early", 64), statuses);
    const double refusedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    TSeries series;
    const std::string request = GetRequest(a.Text("--path", "/index.html"));
    for (int i = a.Number("--count", 3); i > 0; --i) series.Add(Exchange(port, request, 15000));
    for (const int fd : open) ::close(fd);
    series.Print();
    std::printf(" refused_ms=%.0f", refusedMs);
    PrintStatuses("early_", statuses);
    std::printf("\n");
    return 0;
}

// Count requests over Connections clients at once, each taking the comma-separated paths in turn.
int Load(const TArguments& a, uint16_t port) {
    std::vector<std::string> requests;
    const std::string paths = a.Text("--paths", "/index.html");
    for (std::size_t from = 0; from <= paths.size();) {
        const std::size_t comma = std::min(paths.find(',', from), paths.size());
        requests.push_back(GetRequest(paths.substr(from, comma - from)));
        from = comma + 1;
    }
    const int count = a.Number("--count", 1000), clients = std::max(1, a.Number("--connections", 4));
    std::atomic<int> next{0}, bad{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&] {
            for (int i; (i = next++) < count;) {
                // A 404 for the missing file is an answer like any other; none at all, or a 5xx, is not.
                const int status = Exchange(port, requests[static_cast<std::size_t>(i) % requests.size()]).Status;
                if (status == 0 || status >= 500) ++bad;
            }
        });
    for (auto& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("n=%d bad=%d s=%.1f rate=%.0f\n", count, bad.load(), seconds, count / seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: zelto_bench_client seq|udp|crowd|during|slow|early --port P ...\n");
        return 2;
    }
    TArguments a;
    for (int i = 2; i + 1 < argc; i += 2) a.Values[argv[i]] = argv[i + 1];
    const auto port = static_cast<uint16_t>(a.Number("--port", 0));
    const std::string mode = argv[1];
    if (mode == "seq") return Sequential(a, port);
    if (mode == "udp") return UdpRoundTrips(a, port);
    if (mode == "crowd") return Crowd(a, port);
    if (mode == "during") return During(a, port);
    if (mode == "slow") return Slow(a, port);
    if (mode == "early") return Early(a, port);
    if (mode == "load") return Load(a, port);
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
