#pragma once
// One timed HTTP exchange over loopback as a browser without keep-alive makes it: connect, send the
// request, read until the server closes; or, as a browser with keep-alive makes it, over one connection
// kept between exchanges. Also the small arithmetic the benchmark's figures share.
#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zelto::bench {

struct TExchange {
    int Status = 0;          // the status code of the answer; 0 when none came (refused, reset, time-out)
    double Micros = 0;       // from before connect until the server closed the connection
    std::size_t Bytes = 0;   // bytes of the answer, head included
};

// A GET of Path with "Connection: close" (without it when KeepAlive).
std::string GetRequest(const std::string& Path, bool KeepAlive = false);
// One exchange with 127.0.0.1:Port; gives up after TimeoutMs without progress.
TExchange Exchange(uint16_t Port, const std::string& Request, int TimeoutMs = 30000);
// Exchanges over one connection to 127.0.0.1:Port, opened by the first and again after the server closed it.
class TKeptConnection {
public:
    explicit TKeptConnection(uint16_t Port) : fPort(Port) {}
    ~TKeptConnection();
    TKeptConnection(const TKeptConnection&) = delete;
    TKeptConnection& operator=(const TKeptConnection&) = delete;
    // One exchange: the answer is whole by its Content-Length (or the server's close).
    TExchange Exchange(const std::string& Request, int TimeoutMs = 30000);

private:
    uint16_t fPort;
    int fFd = -1;
};

// The length of the first answer in Bytes when it is whole by its Content-Length; 0 while it is not (or
// has none).
std::size_t WholeAnswerLength(const std::string& Bytes);
// The status code on the first line of an answer ("HTTP/1.1 200 OK" gives 200); 0 when the bytes hold none.
int StatusOf(const std::string& Answer);
// 127.0.0.1:Port.
sockaddr_in LoopbackAddress(uint16_t Port);
// A socket connecting to 127.0.0.1:Port; -1 when it cannot be made. Non-blocking sockets return at once.
int ConnectLoopback(uint16_t Port, bool NonBlocking);

// The value below which the given share (0.5, 0.99) of the samples lie; 0 for none. Sorts Samples.
double Percentile(std::vector<double>& Samples, double Share);
// The resident set of a process in KiB (VmRSS); 0 when it cannot be read.
long ResidentKiB(pid_t Pid);
// Lets this process hold as many descriptors as its hard limit allows.
void RaiseDescriptorLimit();

}  // namespace zelto::bench
