#include "app/fMain.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <utility>

#include "app/uKeptFiles.h"
#include "log/uLog.h"
#include "net/uEthernetUtils.h"
#include "platform/uMimeTypes.h"
#include "platform/uRegistry.h"
#include "platform/uVersion.h"
#include "plc/uAlcCache.h"
#include "qlink/uChecksumKey.h"
#include "web/uMetrics.h"

namespace zelto {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgramTitle = "ZeltoHttpServer";
constexpr double kMsPerDay = 86400000.0;

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// A login carries a user name and a password, and no variable whose name ends in "password".
bool IsLoginRequest(const std::string& params) {
    return Contains(params, "username=") && Contains(params, "password=") && !Contains(params, ".password=");
}

// A variable request: neither a file (no query) nor a login. These go to the request service.
bool IsVariableRequest(const std::string& params) { return !params.empty() && !IsLoginRequest(params); }

// QLinkChecksumKey and QLinkChecksumWeights where they are set; a text that is not such a value stops the
// start-up as a value of the wrong type does.
void ReadChecksumKey(const TRegistry& reg, TChecksumKey& key) {
    const auto refuse = [](const char* name, const char* expected) {
        return ERegistryException(std::string("Invalid data type for '") + name + "': " + expected + " expected");
    };
    if (reg.ValueExists("QLinkChecksumKey") && !ParseChecksumXor(reg.ReadString("QLinkChecksumKey"), key.Xor))
        throw refuse("QLinkChecksumKey", kChecksumXorExpected);
    if (reg.ValueExists("QLinkChecksumWeights") &&
        !ParseChecksumWeights(reg.ReadString("QLinkChecksumWeights"), key.Weights))
        throw refuse("QLinkChecksumWeights", kChecksumWeightsExpected);
}

// Counts a request in the metrics when the handler has answered it: its kind, status and the time taken.
struct TRequestTally {
    const THttpResponseInfo& Response;
    TRequestKind Kind = TRequestKind::Other;
    std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
    ~TRequestTally() {
        Metrics().CountRequest(Kind, Response.ResponseNo,
                               std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count());
    }
};

// OPTIONS always reaches the handler, which answers it by the cross-origin setting (405 without one).
THttpLimits WithOptions(THttpLimits limits) {
    limits.AcceptOptions = true;
    return limits;
}

}  // namespace

TfmMain::TfmMain(TMainOptions options, TRequestServiceFactory factory)
    : fOptions(std::move(options)),
      fFactory(std::move(factory)),
      fProgramDir(fOptions.ProgramDir.empty() ? ExecutableDir() : fOptions.ProgramDir),
      IdHTTPServer1([this](const THttpRequestInfo& rq, THttpResponseInfo& rs) { IdHTTPServer1CommandGet(rq, rs); },
                    WithOptions(fOptions.Limits)) {
    if (fOptions.Service.ConfigDir) fOptions.SettingsRoot = *fOptions.Service.ConfigDir;
    if (fOptions.SettingsRoot.empty()) fOptions.SettingsRoot = DefaultSettingsRoot();
    fService.WebRoot = fProgramDir;
    IdHTTPServer1.SetBindAddress(fOptions.Service.Bind.value_or(fOptions.BindAddress));
    // Variable requests start in the order they arrived, on a pool of their own; files and logins never
    // wait behind them.
    IdHTTPServer1.SetQueuedRequests([](const THttpRequestInfo& rq) { return IsVariableRequest(rq.Params); });
    fAdapterOverride = fOptions.AdapterOverride;
}

TfmMain::~TfmMain() { FormDestroy(); }

void TfmMain::ShowMessage(const std::string& text) {
    if (OnShowMessage) OnShowMessage(text);
}

