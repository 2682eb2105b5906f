// The floors of the benchmark: what one HTTP exchange and one UDP round trip cost on this machine when the
// program in between does as little as a program can.
//
//   zelto_bench_floor --http-port P --udp-port U --file F
//
// One thread, one epoll set. TCP: each connection is read until its request head ends, answered with the
// file (200, Connection: close) and closed. UDP: every datagram goes back to its sender unchanged.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unordered_map>

#include "BenchHttp.h"

namespace {

struct TConnection {
    std::string Head;     // bytes of the request read so far
    std::size_t Sent = 0; // bytes of the answer written so far; answering once the head is whole
    bool Answering = false;
};

int OpenSocket(int type, uint16_t port) {
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in a = zelto::bench::LoopbackAddress(port);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    if (type == SOCK_STREAM && ::listen(fd, 4096) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    return fd;
}

// Writes what is left of the answer; true when the connection is finished (all written, or broken).
bool WriteAnswer(int fd, TConnection& c, const std::string& answer) {
    while (c.Sent < answer.size()) {
        const ssize_t n = ::send(fd, answer.data() + c.Sent, answer.size() - c.Sent, MSG_NOSIGNAL);
        if (n < 0) return errno != EAGAIN;
        c.Sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    uint16_t httpPort = 0, udpPort = 0;
    std::string file;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--http-port") httpPort = static_cast<uint16_t>(std::atoi(argv[i + 1]));
        else if (name == "--udp-port") udpPort = static_cast<uint16_t>(std::atoi(argv[i + 1]));
        else if (name == "--file") file = argv[i + 1];
    }
    std::ifstream in(file, std::ios::binary);
    if (httpPort == 0 || udpPort == 0 || !in) {
        std::fprintf(stderr, "usage: zelto_bench_floor --http-port P --udp-port U --file F\n");
        return 2;
    }
    const std::string body{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string answer = "HTTP/1.1 200 OK\r\nServer: floor\r\nContent-Type: text/html\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;

    const int listener = OpenSocket(SOCK_STREAM, httpPort);
    const int udp = OpenSocket(SOCK_DGRAM, udpPort);
    const int ep = ::epoll_create1(0);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listener;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, listener, &ev);
    ev.data.fd = udp;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, udp, &ev);
    std::printf("floor: http %u, udp %u\n", httpPort, udpPort);
    std::fflush(stdout);

    std::unordered_map<int, TConnection> connections;
    epoll_event events[256];
    char buffer[65536];
    for (;;) {
        const int count = ::epoll_wait(ep, events, 256, -1);
        for (int e = 0; e < count; ++e) {
            const int fd = events[e].data.fd;
            if (fd == udp) {
                sockaddr_in from{};
                socklen_t fromLen = sizeof from;
                ssize_t n;
                while ((n = ::recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen)) >= 0) {
                    ::sendto(udp, buffer, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
                    fromLen = sizeof from;
                }
                continue;
            }
            if (fd == listener) {
                int c;
                while ((c = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) {
                    const int one = 1;
                    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    connections[c] = TConnection{};
                    epoll_event ce{};
                    ce.events = EPOLLIN | EPOLLRDHUP;
                    ce.data.fd = c;
                    ::epoll_ctl(ep, EPOLL_CTL_ADD, c, &ce);
                }
                continue;
            }
            auto it = connections.find(fd);
            if (it == connections.end()) continue;
            TConnection& c = it->second;
            bool finished = false;
            if (!c.Answering) {
                for (;;) {
                    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                    if (n > 0) {
                        c.Head.append(buffer, static_cast<std::size_t>(n));
                        continue;
                    }
                    if (n == 0 || errno != EAGAIN) finished = true;
                    break;
                }
                if (c.Head.find("\r\n\r\n") != std::string::npos) {
                    c.Answering = true;
                    finished = WriteAnswer(fd, c, answer);
                    if (!finished) {
                        epoll_event ce{};
                        ce.events = EPOLLOUT;
                        ce.data.fd = fd;
                        ::epoll_ctl(ep, EPOLL_CTL_MOD, fd, &ce);
                    }
                }
            } else {
                finished = WriteAnswer(fd, c, answer);
            }
            if (finished) {
                ::close(fd);  // also leaves the epoll set
                connections.erase(it);
            }
        }
    }
}
