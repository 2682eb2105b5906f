#pragma once
// The main window's logic without its widgets: start-up (FormCreate), shutdown (FormDestroy), the settings
// (LoadSettings, SaveSettings) and the HTTP request handler (IdHTTPServer1CommandGet). The desktop shell
// shows this state; the headless runner drives it alone.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/uRequestSafety.h"
#include "app/uMqttOptions.h"
#include "app/uRequestService.h"
#include "app/uServiceOptions.h"
#include "app/uWebClients.h"
#include "base/DateTime.h"
#include "platform/uHttpListener.h"

namespace zelto {

// The settings keys of the program and of its sibling, which shares the Q-link adapter choice.
inline constexpr const char* kSettingsKey = "\\Software\\Tessvik\\ZeltoHttpServer\\";
inline constexpr const char* kSiblingSettingsKey = "\\Software\\Tessvik\\ZeltoComServer\\";
inline constexpr uint16_t kDefaultHttpPort = 80;

// The window's normal (restored) rectangle and whether it is maximized. Without a window these are the
// designed values, read and written back unchanged.
struct TWindowGeometry {
    int32_t Top = 100;
    int32_t Left = 100;
    int32_t Width = 475;
    int32_t Height = 340;
    bool Maximized = false;
};

struct TMainOptions {
    std::string SettingsRoot;                   // empty: the user's settings folder
    std::string ProgramDir;                     // the folder files are served from; empty: the executable's
    std::optional<uint16_t> PortOverride;       // --port: this run only, not saved
    std::optional<std::string> AdapterOverride; // --adapter: this run only, not saved
    std::string BindAddress = "0.0.0.0";        // replaced by Service.Bind when that is set
    TServiceOptions Service;                    // --www, --log, --config, --allow, --read-only, --bind
    std::optional<std::string> AllowOriginOverride;  // --allow-origin: this run only, not saved
    std::optional<int> StreamIntervalOverride;       // --stream-interval: this run only, not saved
    TMqttOptions Mqtt;                               // --mqtt...: this run only, not saved
    THttpLimits Limits;
};

// What the status display reads of the latest request (a copy).
struct TRequestStatus {
    int32_t ReqCount = 0;
    TDateTime ReqTimestamp = 0;
    std::string LastReqUrl;  // client IP of the latest request
    std::string LocalIp;
};

class TfmMain : public IMainWindowState {
public:
    explicit TfmMain(TMainOptions options = {}, TRequestServiceFactory factory = CreateRequestService);
    ~TfmMain() override;  // FormDestroy when it has not run
    TfmMain(const TfmMain&) = delete;
    TfmMain& operator=(const TfmMain&) = delete;

    // Start-up steps in their order. A failure is shown through OnShowMessage: invalid settings skip the rest
    // (no listener), a port that cannot be opened leaves the program without a listener.
    void FormCreate();
    // Shutdown: saves the settings, stops the listener, frees the request service.
    void FormDestroy();
    // Reads the settings into the fields, the log and the listener's port. Throws ERegistryException
    // ("Invalid data type for '<name>'") for a value of the wrong type.
    void LoadSettings();
    // Writes the geometry and the settings. Throws ERegistryException when they cannot be written.
    void SaveSettings();

    // The request handler, called by the listener on worker threads, many at once: a variable request waits
    // only for the controllers it names.
    void IdHTTPServer1CommandGet(const THttpRequestInfo& ARequestInfo, THttpResponseInfo& AResponseInfo);

    // Shows a message to the user (a message box in the window, stderr headless).
    std::function<void(const std::string&)> OnShowMessage;
    // Tells something worth knowing once at start-up (where the log goes); stderr when not set.
    std::function<void(const std::string&)> OnNotice;
    const std::string& WebRoot() const { return fService.WebRoot; }

    // IMainWindowState
    TDateTime ServerStartedAt() const override { return fServerStartedAt; }
    int32_t ReqCount() const override { return fReqCount; }
    bool ReadOnly() const override { return fReadOnly; }
    TRequestServiceSettings ServiceSettings() const override;

