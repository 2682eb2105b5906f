#include "BenchHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace zelto::bench {

std::string GetRequest(const std::string& Path, bool KeepAlive) {
    return "GET " + Path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: zelto-bench\r\n" +
           (KeepAlive ? "" : "Connection: close\r\n") + "\r\n";
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

std::size_t WholeAnswerLength(const std::string& Bytes) {
    const std::size_t end = Bytes.find("\r\n\r\n");
    if (end == std::string::npos) return 0;
    std::string head = Bytes.substr(0, end + 2);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t at = head.find("\r\ncontent-length:");
    if (at == std::string::npos) return 0;
    const std::size_t whole = end + 4 + std::strtoul(head.c_str() + at + 17, nullptr, 10);
    return Bytes.size() >= whole ? whole : 0;
}

TKeptConnection::~TKeptConnection() {
    if (fFd >= 0) ::close(fFd);
}

TExchange TKeptConnection::Exchange(const std::string& Request, int TimeoutMs) {
    using clock = std::chrono::steady_clock;
    TExchange result;
    const auto start = clock::now();
    if (fFd < 0) {
        fFd = ConnectLoopback(fPort, false);
        timeval tv{TimeoutMs / 1000, (TimeoutMs % 1000) * 1000};
        ::setsockopt(fFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fFd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    }
    std::string answer;
    bool closed = true;
    if (fFd >= 0 && ::send(fFd, Request.data(), Request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(Request.size())) {
        char buffer[16384];
        ssize_t n = 0;
        while (WholeAnswerLength(answer) == 0 && (n = ::recv(fFd, buffer, sizeof buffer, 0)) > 0)
            answer.append(buffer, static_cast<std::size_t>(n));
        closed = n <= 0 || answer.find("\r\nConnection: close\r\n") != std::string::npos;
    }
    if (closed && fFd >= 0) {
        ::close(fFd);
        fFd = -1;
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
