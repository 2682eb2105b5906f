#include "app/uRequestService.h"

#include "web/uZeltoIntf.h"

namespace zelto {

namespace {

// TZeltoServer behind the window's seam, answering in XML.
class TZeltoRequestService : public IRequestService {
public:
    explicit TZeltoRequestService(const IMainWindowState& window)
        : fServer(TZeltoServerHost{[&window] { return window.ServerStartedAt(); },
                                   [&window] { return window.ReqCount(); }, {}}),
          fWindow(window) {
        fServer.SetOutputType(iotXML);
    }

    void SetPassword(const std::string& Password) override { fServer.SetPassword(Password); }
    std::string ReadVars(const std::string& InputStr) override {
        fServer.SetReadOnly(fWindow.ReadOnly());
        return fServer.ReadVars(InputStr);
    }
    TVarResults ReadResults(const std::string& InputStr, bool Counted) override {
        fServer.SetReadOnly(fWindow.ReadOnly());
        return fServer.ReadResults(InputStr, Counted);
    }
    void SetEthernetAdapter(const std::string& EthernetAdapterID) override {
        fServer.SetEthernetAdapter(EthernetAdapterID);
    }
    std::array<std::optional<TControllerStatus>, 3> LastAccessList() const override {
        return fServer.LastAccessSnapshot();
    }

private:
    TZeltoServer fServer;
    const IMainWindowState& fWindow;
};

}  // namespace

std::unique_ptr<IRequestService> CreateRequestService(const IMainWindowState& window) {
    return std::make_unique<TZeltoRequestService>(window);
}

}  // namespace zelto
