// The controller side of TZeltoServer: the adapter, autodetection and the reading of a whole controller;
// the proxies, their queues and counters live in the controller service.
#include "web/uZeltoIntf.h"

#include <cstdint>

#include "platform/uRegistry.h"

namespace zelto {

namespace {

// The settings key of the sibling program ZeltoComServer, which shares the Q-link adapter choice.
constexpr const char* kComServerKey = "\\Software\\Tessvik\\ZeltoComServer\\";

// The adapter ID that the sibling's settings name, or nothing.
std::optional<std::string> SiblingAdapterID(const std::string& root) {
    try {
        TRegistry reg(root.empty() ? DefaultSettingsRoot() : root);
        if (!reg.OpenKey(kComServerKey, false)) return std::nullopt;
        std::optional<std::string> id;
        if (reg.ValueExists("EthernetAdapterID")) id = reg.ReadString("EthernetAdapterID");
        reg.CloseKey();
        return id;
    } catch (const std::exception&) {
        return std::nullopt;  // unreadable settings leave the default adapter
    }
}

}  // namespace

TZeltoServer::TZeltoServer(TZeltoServerHost AHost)
    : fHost(std::move(AHost)),
      fEthAdapterList(std::make_unique<TEthernetAdapterInfoList>()),
      fDefaultEthAdapter(std::make_unique<TEthernetAdapterInfo>()),
      fCreatedAt(Now()),
      fControllers(TControllerServiceOptions{fHost.ParallelControllers, fHost.MaxRecords, fHost.MaxOpenSockets,
                                             fHost.SocketIdleTime},
                   fDefaultEthAdapter.get(), fEthAdapterList.get()) {
    fDefaultEthAdapter->GetDefault();
    fEthAdapterList->Refresh();
    if (const auto id = SiblingAdapterID(fHost.SettingsRoot)) SetEthernetAdapter(*id);
}

void TZeltoServer::SetEthernetAdapter(const std::string& EthernetAdapterID) {
    // Refilled in place, while no request runs: every communicator holds this record and sees the new
    // adapter from its next send.
    fControllers.Exclusive([&] {
        if (!fDefaultEthAdapter->SetByID(EthernetAdapterID)) fDefaultEthAdapter->GetDefault();
    });
}

void TZeltoServer::ScanZeltos(std::vector<std::string>& NADList, std::vector<std::string>& IPList,
                              const std::string& Password) {
    TControllerService::TRequestScope scope(fControllers);
    TVarQuery query;
    query.Password = Password;
    fControllers.Scan(query, NADList, IPList);
}

// A proxy of its own, apart from the records: the controller's queue is not involved, as for a tool that
// reads one controller while nothing else runs.
std::string TZeltoServer::ReadAllVars(int32_t ANAD, const std::string& Password) {
    TControllerService::TRequestScope scope(fControllers);
    TZelto proxy(ANAD);
    proxy.Comm().SetEthAdapter(fDefaultEthAdapter.get());
    proxy.Comm().SetEthAdapterList(fEthAdapterList.get());
    proxy.SetPassword(Password);
    TGadgetVarList vars;
    proxy.Read(vars, true);
    TVarResults results;
    for (const TGadgetVar* g : vars)
        if (g != nullptr) results.push_back(VarResultOf(*g, &proxy));
    return BuildResponse(results);
}

}  // namespace zelto