void TfmMain::FormCreate() {
    fCreated = true;
    fServerStartedAt = Now();
    // The wake-up from a second copy is wired by the main block (CheckSingleInstance) before this runs.
    {
        std::lock_guard<std::mutex> lock(fFieldsMutex);
        fLocalIp = GetLocalIPAddress();
    }
    fTimerRunning = false;
    // Copies that a write cut short (a crash, kill -9) left beside the settings and the cache files.
    RemoveInterruptedSettingsWrites(fOptions.SettingsRoot, kSettingsKey, SettingsFlat());
    RemoveInterruptedSettingsWrites(fOptions.SettingsRoot, kSiblingSettingsKey, SettingsFlat());
    RemoveInterruptedAlcCacheWrites();
    InstallMetricsObservers();
    std::string settingsError;
    try {
        LoadSettings();
        fSettingsLoaded = true;
    } catch (const std::exception& e) {
        settingsError = e.what();
    }
    // Made after the settings it reads (the defaults when they cannot be read).
    {
        std::shared_ptr<IRequestService> service = fFactory ? fFactory(*this) : nullptr;
        std::lock_guard<std::mutex> lock(fServiceLock);
        fZeltoServer = std::move(service);
    }
    if (!fSettingsLoaded) {
        // The rest of start-up is skipped: the program runs on without a listener.
        ShowMessage(settingsError);
        return;
    }
    if (OnNotice && !fService.LogNotice.empty()) OnNotice(fService.LogNotice);
    if (!OnNotice && !fService.LogNotice.empty()) std::cerr << fService.LogNotice << std::endl;
    if (const auto service = Service()) service->SetEthernetAdapter(QLinkAdapterInUse());
    fCaption = std::string(kProgramTitle) + " v" + GetVersionText(3);
    // What is never served by identity, and the checks every request passes first (the machine's own
    // names are looked up once, here).
    fKeptFiles = OwnExecutables();
    fKeptFiles.push_back(MyLog.LogFile());
    fKeptFiles.push_back(SettingsFileOf(fOptions.SettingsRoot, kSettingsKey, SettingsFlat()));
    fKeptFiles.push_back(SettingsFileOf(fOptions.SettingsRoot, kSiblingSettingsKey, SettingsFlat()));
    THostNames hosts = fService.AllowHost;
    for (std::string& name : MachineHostNames()) hosts.Names.push_back(std::move(name));
    fSafety = std::make_unique<TRequestSafety>(TRequestSafetySettings{
        std::move(hosts), TCrossOrigin(fOptions.AllowOriginOverride.value_or(fAllowOrigin)), fService.WriteHeader,
        fService.ReadOnly});
    // The streams read like a variable request that only reads and is not counted, on the service in
    // place then.
    fWebClients = std::make_unique<TWebClients>(
        fOptions.AllowOriginOverride.value_or(fAllowOrigin),
        StreamIntervalOf(fOptions.StreamIntervalOverride.value_or(fStreamInterval)),
        [this](const std::string& q) { return ResultsOf(q, true, false); });
    if (fMqttSettings) {
        // A write from the broker takes the path of an HTTP write: a request value with the password and the
        // read-only switch, through the service's checks (the read-only rule of the variable list among them).
        fMqtt = std::make_unique<TMqttPublisher>(
            *fMqttSettings, fWebClients->Hub(),
            [this](const std::string& q) { return ResultsOf(q, fReadOnly, true); },
            [](const std::string& text) { std::cerr << "ZeltoHttpServer: " << text << std::endl; });
    }
    IdHTTPServer1.SetDefaultPort(fOptions.PortOverride.value_or(fHttpPort));
    try {
        IdHTTPServer1.Start();
    } catch (const EHttpListenerError& e) {
        fListenerError = e.what();
        ShowMessage(e.what());
    }
    // Older than the display's ten seconds of recent activity, so that it starts idle.
    fReqTimestamp = Now() - 11000.0 / kMsPerDay;
}

void TfmMain::FormDestroy() {
    if (!fCreated) return;
    fCreated = false;
    // Settings that could not be loaded are not saved: saving would replace the stored values with defaults.
    if (fSettingsLoaded) {
        try {
            SaveSettings();
        } catch (const std::exception& e) {
            ShowMessage(e.what());
        }
    }
    if (fMqtt) fMqtt->Stop();  // "offline" on the broker before the reader goes
    if (fWebClients) fWebClients->Stop();  // every stream ends cleanly before the listener stops
    IdHTTPServer1.Stop();  // no request is in the handler once this returns
    std::shared_ptr<IRequestService> old;
    {
        std::lock_guard<std::mutex> lock(fServiceLock);
        old = std::move(fZeltoServer);
    }
}

