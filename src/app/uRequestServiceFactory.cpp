#include "app/uRequestService.h"

#include "web/uZeltoIntf.h"

namespace zelto {

namespace {

TZeltoServerHost HostOf(const IMainWindowState& window) {
    TZeltoServerHost host;
    host.ServerStartedAt = [&window] { return window.ServerStartedAt(); };
    host.ReqCount = [&window] { return window.ReqCount(); };
    const TRequestServiceSettings settings = window.ServiceSettings();
    host.ParallelControllers = settings.ParallelControllers;
    host.Bounds = settings.Bounds;
    return host;
}

// TZeltoServer behind the window's seam, answering in XML.
class TZeltoRequestService : public IRequestService {
public:
    explicit TZeltoRequestService(const IMainWindowState& window) : fServer(HostOf(window)) {
        fServer.SetOutputType(iotXML);
    }

    TVarAnswer ReadVars(const TVarQuery& Query) override { return fServer.ReadVars(Query); }
    TVarAnswer ReadResults(const TVarQuery& Query) override { return fServer.ReadResults(Query); }
    void SetEthernetAdapter(const std::string& EthernetAdapterID) override {
        fServer.SetEthernetAdapter(EthernetAdapterID);
    }
    std::array<std::optional<TControllerStatus>, 3> LastAccessList() const override {
        return fServer.LastAccessSnapshot();
    }

private:
    TZeltoServer fServer;
};

}  // namespace

std::unique_ptr<IRequestService> CreateRequestService(const IMainWindowState& window) {
    return std::make_unique<TZeltoRequestService>(window);
}

}  // namespace zelto
