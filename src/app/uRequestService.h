#pragma once
// The seam between the main window and the request service (TZeltoServer). The window talks to the service
// only through IRequestService, so that tests can put a fake in its place and the service can be replaced
// at run time (the setup dialog does that when the Q-link adapter changes).
//
// Threads: ReadVars and ReadResults run on many threads at once (listener workers, the stream reader);
// LastAccessList on the window thread. A request holds the service it started on (shared ownership), so a
// replaced service lives until the last request on it has ended.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/DateTime.h"
#include "web/uControllerService.h"
#include "web/uVarRequest.h"
#include "web/uVarResult.h"
#include "web/uZeltoStatus.h"

namespace zelto {

// A copy of what the status display shows of one controller proxy; copied, so that the display never
// reads a proxy that the service frees meanwhile.
using TControllerStatus = TZeltoStatus;

class IRequestService {
public:
    virtual ~IRequestService() = default;
    // The whole variable request (with its password and read-only switch): the response document in
    // Document, or a refusal, or dropped for a client that left. Unexpected errors throw.
    virtual TVarAnswer ReadVars(const TVarQuery& Query) = 0;
    // The same request with the answer as a list of entries in Results (for JSON and streams).
    virtual TVarAnswer ReadResults(const TVarQuery& Query) = 0;
    // Chooses the Q-link adapter; an empty ID, or one that no adapter has, selects the default adapter.
    virtual void SetEthernetAdapter(const std::string& EthernetAdapterID) = 0;
    // The three controllers of the latest variable request, empty slots as nullopt.
    virtual std::array<std::optional<TControllerStatus>, 3> LastAccessList() const = 0;
};

// The settings the request service is made with (ParallelControllers, MaxRequestItems,
// MaxRequestControllers).
struct TRequestServiceSettings {
    int ParallelControllers = kDefaultParallelControllers;
    TRequestBounds Bounds;
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
    // Read when a service is made.
    virtual TRequestServiceSettings ServiceSettings() const { return {}; }
};

// Creates the request service for a main window; the service keeps the reference for its life. Returns
// nullptr when this build has no request service (variable requests are then answered 503).
using TRequestServiceFactory = std::function<std::unique_ptr<IRequestService>(const IMainWindowState&)>;

// The request service of this build (the XML output type already chosen).
std::unique_ptr<IRequestService> CreateRequestService(const IMainWindowState& window);

}  // namespace zelto
