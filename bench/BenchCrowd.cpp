#include "BenchCrowd.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "BenchHttp.h"

namespace zelto::bench {

namespace {

using TClock = std::chrono::steady_clock;

double MillisSince(TClock::time_point start) {
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

// Reads what the socket holds into Answer; true when the server closed it (or it broke).
bool Drain(int fd, std::string& Answer) {
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            Answer.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        return n == 0 || errno != EAGAIN;
    }
}

struct TCrowdMember {
    int Fd = -1;
    bool Sent = false;  // the head without its end is out
    bool Done = false;
    std::string Answer;
};

}  // namespace

TCrowdResult OpenAtOnce(uint16_t Port, const std::string& Path, int Count, int HoldMs, pid_t Pid) {
    RaiseDescriptorLimit();
    TCrowdResult result;
    const std::string request = GetRequest(Path);
    const std::string head = request.substr(0, request.size() - 2);  // the last "\r\n" follows after the hold
    const int ep = ::epoll_create1(0);
    std::vector<TCrowdMember> members(static_cast<std::size_t>(Count));
    const auto start = TClock::now();
    int pending = Count;  // members that are neither sent nor done
    for (int i = 0; i < Count; ++i) {
        TCrowdMember& m = members[static_cast<std::size_t>(i)];
        m.Fd = ConnectLoopback(Port, true);
        if (m.Fd < 0) {
            m.Done = true;
            --pending;
            continue;
        }
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP;
        ev.data.u32 = static_cast<uint32_t>(i);
        ::epoll_ctl(ep, EPOLL_CTL_ADD, m.Fd, &ev);
    }
    auto finish = [&](TCrowdMember& m) {
        if (!m.Sent) --pending;
        m.Done = true;
        ::close(m.Fd);
    };
    // Runs the event loop until Until() holds or LimitMs pass, watching the resident set.
    std::vector<epoll_event> events(1024);
    auto run = [&](auto Until, double LimitMs) {
        const auto phase = TClock::now();
        while (!Until() && MillisSince(phase) < LimitMs) {
            const int n = ::epoll_wait(ep, events.data(), static_cast<int>(events.size()), 10);
            for (int e = 0; e < n; ++e) {
                TCrowdMember& m = members[events[static_cast<std::size_t>(e)].data.u32];
                if (m.Done) continue;
                const uint32_t what = events[static_cast<std::size_t>(e)].events;
                if ((what & EPOLLOUT) && !m.Sent) {
                    m.Sent = ::send(m.Fd, head.data(), head.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(head.size());
                    if (!m.Sent) {
                        finish(m);
                        continue;
                    }
                    --pending;
                    epoll_event ev{};
                    ev.events = EPOLLIN | EPOLLRDHUP;
                    ev.data.u32 = events[static_cast<std::size_t>(e)].data.u32;
                    ::epoll_ctl(ep, EPOLL_CTL_MOD, m.Fd, &ev);
                }
                if ((what & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP)) && Drain(m.Fd, m.Answer)) finish(m);
            }
            if (Pid > 0) result.MaxResidentKiB = std::max(result.MaxResidentKiB, ResidentKiB(Pid));
        }
    };
    run([&] { return pending == 0; }, 10000);
    run([] { return false; }, HoldMs);
    for (auto& m : members)
        if (!m.Done && m.Sent) ::send(m.Fd, "\r\n", 2, MSG_NOSIGNAL);
    auto allDone = [&] {
        for (const auto& m : members)
            if (!m.Done) return false;
        return true;
    };
    run(allDone, 30000);
    result.Millis = MillisSince(start);
    for (auto& m : members) {
        if (!m.Done) ::close(m.Fd);
        const int status = StatusOf(m.Answer);
        if (status == 200) ++result.Answered;
        else ++result.Others[status];
    }
    ::close(ep);
    return result;
}

void TrickleClients(uint16_t Port, int Count, const std::atomic<bool>& Stop, std::atomic<int>& Reconnects) {
    RaiseDescriptorLimit();
    // A head that never ends: after the request line, one header whose value grows a byte a second.
    const std::string stream = "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    struct TTrickle {
        int Fd = -1;
        std::size_t Position = 0;
        TClock::time_point Next;
    };
    std::vector<TTrickle> clients(static_cast<std::size_t>(Count));
    const auto start = TClock::now();
    for (std::size_t i = 0; i < clients.size(); ++i) {
        // Spread over the first second, so that the bytes arrive evenly.
        clients[i].Next = start + std::chrono::milliseconds(static_cast<int>(1000 * i / clients.size()));
    }
    std::vector<pollfd> polls(clients.size());
    while (!Stop) {
        const auto now = TClock::now();
        for (auto& c : clients) {
            if (now < c.Next) continue;
            if (c.Fd < 0) {
                c.Fd = ConnectLoopback(Port, true);
                c.Position = 0;
            }
            const char byte = c.Position < stream.size() ? stream[c.Position] : 'a';
            const ssize_t n = c.Fd < 0 ? -1 : ::send(c.Fd, &byte, 1, MSG_NOSIGNAL);
            if (n == 1) ++c.Position;
            if (n < 0 && errno != EAGAIN && c.Fd >= 0) {
                ::close(c.Fd);
                c.Fd = -1;
                ++Reconnects;
            }
            c.Next = now + std::chrono::seconds(1);
        }
        // Whatever the server sends is read and dropped; a closed connection is opened anew next second.
        for (std::size_t i = 0; i < clients.size(); ++i) polls[i] = pollfd{clients[i].Fd, POLLIN, 0};
        ::poll(polls.data(), polls.size(), 20);
        for (std::size_t i = 0; i < clients.size(); ++i) {
            std::string ignored;
            if (polls[i].fd >= 0 && (polls[i].revents & (POLLIN | POLLHUP | POLLERR)) && Drain(clients[i].Fd, ignored)) {
                ::close(clients[i].Fd);
                clients[i].Fd = -1;
                ++Reconnects;
            }
        }
    }
    for (auto& c : clients)
        if (c.Fd >= 0) ::close(c.Fd);
}

std::vector<int> RefusedButOpen(uint16_t Port, const std::string& Method, int Count, std::map<int, int>& Statuses,
                                int TimeoutMs) {
    RaiseDescriptorLimit();
    const std::string request = Method + " /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: zelto-bench\r\n\r\n";
    std::vector<int> fds;
    for (int i = 0; i < Count; ++i) {
        const int fd = ConnectLoopback(Port, false);
        if (fd < 0) {
            ++Statuses[0];
            continue;
        }
        fds.push_back(fd);
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    }
    // The answers' heads; the connections stay as they are, as a client does that has not closed them yet.
    for (const int fd : fds) {
        std::string answer;
        const auto start = TClock::now();
        while (answer.find("\r\n\r\n") == std::string::npos && MillisSince(start) < TimeoutMs) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, TimeoutMs) <= 0) break;
            char buffer[4096];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            answer.append(buffer, static_cast<std::size_t>(n));
        }
        ++Statuses[StatusOf(answer)];
    }
    return fds;
}

}  // namespace zelto::bench