void TfmMain::LoadSettings() {
    TRegistry reg(fOptions.SettingsRoot, SettingsFlat());
    TServiceOptions stored;
    TMqttOptions storedMqtt;
    if (reg.OpenKey(kSettingsKey, false)) {
        stored = ReadServiceSettings(reg);
        storedMqtt = ReadMqttSettings(reg);
        TWindowGeometry g = Geometry;
        if (reg.ValueExists("Top")) g.Top = reg.ReadInteger("Top");
        if (reg.ValueExists("Left")) g.Left = reg.ReadInteger("Left");
        if (reg.ValueExists("Width")) g.Width = reg.ReadInteger("Width");
        if (reg.ValueExists("Height")) g.Height = reg.ReadInteger("Height");
        Geometry.Top = g.Top;
        Geometry.Left = g.Left;
        Geometry.Width = g.Width;
        Geometry.Height = g.Height;
        if (reg.ValueExists("Maximized") && reg.ReadInteger("Maximized") == 1) Geometry.Maximized = true;
        if (reg.ValueExists("QLinkPassword")) SetQLinkPassword(reg.ReadString("QLinkPassword"));
        if (reg.ValueExists("LogToFile")) MyLog.Enabled = reg.ReadBool("LogToFile");
        if (reg.ValueExists("Port")) fHttpPort = static_cast<uint16_t>(reg.ReadInteger("Port") & 0xFFFF);
        if (reg.ValueExists("AllowOrigin")) fAllowOrigin = reg.ReadString("AllowOrigin");
        if (reg.ValueExists("StreamInterval")) fStreamInterval = reg.ReadInteger("StreamInterval");
        reg.CloseKey();
    }
    fService = ResolveServiceSettings(fOptions.Service, stored, fProgramDir);
    fReadOnly = fService.ReadOnly;
    fMqttSettings = ResolveMqttSettings(fOptions.Mqtt, storedMqtt, fService.ReadOnly);
    // The sibling's adapter choice is read whether or not the program's own key exists, and so are the
    // checksum constants of the installation's controllers, which both programs share.
    TChecksumKey checksum = kDefaultChecksumKey;
    if (reg.OpenKey(kSiblingSettingsKey, false)) {
        if (reg.ValueExists("EthernetAdapterID")) SetQLinkNetworkAdapter(reg.ReadString("EthernetAdapterID"));
        ReadChecksumKey(reg, checksum);
        reg.CloseKey();
    }
    SetChecksumKey(checksum);
}

void TfmMain::SaveSettings() {
    TRegistry reg(fOptions.SettingsRoot, SettingsFlat());
    if (!reg.OpenKey(kSettingsKey, true)) {
        throw ERegistryException("Could not open the settings " + SettingsFileOf(fOptions.SettingsRoot, kSettingsKey, SettingsFlat()));
    }
    reg.WriteInteger("Top", Geometry.Top);
    reg.WriteInteger("Left", Geometry.Left);
    reg.WriteInteger("Width", Geometry.Width);
    reg.WriteInteger("Height", Geometry.Height);
    reg.WriteBool("Maximized", Geometry.Maximized);
    reg.WriteString("QLinkPassword", QLinkPassword());
    reg.WriteBool("LogToFile", fService.LogToFileToSave(MyLog.Enabled));  // --log does not change it
    reg.WriteInteger("Port", fHttpPort);
    reg.CloseKey();
    if (!reg.OpenKey(kSiblingSettingsKey, true)) {
        throw ERegistryException("Could not open the settings " + SettingsFileOf(fOptions.SettingsRoot, kSiblingSettingsKey, SettingsFlat()));
    }
    reg.WriteString("EthernetAdapterID", QLinkNetworkAdapter());
    reg.CloseKey();
}

