#include "BenchHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace zelto::bench {

std::string GetRequest(const std::string& Path) {
    return "GET " + Path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: zelto-bench\r\nConnection: close\r\n\r\n";
}

sockaddr_in LoopbackAddress(uint16_t Port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(Port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int ConnectLoopback(uint16_t Port, bool NonBlocking) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | (NonBlocking ? SOCK_NONBLOCK : 0), 0);
    if (fd < 0) return -1;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in a = LoopbackAddress(Port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int StatusOf(const std::string& Answer) {
    // "HTTP/1.x NNN"
    if (Answer.size() < 12 || Answer.compare(0, 5, "HTTP/") != 0) return 0;
    const std::size_t space = Answer.find(' ');
    if (space == std::string::npos || space + 4 > Answer.size()) return 0;
    int status = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        if (Answer[i] < '0' || Answer[i] > '9') return 0;
        status = status * 10 + (Answer[i] - '0');
    }
    return status;
}

TExchange Exchange(uint16_t Port, const std::string& Request, int TimeoutMs) {
    using clock = std::chrono::steady_clock;
    TExchange result;
    const auto start = clock::now();
    const int fd = ConnectLoopback(Port, false);
    std::string answer;
    if (fd >= 0) {
        timeval tv{TimeoutMs / 1000, (TimeoutMs % 1000) * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (::send(fd, Request.data(), Request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(Request.size())) {
            char buffer[16384];
            ssize_t n;
            while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fd);
    }
    result.Micros = std::chrono::duration<double, std::micro>(clock::now() - start).count();
    result.Status = StatusOf(answer);
    result.Bytes = answer.size();
    return result;
}

double Percentile(std::vector<double>& Samples, double Share) {
    if (Samples.empty()) return 0;
    std::sort(Samples.begin(), Samples.end());
    const auto rank = static_cast<std::size_t>(std::ceil(Share * static_cast<double>(Samples.size())));
    return Samples[std::min(Samples.size(), std::max<std::size_t>(rank, 1)) - 1];
}

long ResidentKiB(pid_t Pid) {
    std::ifstream status("/proc/" + std::to_string(Pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace zelto::bench
