#include "platform/TestHttpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <chrono>

namespace zelto::test {

int ConnectLocal(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

namespace {

// Reads into out until done(out) holds, the peer closes or timeoutMs passes.
template <typename TDone>
void ReadUntil(int fd, std::string& out, int timeoutMs, TDone done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done(out)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
        char buf[65536];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

}  // namespace

std::string ReadAll(int fd, int timeoutMs) {
    std::string out;
    ReadUntil(fd, out, timeoutMs, [](const std::string&) { return false; });
    return out;
}

std::size_t WholeAnswerLength(const std::string& raw, bool headOnly) {
    std::size_t from = 0;
    for (;;) {
        const auto end = raw.find("\r\n\r\n", from);
        if (end == std::string::npos || raw.compare(from, 7, "HTTP/1.") != 0 || raw.size() < from + 12) return 0;
        const int status = std::atoi(raw.c_str() + from + 9);
        const std::size_t bodyStart = end + 4;
        if (status >= 100 && status < 200) {
            from = bodyStart;  // an interim answer; the real one follows
            continue;
        }
        if (headOnly || status == 204 || status == 304) return bodyStart;
        std::string head = raw.substr(from, bodyStart - from);
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const auto at = head.find("\r\ncontent-length:");
        if (at == std::string::npos) return 0;
        const std::size_t length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
        return raw.size() >= bodyStart + length ? bodyStart + length : 0;
    }
}

void ReadAnswer(int fd, std::string& raw, bool headOnly, int timeoutMs) {
    ReadUntil(fd, raw, timeoutMs, [&](const std::string& r) { return WholeAnswerLength(r, headOnly) > 0; });
}

std::string SendRaw(uint16_t port, const std::string& request, int timeoutMs) {
    const int fd = ConnectLocal(port);
    if (fd < 0) return "";
    std::size_t done = 0;
    while (done < request.size()) {
        const ssize_t n = ::send(fd, request.data() + done, request.size() - done, MSG_NOSIGNAL);
        if (n <= 0) break;  // the server may answer and close before it has read everything
        done += static_cast<std::size_t>(n);
    }
    std::string reply;
    ReadAnswer(fd, reply, request.rfind("HEAD ", 0) == 0, timeoutMs);
    ::close(fd);
    return reply;
}

THttpReply ParseReply(const std::string& raw) {
    THttpReply r;
    r.Raw = raw;
    const auto end = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return r;
    r.Status = std::stoi(raw.substr(9, 3));
    std::size_t pos = raw.find("\r\n") + 2;
    while (pos < end) {
        const auto eol = raw.find("\r\n", pos);
        const std::string line = raw.substr(pos, eol - pos);
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            std::string value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') value.erase(0, 1);
            r.Headers[name] = value;
        }
        pos = eol + 2;
    }
    r.Body = raw.substr(end + 4);
    return r;
}

THttpReply Request(uint16_t port, const std::string& method, const std::string& target, const std::string& body,
                   const std::string& extraHeaders) {
    std::string req = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders;
    if (!body.empty() || method == "POST") req += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    req += "\r\n" + body;
    return ParseReply(SendRaw(port, req));
}

}  // namespace zelto::test