std::optional<std::string> TfmMain::ResolveFile(const std::string& document) const {
    if (document.find('\0') != std::string::npos) return std::nullopt;
    for (const auto& segment : fs::path(document)) {
        if (segment == "..") return std::nullopt;  // never climbs, whatever the folders are
    }
    // The folder's path followed by the document as it stands. Links are followed wherever they point: an
    // operator may link content into the folder, and a client cannot climb out without "..".
    const std::string path = fService.WebRoot + document;
    struct stat found {};
    if (::lstat(path.c_str(), &found) != 0) return std::nullopt;
    // The log, the settings (a settings folder may lie inside the web root), their copies and the program
    // itself are not for clients to read, under any name. A plain file is told by its name, in this one
    // call; a link or a file with several names by the identity of the file it is.
    if (NamesDecide(document, found, fKeptFiles)) {
        if (IsKeptFile(document, path, found, {})) return std::nullopt;
        return path;
    }
    std::error_code ec;
    const fs::path file = fs::canonical(fs::path(path), ec);
    if (ec || ::stat(file.c_str(), &found) != 0 || !S_ISREG(found.st_mode)) return std::nullopt;
    if (IsKeptFile(document, file.string(), found, fKeptFiles)) return std::nullopt;
    return file.string();
}

void TfmMain::AnswerMetrics(THttpResponseInfo& AResponseInfo) const {
    TMetricsGauges gauges;
    gauges.HttpConnectionsOpen = IdHTTPServer1.ConnectionCount();
    gauges.StreamsOpen = fWebClients ? fWebClients->StreamCount() : 0;
    AResponseInfo.ContentType = kMetricsContentType;
    AResponseInfo.ContentText = Metrics().Text(gauges);
}

void TfmMain::IdHTTPServer1CommandGet(const THttpRequestInfo& ARequestInfo, THttpResponseInfo& AResponseInfo) {
    TRequestTally tally{AResponseInfo};
    if (!fService.Access.Allows(ARequestInfo.ClientIp)) {
        // Not counted, not logged, no file and no controller traffic: the client learns nothing.
        AResponseInfo.ResponseNo = 403;
        AResponseInfo.ContentText = "Forbidden";
        return;
    }
    if (fSafety && fSafety->Refuses(ARequestInfo, AResponseInfo)) return CountRequest(ARequestInfo);
    if (ARequestInfo.Command == "OPTIONS") {
        if (fWebClients) fWebClients->AnswerOptions(ARequestInfo, AResponseInfo);
        else AResponseInfo.ResponseNo = 405, AResponseInfo.ContentText = "Method not allowed";
        return;
    }
    if (fWebClients) fWebClients->AddOriginHeaders(ARequestInfo, AResponseInfo);
    CountRequest(ARequestInfo);
    const std::string& params = ARequestInfo.Params;
    if (params.empty()) {
        MyLog.AddLog("File request from " + ARequestInfo.ClientIp + ": " + ARequestInfo.Document);
        tally.Kind = TRequestKind::File;
        if (const auto file = ResolveFile(ARequestInfo.Document)) {
            AResponseInfo.ContentType = ContentTypeOfFile(ARequestInfo.Document);  // by the name asked for
            AResponseInfo.ContentStream = std::make_unique<TContentFile>(*file);
        } else if (ARequestInfo.Document == "/metrics") {  // a file of that name wins
            tally.Kind = TRequestKind::Other;
            AnswerMetrics(AResponseInfo);
        } else {
            AResponseInfo.ResponseNo = 404;
            AResponseInfo.ContentText = "The requested URL " + ARequestInfo.Document + " was not found on this server.";
        }
    } else if (IsLoginRequest(params)) {
        MyLog.AddLog("Login request from " + ARequestInfo.ClientIp + ": " + MaskPasswords(params));
        tally.Kind = TRequestKind::Login;
        AResponseInfo.ContentType = "text/html";
        AResponseInfo.ContentText = "1";  // every login is accepted
    } else {
        MyLog.AddLog("HTTP request from " + ARequestInfo.ClientIp + ": " + params);
        tally.Kind = TRequestKind::Variable;
        const std::shared_ptr<IRequestService> service = Service();  // held until the answer is made
        if (!service) {
            AResponseInfo.ResponseNo = 503;
            AResponseInfo.ContentType = "text/plain";
            AResponseInfo.ContentText = "Request service not available";
            return;
        }
        // The request as a value: a password changed meanwhile applies from now on; HEAD answers what the
        // same GET would read and never writes.
        TVarQuery query;
        query.Params = params;
        query.Password = QLinkPassword();
        query.ReadOnly = fReadOnly || ARequestInfo.Command == "HEAD";
        query.GoneFlag = ARequestInfo.GoneFlag;
        if (fWebClients) {
            fWebClients->AnswerVariables(ARequestInfo, AResponseInfo, *service, query);
            if (AResponseInfo.Stream) tally.Kind = TRequestKind::Stream;
        } else {
            const TVarAnswer answer = service->ReadVars(query);
            if (AnswerRefusedOrDropped(answer, AResponseInfo)) return;
            AResponseInfo.ContentType = "text/xml";
            AResponseInfo.ContentText = answer.Document;
        }
    }
}

