#pragma once
// One variable request as a value: the query as the handler hands it over (with the password, the
// read-only switch and whether it is counted), and the same query parsed once into request variables and
// server names. The value travels through the controller service; nothing of it is kept in the service
// between requests.
//
// Threads: a value belongs to the request that made it. While the controller service runs it, the
// controllers of the request work on it side by side, each on the request variables of its own NAD only.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vars/uGadgetVars.h"
#include "web/uVarResult.h"

namespace zelto {

// What a variable request asks, as the handler hands it to the request service.
struct TVarQuery {
    std::string Params;    // the query text, cut into items at "&"
    std::string Password;  // the Q-link password the controllers are asked with
    bool ReadOnly = false; // write values are dropped: the variables are only read
    // False for a reading on behalf of the live streams: the controllers' counters and the list of recently
    // accessed controllers stay as they are.
    bool Counted = true;
    // Set by the listener: true once the client's connection has closed (none: the client stays).
    std::shared_ptr<const std::atomic<bool>> GoneFlag;
    bool ClientGone() const { return GoneFlag && GoneFlag->load(); }
};

// A counted query without password, as a client of the seed sends it.
inline TVarQuery PlainQuery(std::string Params) {
    TVarQuery q;
    q.Params = std::move(Params);
    return q;
}

// How a variable request ended.
enum class TVarOutcome {
    Answered,  // Document or Results hold the answer
    Refused,   // over a bound: Refusal says which (answered 400)
    Dropped,   // the client left before a controller's turn came: nothing was asked, nothing counted
};

struct TVarAnswer {
    TVarOutcome Outcome = TVarOutcome::Answered;
    std::string Refusal;
    std::string Document;  // the response document (ReadVars)
    TVarResults Results;   // the entries in the document's order (ReadResults)
};

// The bounds of one request, each a setting with an option of the same meaning.
inline constexpr int kDefaultMaxRequestItems = 1000;
inline constexpr int kDefaultMaxRequestControllers = 64;
struct TRequestBounds {
    int MaxItems = kDefaultMaxRequestItems;              // MaxRequestItems, --max-request-items
    int MaxControllers = kDefaultMaxRequestControllers;  // MaxRequestControllers, --max-request-controllers
};

// The work one request has for one controller.
struct TControllerWork {
    int32_t NAD = 0;
    std::vector<int> Vars;       // indices of its request variables
    std::vector<int> AlcItems;   // indices into SysVars of its "c<N>.sys.alc_file" items
    int CountedItems = 0;        // items that name it (each counts one on its counter)
};

struct TVarRequest {
    TVarQuery Query;
    TGadgetVarList Vars;               // the controller variables, owned, in the request's order
    std::vector<std::string> SysVars;  // everything else, in the request's order
    // The controllers that are read, written or asked for their ALC, in ascending NAD order.
    std::vector<TControllerWork> Controllers;
    // The NADs of the other controller items ("c<N>.sys.…" that asks no controller), each once.
    std::vector<int32_t> NamedOnly;
    // The NAD of every controller item in the request's order (for the list of recently accessed ones).
    std::vector<int32_t> Named;
    std::string Refusal;  // not empty: the request is over a bound and runs nothing
};

// The items of a variable request's query: cut at every "&"; a backslash right before an "&" is dropped
// (the item still ends there). An empty query has no items; "&" alone has one empty item.
std::vector<std::string> SplitRequestItems(const std::string& InputStr);

// Sorts each item into a request variable, a server name, or nothing (an item "c<x>.…" whose <x> is no
// number is dropped). A read-only query keeps no write value. Positions of "." are taken before the value
// part is cut off, so a "." in the value counts. Beyond a bound the request is refused before any item is
// kept.
TVarRequest ParseVarRequest(TVarQuery Query, const TRequestBounds& Bounds = {});

// True for a name of the server's or a controller's system variables ("sys.…", "c10.sys.…").
bool NamesSystemVar(const std::string& s);
// "c10.sys.alc_file" and the NAD it names; false for anything else.
bool NamesAlcFile(const std::string& s, int32_t& NAD);

}  // namespace zelto
