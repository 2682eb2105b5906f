#pragma once
// TZeltoServer, the request service: parses a variable request once into a value (uVarRequest), hands
// its controller work to the controller service (uControllerService), answers the server's own names, and
// writes the response document. It keeps no request's state between requests.
//
// Threads: ReadVars, ReadResults, ReadAllVars and ScanZeltos may run on many threads at once; each request
// waits only for the controllers it names. SetEthernetAdapter lets the requests inside finish and holds
// new ones back while the adapter changes. LastAccessSnapshot may be called from any thread (the status
// display): it returns copies, never a pointer into the service. The output type is chosen before the
// first request.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/FormatSettings.h"
#include "net/uEthernetUtils.h"
#include "vars/uGadgetVars.h"
#include "web/uControllerService.h"
#include "web/uVarRequest.h"
#include "web/uVarResult.h"
#include "web/uXmlText.h"
#include "web/uZeltoStatus.h"

namespace zelto {

enum TOutputType : int { iotText = 0, iotHTML = 1, iotXML = 2 };
enum TCCSStatus : int { ccsReady = 0, ccsBusy = 1 };

// What the service reads of the program around it.
struct TZeltoServerHost {
    std::function<TDateTime()> ServerStartedAt;  // empty: the service's own creation time
    std::function<int32_t()> ReqCount;           // requests so far, the current one included; empty: 0
    std::string SettingsRoot;                    // settings folder of the sibling's key; empty: the user's
    int ParallelControllers = kDefaultParallelControllers;  // exchanges at once in the whole server
    int MaxOpenSockets = kMaxOpenSockets;                   // controller sockets open at once
    std::chrono::milliseconds SocketIdleTime = kSocketIdleTime;  // a socket unused this long is closed
    TRequestBounds Bounds;                                  // items and controllers of one request
    int MaxRecords = kMaxControllerRecords;                 // controller records kept
};

// "sys.server_uptime": whole days, " days, ", then the rest as h:mm:ss with the locale's time separator.
std::string FormatServerUptime(TDateTime NowValue, TDateTime StartedAt, const TFormatSettings& fs);

class TZeltoServer {
public:
    // Creates the lists, chooses the default adapter, then the one the sibling program's settings name.
    explicit TZeltoServer(TZeltoServerHost AHost = {});
    // Frees every proxy (closing their sockets); no request may run.
    ~TZeltoServer();
    TZeltoServer(const TZeltoServer&) = delete;
    TZeltoServer& operator=(const TZeltoServer&) = delete;

    // The whole variable request: the query in, the response document (Document) out. An ALC line that
    // cannot be parsed raises EAlcParseError.
    TVarAnswer ReadVars(const TVarQuery& Query);
    // The same request with its answer as a list of entries (Results), for the other answer formats.
    TVarAnswer ReadResults(const TVarQuery& Query);
    // A counted request with no password: the document only.
    std::string ReadVars(const std::string& InputStr) { return ReadVars(PlainQuery(InputStr)).Document; }
    // Reads every variable of one controller (through a new proxy of its own) and returns the document.
    std::string ReadAllVars(int32_t ANAD, const std::string& Password = {});
    // Autodetection: the NADs and addresses of the controllers that answer a broadcast ping within 500 ms.
    void ScanZeltos(std::vector<std::string>& NADList, std::vector<std::string>& IPList,
                    const std::string& Password = {});
    // Chooses the Q-link adapter by ID; an empty or unknown ID selects the default adapter. Requests
    // running finish first; new ones wait for the change.
    void SetEthernetAdapter(const std::string& EthernetAdapterID);

    // The steps of ReadVars, public for their tests.
    TVarRequest ParseRequest(const std::string& InputStr) const { return ParseVarRequest(PlainQuery(InputStr), fHost.Bounds); }
    // The entries of a request in the document's order: its controllers' entries from Run (without one,
    // each request variable as it is bound), then the server's names answered now. Dropped is set when the
    // client left before a broadcast.
    TVarResults Results(const TVarRequest& R, const TControllerRun* Run = nullptr, bool* Dropped = nullptr);
    std::string BuildResponse(const TVarResults& Results) const;
    std::string FormatGadgetVar(const TGadgetVar& AVar) const { return Entry(VarResultOf(AVar, nullptr)); }
    std::string FormatSystemVar(const std::string& N) { return Entry(SystemResult(N, TVarQuery())); }
    TVarResult SystemResult(const std::string& N, const TVarQuery& Query);

    TControllerService& Controllers() { return fControllers; }
    TOutputType OutputType() const { return fOutputType; }
    void SetOutputType(TOutputType Value) { fOutputType = Value; }
    const TRequestBounds& Bounds() const { return fHost.Bounds; }
    // Busy while a request runs.
    TCCSStatus Status() const { return fControllers.Running() > 0 ? ccsBusy : ccsReady; }
    const TEthernetAdapterInfo& DefaultEthAdapter() const { return *fDefaultEthAdapter; }
    const TEthernetAdapterInfoList& EthAdapterList() const { return *fEthAdapterList; }
    // Copies of the three controllers most recently accessed, for the status display; any thread.
    std::array<std::optional<TZeltoStatus>, 3> LastAccessSnapshot() const { return fControllers.LastAccessSnapshot(); }

private:
    // Parses, runs and answers one request; Document chooses the document over the list of entries.
    TVarAnswer Answer(const TVarQuery& Query, bool Document);
    void ControllerSystemVar(const std::string& N, const TVarQuery& Query, TVarResult& r);
    std::string Entry(const TVarResult& r) const;

    TZeltoServerHost fHost;
    TOutputType fOutputType = iotText;
    std::unique_ptr<TEthernetAdapterInfoList> fEthAdapterList;
    std::unique_ptr<TEthernetAdapterInfo> fDefaultEthAdapter;
    TDateTime fCreatedAt = 0;
    // Declared after the adapters it sends through.
    TControllerService fControllers;
};

}  // namespace zelto
