#pragma once
// The checks a request passes before the server does anything for it, after the allow list: its Host must
// be one of the server's own names (a page whose name was rebound to this machine cannot read or write
// as if it were the server's own page), a request that would write a controller variable must not come
// from a page of another site, and with WriteHeader it must carry "X-Zelto-Write: 1", which a page of
// another site can send only after a preflight the server answers for listed origins alone. Scripts that
// send no browser headers pass as before.
//
// Threads: the checks are pure and TRequestSafety is read-only after construction; the handler calls
// Refuses on the listener's worker threads, several at once.
#include <string>
#include <string_view>
#include <vector>

#include "platform/uHttpListener.h"
#include "web/uCrossOrigin.h"

namespace zelto {

// The names a client may use for this server besides IP literals and localhost.
struct THostNames {
    bool Any = false;                // AllowHost "*": every Host is accepted
    std::vector<std::string> Names;  // lower case, without trailing dot
};

// What decides the checks.
struct TRequestSafetySettings {
    THostNames Hosts;
    TCrossOrigin AllowOrigin;  // the origins whose pages may also write
    bool WriteHeader = false;  // every write needs "X-Zelto-Write: 1"
    bool ReadOnly = false;     // nothing writes, so no write is refused
};

// A refusal: status 0 means the request may go on.
struct TRequestRefusal {
    int Status = 0;
    std::string Text;
};

inline constexpr const char* kWriteHeaderName = "X-Zelto-Write";

// Reads an AllowHost setting: names separated by commas or blanks, "*" for any. Returns "" or the reason
// the text cannot be used (an entry that is a URL rather than a name).
std::string ParseAllowHost(std::string_view Text, THostNames& Hosts);

// The machine's own names: its host name short and fully qualified, and "<short>.local" (lower case).
std::vector<std::string> MachineHostNames();

// Whether a Host header value names this server: an IPv4 or bracketed IPv6 literal, localhost (or a name
// under .localhost), or one of Hosts, each with or without a port.
bool IsServerHost(std::string_view Host, const THostNames& Hosts);

// Whether a variable request's parameter text writes: an item c<NAD>.<name>=<number>.
bool WouldWrite(const std::string& Params);

// The checks in their order: Host, then (for a request that would write) the other site, then the
// write header.
TRequestRefusal CheckRequest(const THttpRequestInfo& Request, const TRequestSafetySettings& Settings);

// The parameter text with the value of every "password=" replaced by "***", for the log.
std::string MaskPasswords(std::string_view Params);

class TRequestSafety {
public:
    explicit TRequestSafety(TRequestSafetySettings Settings) : fSettings(std::move(Settings)) {}
    // When the request is refused: sets the answer, logs the refusal and returns true.
    bool Refuses(const THttpRequestInfo& Request, THttpResponseInfo& Response) const;

private:
    TRequestSafetySettings fSettings;
};

}  // namespace zelto