    TRequestStatus RequestStatus() const;
    std::string Caption() const { return fCaption; }
    bool ListenerActive() const { return IdHTTPServer1.Active(); }
    uint16_t ListenerPort() const { return IdHTTPServer1.BoundPort(); }
    uint16_t ListenerDefaultPort() const { return IdHTTPServer1.DefaultPort(); }
    // Closes the listener's connections and opens it on port, without waiting for the requests in the
    // handler. Returns the error text ("" when it opened); without success the program runs on without a
    // listener.
    std::string RestartListener(uint16_t port);
    // Creates a new request service on QLinkNetworkAdapter and puts it in the place of the old one; an
    // --adapter of this run ends here. Never waits for a request: requests in progress finish on the old
    // service, which is freed (with its proxies) when the last of them ends; new requests get the new one,
    // made whole before it is shown to them.
    void ReplaceZeltoServer();
    const std::string& ListenerError() const { return fListenerError; }
    bool SettingsLoaded() const { return fSettingsLoaded; }
    IRequestService* ZeltoServer() const { return Service().get(); }
    // The request service in place now, held for as long as the caller keeps it.
    std::shared_ptr<IRequestService> Service() const;
    // The entries of a variable request that no client sent (the streams' reads, a write from the broker),
    // run on the service in place with the password in force; none without a service.
    TVarResults ResultsOf(const std::string& params, bool readOnly, bool counted) const;
    // Copies of the controllers of the latest variable request, for the status display.
    std::array<std::optional<TControllerStatus>, 3> LastAccessList() const;

    // Settings as stored (the command-line overrides do not change them).
    std::string QLinkPassword() const;
    void SetQLinkPassword(const std::string& password);
    std::string QLinkNetworkAdapter() const;
    void SetQLinkNetworkAdapter(const std::string& id);
    // The adapter the request service runs on: the --adapter of this run until a new service replaces the
    // first one, otherwise the stored adapter.
    std::string QLinkAdapterInUse() const;
    uint16_t HttpPort() const { return fHttpPort; }
    // The origins whose pages may call the server ("" none, "*" all) and the live streams' interval in ms.
    const std::string& AllowOrigin() const { return fAllowOrigin; }
    int StreamInterval() const { return fStreamInterval; }
    // Cross-origin rules and live streams in force (nullptr before FormCreate).
    const TWebClients* WebClients() const { return fWebClients.get(); }
    // The MQTT publisher (nullptr while no broker is set).
    const TMqttPublisher* MqttPublisher() const { return fMqtt.get(); }
    void SetHttpPort(uint16_t port) { fHttpPort = port; }
    TWindowGeometry Geometry;

private:
    void ShowMessage(const std::string& text);
    // Counts a request and keeps its time and addresses as the latest.
    void CountRequest(const THttpRequestInfo& ARequestInfo);
    // --config names the folder that holds the settings files themselves.
    bool SettingsFlat() const { return fOptions.Service.ConfigDir.has_value(); }
    // The file a document names, or nullopt when there is none to serve (missing, a folder, outside the
    // program folder, or one never served: see IsKeptFile).
    std::optional<std::string> ResolveFile(const std::string& document) const;
    // GET /metrics: the server's metrics in the Prometheus text format.
    void AnswerMetrics(THttpResponseInfo& AResponseInfo) const;

    TMainOptions fOptions;
    TRequestServiceFactory fFactory;
    std::string fProgramDir;
    TServiceSettings fService;  // set by LoadSettings, before the listener starts
    std::atomic<bool> fReadOnly{false};

    mutable std::mutex fServiceLock;  // guards the pointer fZeltoServer only, never a request
    bool fTimerRunning = false;
    std::atomic<TDateTime> fServerStartedAt{0};
    std::atomic<int32_t> fReqCount{0};
    std::atomic<TDateTime> fReqTimestamp{0};
    mutable std::mutex fFieldsMutex;  // the texts below, written by request threads, read by the display
    std::string fLastReqUrl;
    std::string fLocalIp;
    std::string fQLinkPassword;
    std::string fQLinkNetworkAdapter;
    std::optional<std::string> fAdapterOverride;
    uint16_t fHttpPort = kDefaultHttpPort;
    std::string fAllowOrigin;
    int fStreamInterval = kDefaultStreamInterval;
    std::string fCaption;
    std::string fListenerError;
    bool fCreated = false;
    bool fSettingsLoaded = false;
    std::shared_ptr<IRequestService> fZeltoServer;
    std::unique_ptr<TWebClients> fWebClients;  // stopped before the service it reads is freed
    std::unique_ptr<TRequestSafety> fSafety;   // the Host and write checks; set by FormCreate
    std::vector<std::string> fKeptFiles;       // never served by identity: log, settings, executables
    std::optional<TMqttSettings> fMqttSettings;  // set by LoadSettings
    std::unique_ptr<TMqttPublisher> fMqtt;       // stopped before the hub it listens to
    THttpListener IdHTTPServer1;  // declared last: stopped before the fields it serves are gone
};

}  // namespace zelto