void TfmMain::CountRequest(const THttpRequestInfo& ARequestInfo) {
    // Under one lock, so that the count, time and addresses shown always belong to the same latest request.
    std::lock_guard<std::mutex> fields(fFieldsMutex);
    ++fReqCount;
    fReqTimestamp = Now();
    fLastReqUrl = ARequestInfo.ClientIp;
    fLocalIp = ARequestInfo.LocalIp;
}

std::string TfmMain::RestartListener(uint16_t port) {
    try {
        // Does not wait for requests in the handler: a controller that is slow to answer never holds the
        // window; their answers find their connections closed.
        IdHTTPServer1.Restart(port);
        fListenerError.clear();
    } catch (const EHttpListenerError& e) {
        fListenerError = e.what();
    }
    return fListenerError;
}

void TfmMain::ReplaceZeltoServer() {
    {
        std::lock_guard<std::mutex> fields(fFieldsMutex);
        fAdapterOverride.reset();  // from now on the service runs on the stored adapter
    }
    // Made whole before any request sees it; nothing here waits for a request or a controller.
    std::shared_ptr<IRequestService> fresh = fFactory ? fFactory(*this) : nullptr;
    if (fresh) fresh->SetEthernetAdapter(QLinkNetworkAdapter());
    std::shared_ptr<IRequestService> old;
    {
        std::lock_guard<std::mutex> lock(fServiceLock);
        old = std::exchange(fZeltoServer, std::move(fresh));
    }
    // old ends here when no request holds it (it has nothing to wait for then), else with its last request.
}

std::shared_ptr<IRequestService> TfmMain::Service() const {
    std::lock_guard<std::mutex> lock(fServiceLock);
    return fZeltoServer;
}

TVarResults TfmMain::ResultsOf(const std::string& params, bool readOnly, bool counted) const {
    const auto service = Service();
    if (!service) return {};
    TVarQuery query;
    query.Params = params;
    query.Password = QLinkPassword();
    query.ReadOnly = readOnly;
    query.Counted = counted;
    return service->ReadResults(query).Results;
}

std::array<std::optional<TControllerStatus>, 3> TfmMain::LastAccessList() const {
    const auto service = Service();
    return service ? service->LastAccessList() : std::array<std::optional<TControllerStatus>, 3>{};
}

TRequestServiceSettings TfmMain::ServiceSettings() const {
    return TRequestServiceSettings{fService.ParallelControllers, fService.Bounds};
}

TRequestStatus TfmMain::RequestStatus() const {
    std::lock_guard<std::mutex> lock(fFieldsMutex);
    return TRequestStatus{fReqCount, fReqTimestamp, fLastReqUrl, fLocalIp};
}

std::string TfmMain::QLinkPassword() const {
    std::lock_guard<std::mutex> lock(fFieldsMutex);
    return fQLinkPassword;
}

void TfmMain::SetQLinkPassword(const std::string& password) {
    std::lock_guard<std::mutex> lock(fFieldsMutex);
    fQLinkPassword = password;
}

std::string TfmMain::QLinkNetworkAdapter() const {
    std::lock_guard<std::mutex> lock(fFieldsMutex);
    return fQLinkNetworkAdapter;
}

std::string TfmMain::QLinkAdapterInUse() const {
    std::lock_guard<std::mutex> lock(fFieldsMutex);
    return fAdapterOverride.value_or(fQLinkNetworkAdapter);
}

void TfmMain::SetQLinkNetworkAdapter(const std::string& id) {
    std::lock_guard<std::mutex> lock(fFieldsMutex);
    fQLinkNetworkAdapter = id;
}

}  // namespace zelto
