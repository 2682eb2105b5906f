#pragma once
// A small HTTP client for tests, on plain sockets: sends a request exactly as given and reads the answer
// until it is whole (by its Content-Length) or the server closes the connection.
#include <cstdint>
#include <map>
#include <string>

namespace zelto::test {

struct THttpReply {
    int Status = 0;                              // 0 when no status line came
    std::map<std::string, std::string> Headers;  // names in lower case
    std::string Body;
    std::string Raw;
    // The value of a header (name in lower case), empty when it is missing.
    std::string Header(const std::string& name) const {
        const auto it = Headers.find(name);
        return it == Headers.end() ? std::string() : it->second;
    }
};

// A connected socket to 127.0.0.1:port, or -1.
int ConnectLocal(uint16_t port);
// Reads until the peer closes or timeoutMs passes.
std::string ReadAll(int fd, int timeoutMs);
// The length of the first whole answer in raw (interim 1xx answers before it included), or 0 while it is
// not whole; an answer without Content-Length is whole only when the server closes. headOnly: it answers
// a HEAD request (no body).
std::size_t WholeAnswerLength(const std::string& raw, bool headOnly);
// Reads into raw until it holds a whole answer, the peer closes or timeoutMs passes.
void ReadAnswer(int fd, std::string& raw, bool headOnly, int timeoutMs);
// Sends request on a new connection and returns what the server sent: one whole answer, or everything up
// to its close.
std::string SendRaw(uint16_t port, const std::string& request, int timeoutMs = 5000);
THttpReply ParseReply(const std::string& raw);
// "GET <target> HTTP/1.1" with a Host header.
THttpReply Request(uint16_t port, const std::string& method, const std::string& target, const std::string& body = "",
                   const std::string& extraHeaders = "");
inline THttpReply Get(uint16_t port, const std::string& target) { return Request(port, "GET", target); }

}  // namespace zelto::test
