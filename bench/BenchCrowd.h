#pragma once
// Clients that come in numbers: many connections open at once, clients that send a byte a second, and
// clients whose requests are refused early but who keep their connections.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zelto::bench {

struct TCrowdResult {
    int Answered = 0;              // answers with status 200
    std::map<int, int> Others;     // other answers by status; 0 = no answer at all
    long MaxResidentKiB = 0;       // the largest resident set of the watched process seen meanwhile
    double Millis = 0;             // from the first connect to the last answer
};

// Opens Count connections to 127.0.0.1:Port and sends each a GET of Path without the blank line that ends
// its head; once all are open, holds them HoldMs, then ends every head and reads every answer. Watches the
// resident set of process Pid throughout.
TCrowdResult OpenAtOnce(uint16_t Port, const std::string& Path, int Count, int HoldMs, pid_t Pid);

// Count clients that send a request head one byte a second and never finish it; a client whose connection
// is closed connects again. Runs until Stop is set; Reconnects counts the connections that were closed.
void TrickleClients(uint16_t Port, int Count, const std::atomic<bool>& Stop, std::atomic<int>& Reconnects);

// Count connections that each send one request with Method and read its answer's head, then stay open.
// Statuses collects the answers' status codes (0: none within TimeoutMs); the open sockets are returned.
std::vector<int> RefusedButOpen(uint16_t Port, const std::string& Method, int Count, std::map<int, int>& Statuses,
                                int TimeoutMs = 2000);

}  // namespace zelto::bench
