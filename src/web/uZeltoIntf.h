#pragma once
// TZeltoServer, the request service: cuts a variable request's query into items, turns controller items
// into request variables and keeps the rest as system-variable names, lets the controller proxies write
// and read (one proxy per NAD, created on first use), and writes the response document.
//
// Threads: every operation but LastAccessSnapshot runs on the request thread that holds the request lock,
// one request at a time. Within a request the proxies of different controllers are read side by side on a
// small pool of threads; the proxies of one NAD are read one after the other. LastAccessSnapshot may be
// called from any thread (the status display): it returns copies taken under a small lock, never a pointer
// into the service; a proxy's address and ping result reach it as soon as the ping has its answer.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/TaskPool.h"
#include "base/FormatSettings.h"
#include "net/uEthernetUtils.h"
#include "plc/uZelto.h"
#include "vars/uGadgetVars.h"
#include "web/uSocketBudget.h"
#include "web/uVarResult.h"
#include "web/uXmlText.h"
#include "web/uZeltoStatus.h"

namespace zelto {

enum TOutputType : int { iotText = 0, iotHTML = 1, iotXML = 2 };
enum TCCSStatus : int { ccsReady = 0, ccsBusy = 1 };

// Controllers of one request that are asked at the same time; a request naming more waits for a free
// thread (sixteen silent controllers cost one time-out).
inline constexpr int kMaxParallelReads = 16;

// What the service reads of the program around it.
struct TZeltoServerHost {
    std::function<TDateTime()> ServerStartedAt;  // empty: the service's own creation time
    std::function<int32_t()> ReqCount;           // requests so far, the current one included; empty: 0
    std::string SettingsRoot;                    // settings folder of the sibling's key; empty: the user's
    int MaxParallelReads = kMaxParallelReads;    // controllers of one request read at once (1: one by one)
    int MaxOpenSockets = kMaxOpenSockets;        // controller sockets open at once
    std::chrono::milliseconds SocketIdleTime = kSocketIdleTime;  // a socket unused this long is closed
};

// The items of a variable request's query: cut at every "&"; a backslash right before an "&" is dropped
// (the item still ends there). An empty query has no items; "&" alone has one empty item.
std::vector<std::string> SplitRequestItems(const std::string& InputStr);

// "sys.server_uptime": whole days, " days, ", then the rest as h:mm:ss with the locale's time separator.
std::string FormatServerUptime(TDateTime NowValue, TDateTime StartedAt, const TFormatSettings& fs);

// RequestCount wraps to 0 above this.
inline constexpr int32_t kMaxRequestCount = 2000000000;
// How long "sys.nad_list" listens for controllers, in ms.
inline constexpr int kDetectTimeout = 500;

class TZeltoServer {
public:
    // Creates the lists, chooses the default adapter, then the one the sibling program's settings name.
    explicit TZeltoServer(TZeltoServerHost AHost = {});
    // Frees every proxy (closing their sockets).
    ~TZeltoServer();
    TZeltoServer(const TZeltoServer&) = delete;
    TZeltoServer& operator=(const TZeltoServer&) = delete;

    // The whole variable request: the query text in, the response document out. An ALC line that cannot be
    // parsed raises EAlcParseError.
    std::string ReadVars(const std::string& InputStr);
    // The same request with its answer as a list of entries, for the other answer formats. Counted false:
    // a reading on behalf of a live stream, which leaves the proxies' counters and the list of recently
    // accessed controllers as they are (the stream was counted once, when it opened).
    TVarResults ReadResults(const std::string& InputStr, bool Counted = true);
    // Reads every variable of one controller (through a new proxy) and returns the response document.
    std::string ReadAllVars(int32_t ANAD);
    // Autodetection: the NADs and addresses of the controllers that answer a broadcast ping within 500 ms.
    void ScanZeltos(std::vector<std::string>& NADList, std::vector<std::string>& IPList);
    // Chooses the Q-link adapter by ID; an empty or unknown ID selects the default adapter.
    void SetEthernetAdapter(const std::string& EthernetAdapterID);

    // The steps of ReadVars, public for their tests. ParseRequest is true when an item named a controller.
    bool ParseRequest(const std::string& InputStr);
    std::string BuildResponse();
    std::string FormatGadgetVar(const TGadgetVar& AVar) const;
    std::string FormatSystemVar(const std::string& N);
    // The entries of the current request, in the document's order.
    TVarResults Results();
    TVarResult GadgetResult(const TGadgetVar& AVar) const;
    TVarResult SystemResult(const std::string& N);

    TZeltoList& ZeltoList() { return fZeltoList; }
    TGadgetVarList& GadgetVarList() { return fGadgetVarList; }
    const std::vector<std::string>& SystemVarList() const { return fSystemVarList; }
    TOutputType OutputType() const { return fOutputType; }
    void SetOutputType(TOutputType Value) { fOutputType = Value; }
    // Read-only: write values in requests are dropped, so the variables are only read.
    bool ReadOnly() const { return fReadOnly; }
    void SetReadOnly(bool Value) { fReadOnly = Value; }
    const std::string& Password() const { return fPassword; }
    void SetPassword(const std::string& Value) { fPassword = Value; }
    TCCSStatus Status() const { return fStatus; }
    const TEthernetAdapterInfo& DefaultEthAdapter() const { return *fDefaultEthAdapter; }
    const TEthernetAdapterInfoList& EthAdapterList() const { return *fEthAdapterList; }

    // The controllers most recently accessed (request thread only), and the next slot to fill.
    std::array<TZelto*, 3> LastAccessList{};
    int32_t CurrentAccessIndex = 0;
    // Copies of the three slots for the status display; any thread.
    std::array<std::optional<TZeltoStatus>, 3> LastAccessSnapshot() const;

private:
    void ResetAccessList();
    // Finds or creates the proxy of a NAD and counts the item.
    TZelto* BindItemToZelto(int32_t NAD);
    void EnterAccessList(TZelto* P);
    // Gives every proxy the adapter and the password, then lets it read (ReadAll: every variable, one proxy
    // after the other; else the controllers side by side).
    void ReadPass(bool ReadAll);
    void PrepareZelto(TZelto& P);
    // Copies the access list's proxies for the status display.
    void PublishAccessList();
    // Puts a proxy's address and ping result into the copies of the slots of its NAD (any thread).
    void PublishPingResult(const TZelto& P);
    void ControllerSystemVar(const std::string& N, TVarResult& r);
    std::string Entry(const TVarResult& r) const;

    TZeltoServerHost fHost;
    TZeltoList fZeltoList;
    TGadgetVarList fGadgetVarList;
    std::vector<std::string> fSystemVarList;
    TCCSStatus fStatus = ccsReady;
    TOutputType fOutputType = iotText;
    std::unique_ptr<TEthernetAdapterInfoList> fEthAdapterList;
    std::unique_ptr<TEthernetAdapterInfo> fDefaultEthAdapter;
    std::string fPassword;
    bool fReadOnly = false;
    TDateTime fCreatedAt = 0;
    bool fCounting = true;  // false while a stream's reading runs

    mutable std::mutex fSnapshotLock;
    std::array<std::optional<TZeltoStatus>, 3> fSnapshot;

    // Declared after the proxies, so that both end before a proxy is freed.
    TSocketBudget fSockets;
    TTaskPool fReaders;
};

}  // namespace zelto
