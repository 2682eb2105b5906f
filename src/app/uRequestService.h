#pragma once
// The seam between the main window and the request service (TZeltoServer). The window talks to the service
// only through IRequestService, so that tests can put a fake in its place and the service can be replaced
// at run time (the setup dialog does that when the Q-link adapter changes).
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/DateTime.h"
#include "web/uVarResult.h"
#include "web/uZeltoStatus.h"

namespace zelto {

// A copy of what the status display shows of one controller proxy; copied, so that the display never
// reads a proxy that the service frees meanwhile.
using TControllerStatus = TZeltoStatus;

class IRequestService {
public:
    virtual ~IRequestService() = default;
    // The Q-link password, written before each variable request.
    virtual void SetPassword(const std::string& Password) = 0;
    // The whole variable request: the query text in, the response document out. Unexpected errors throw.
    virtual std::string ReadVars(const std::string& InputStr) = 0;
    // The same request with the answer as a list of entries (for JSON and streams). Counted false: a
    // reading for the live streams, which leaves the controllers' counters and the access list alone.
    virtual TVarResults ReadResults(const std::string& InputStr, bool Counted) = 0;
    // Chooses the Q-link adapter; an empty ID, or one that no adapter has, selects the default adapter.
    virtual void SetEthernetAdapter(const std::string& EthernetAdapterID) = 0;
    // The three controllers of the latest variable request, empty slots as nullopt.
    virtual std::array<std::optional<TControllerStatus>, 3> LastAccessList() const = 0;
};

// What the request service reads of the main window: the start time (sys.server_uptime) and the request
// count including the current request (sys.http_request_count). Both may be read from any thread.
class IMainWindowState {
public:
    virtual ~IMainWindowState() = default;
    virtual TDateTime ServerStartedAt() const = 0;
    virtual int32_t ReqCount() const = 0;
    // Whether write values in requests are dropped, so that variables are only read.
    virtual bool ReadOnly() const { return false; }
};

// Creates the request service for a main window; the service keeps the reference for its life. Returns
// nullptr when this build has no request service (variable requests are then answered 503).
using TRequestServiceFactory = std::function<std::unique_ptr<IRequestService>(const IMainWindowState&)>;

// The request service of this build (the XML output type already chosen).
std::unique_ptr<IRequestService> CreateRequestService(const IMainWindowState& window);

}  // namespace zelto
