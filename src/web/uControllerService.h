#pragma once
// The controller service: the one owner of controller work. It keeps one record per controller NAD (the
// proxy, its queue and what the status display shows of it), the bound on open sockets, the bound on
// exchanges running at once and the threads that ask the controllers of one request side by side.
//
// Requests that name the same controller take turns on it in the order they came (its exchanges stay one
// at a time and in order); requests for different controllers run side by side. A request that waited
// while the request before it found the controller silent answers at once, without a time-out of its own.
// A request whose client has left does nothing at its turn. Records are made only for controllers that a
// request reads, writes or asks for its ALC; beyond MaxRecords the one unused longest is dropped.
//
// Threads: Run, Scan, Proxy and LastAccessSnapshot may be called from any thread, Run from many at once.
// A record's proxy is worked on only by the request whose turn it is (its turn is the proxy's lock); the
// counters and the copies for the status display change under a small lock of their own. Exclusive waits
// for the requests inside (TRequestScope) and holds new ones back while its change runs.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/TaskPool.h"
#include "net/uEthernetUtils.h"
#include "plc/uZelto.h"
#include "web/uSocketBudget.h"
#include "web/uVarRequest.h"
#include "web/uZeltoStatus.h"

namespace zelto {

// Exchanges in the whole server at once (ParallelControllers, --parallel-controllers).
inline constexpr int kDefaultParallelControllers = 16;
// Controller records kept at most.
inline constexpr int kMaxControllerRecords = 1024;
// How long "sys.nad_list" listens for controllers, in ms.
inline constexpr int kDetectTimeout = 500;
// RequestCount wraps to 0 above this.
inline constexpr int32_t kMaxRequestCount = 2000000000;
// The error of a controller that did not answer its ping.
inline constexpr const char* kNotResponding = "PLC not responding!";

struct TControllerServiceOptions {
    int ParallelControllers = kDefaultParallelControllers;  // 1: one exchange at a time in the whole server
    int MaxRecords = kMaxControllerRecords;
    int MaxOpenSockets = kMaxOpenSockets;
    std::chrono::milliseconds SocketIdleTime = kSocketIdleTime;
};

// Bounds the exchanges that run at once. A controller that did not answer its last exchange (or was never
// asked) is a suspect: suspects share all but a quarter of the places (at least one), so that controllers
// that answer always find a place while silent ones wait out their time-outs. With one place, suspects
// and the others share it: exactly one exchange at a time.
class TExchangeSlots {
public:
    explicit TExchangeSlots(int Max);
    void Acquire(bool Suspect);
    void Release(bool Suspect);

private:
    const int fMax;
    const int fSuspectMax;
    std::mutex fLock;
    std::condition_variable fFreed;
    int fUsed = 0;
    int fSuspectsUsed = 0;
};

// What the controllers gave one request.
struct TControllerRun {
    bool Dropped = false;  // the client left before a controller's turn: the request is not answered
    std::vector<std::optional<TVarResult>> VarResults;  // by request variable; set for every one asked
    std::map<int, TVarResult> AlcResults;               // by index into SysVars
};

// The entry of a request variable: the bound controller variable's value, or "?" with the reason (a
// controller that failed on its way to the ready state gives its own).
TVarResult VarResultOf(const TGadgetVar& AVar, const TZelto* Proxy);

class TControllerService {
public:
    // Adapter and Adapters outlive the service; every proxy sends through them.
    TControllerService(TControllerServiceOptions Options, const TEthernetAdapterInfo* Adapter,
                       const TEthernetAdapterInfoList* Adapters);
    // Frees every record (closing the sockets); no request may run.
    ~TControllerService();
    TControllerService(const TControllerService&) = delete;
    TControllerService& operator=(const TControllerService&) = delete;

    // Writes, then reads each controller of the request in its turn (the controllers side by side), loads
    // the ALC of its "c<N>.sys.alc_file" items, and counts what a counted request served. An ALC line that
    // cannot be parsed raises EAlcParseError once every controller of the request has ended.
    TControllerRun Run(TVarRequest& Request);
    // "sys.nad_list": the controllers that answer a broadcast ping within 500 ms. One broadcast at a time;
    // a request that comes while one runs takes its result.
    void Scan(const TVarQuery& Query, std::vector<std::string>& NADList, std::vector<std::string>& IPList);

    // Puts a proxy in the place of the record of its NAD (tests put proxies on scripted sockets here).
    // Not while a request runs.
    void AddProxy(std::unique_ptr<TZelto> P);
    // The proxy of a NAD or nullptr; for tests and tools, not while a request runs.
    TZelto* Proxy(int32_t NAD) const;
    int RecordCount() const;
    int OpenSockets() const { return fSockets.OpenCount(); }
    // Copies of the three controllers of the latest counted request, for the status display.
    std::array<std::optional<TZeltoStatus>, 3> LastAccessSnapshot() const;

    // Marks a request (with everything it reads of the service) as running.
    class TRequestScope {
    public:
        explicit TRequestScope(TControllerService& S);
        ~TRequestScope();
        TRequestScope(const TRequestScope&) = delete;
        TRequestScope& operator=(const TRequestScope&) = delete;

    private:
        TControllerService& fService;
    };
    // Lets the requests inside finish, holds new ones back, runs Change, and lets them go.
    void Exclusive(const std::function<void()>& Change);
    // Requests inside now.
    int Running() const;

private:
    struct TRecord;
    // The records of the request's controllers (made when missing) and of its other named controllers
    // (when they exist), held until ReleaseRecords.
    void HoldRecords(const TVarRequest& R, std::vector<TRecord*>& Work, std::vector<TRecord*>& Named);
    void ReleaseRecords(const std::vector<TRecord*>& Records);
    void DropUnusedOverCap();  // under fRecordsLock
    TRecord& NewRecord(std::unique_ptr<TZelto> P);  // under fRecordsLock
    // One controller's part of a request, in its turn.
    void Turn(TRecord& Rec, uint64_t Ticket, std::chrono::steady_clock::time_point Joined, TVarRequest& R,
              const TControllerWork& W, TControllerRun& Out, bool& Dropped);
    // Sets the list of recently accessed controllers to a counted request's and counts its items that
    // ask no controller.
    void EnterAccessList(const TVarRequest& R, const std::vector<TRecord*>& Work, const std::vector<TRecord*>& Named);
    void Count(TRecord& Rec, int Items);                    // under fAccessLock
    void PublishStatus(const TZeltoStatus& S);              // under fAccessLock

    const TControllerServiceOptions fOptions;
    const TEthernetAdapterInfo* fAdapter;
    const TEthernetAdapterInfoList* fAdapters;

    mutable std::mutex fRecordsLock;
    std::unordered_map<int32_t, std::unique_ptr<TRecord>> fRecords;
    std::list<int32_t> fLru;  // most recently used first

    mutable std::mutex fAccessLock;
    std::array<std::optional<TZeltoStatus>, 3> fSnapshot;

    std::mutex fScanLock;
    std::condition_variable fScanDone;
    bool fScanning = false;
    uint64_t fScanGeneration = 0;
    std::vector<std::string> fScanNADs, fScanIPs;

    mutable std::mutex fGateLock;
    std::condition_variable fGateChanged;
    int fInside = 0;
    bool fExclusive = false;

    TExchangeSlots fSlots;
    // Declared after the records, so that both end before a proxy is freed.
    TSocketBudget fSockets;
    TTaskPool fReaders;
};

}  // namespace zelto
