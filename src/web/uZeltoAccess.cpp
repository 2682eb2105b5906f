// The controller side of TZeltoServer: the adapter, one proxy per NAD with its counters, the list of the
// controllers a request accessed, the read pass and autodetection.
#include "web/uZeltoIntf.h"

#include "platform/uRegistry.h"
#include "qlink/uQLink.h"

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
      fCreatedAt(Now()) {
    fDefaultEthAdapter->GetDefault();
    fEthAdapterList->Refresh();
    if (const auto id = SiblingAdapterID(fHost.SettingsRoot)) SetEthernetAdapter(*id);
}

void TZeltoServer::SetEthernetAdapter(const std::string& EthernetAdapterID) {
    // Refilled in place: every communicator holds this record and sees the new adapter from its next send.
    if (!fDefaultEthAdapter->SetByID(EthernetAdapterID)) fDefaultEthAdapter->GetDefault();
}

void TZeltoServer::ResetAccessList() {
    LastAccessList = {};
    CurrentAccessIndex = 0;
}

TZelto* TZeltoServer::BindItemToZelto(int32_t NAD) {
    TZelto* p = fZeltoList.GetByNAD(NAD);
    if (p == nullptr) {
        fZeltoList.Add(std::make_unique<TZelto>(NAD));
        p = fZeltoList.GetByNAD(NAD);
    }
    if (!fCounting) return p;
    p->LastRequestTimestamp = Now();
    const int64_t count = int64_t{p->RequestCount} + 1;
    p->RequestCount = count > kMaxRequestCount ? 0 : static_cast<int32_t>(count);
    return p;
}

void TZeltoServer::EnterAccessList(TZelto* P) {
    for (TZelto* slot : LastAccessList)
        if (slot == P) return;
    LastAccessList[static_cast<std::size_t>(CurrentAccessIndex)] = P;
    CurrentAccessIndex = (CurrentAccessIndex + 1) % 3;
}

void TZeltoServer::PublishAccessList() {
    std::array<std::optional<TZeltoStatus>, 3> copy;
    for (std::size_t i = 0; i < copy.size(); ++i) {
        if (const TZelto* p = LastAccessList[i])
            copy[i] = TZeltoStatus{p->NAD(), p->IP(), p->PingOK(), p->LastRequestTimestamp, p->RequestCount};
    }
    std::lock_guard<std::mutex> lock(fSnapshotLock);
    fSnapshot = std::move(copy);
}

std::array<std::optional<TZeltoStatus>, 3> TZeltoServer::LastAccessSnapshot() const {
    std::lock_guard<std::mutex> lock(fSnapshotLock);
    return fSnapshot;
}

void TZeltoServer::PrepareZelto(TZelto& P) {
    P.Comm().SetEthAdapter(fDefaultEthAdapter.get());
    P.Comm().SetEthAdapterList(fEthAdapterList.get());
    P.SetPassword(fPassword);
}

// Every proxy in order of creation; a proxy without request variables of its NAD sends nothing. An ALC
// that cannot be parsed ends the pass at its proxy.
void TZeltoServer::ReadPass(bool ReadAll) {
    struct TPublish {
        TZeltoServer& s;
        ~TPublish() {
            if (s.fCounting) s.PublishAccessList();
        }
    } publish{*this};
    for (int i = 0; i < fZeltoList.Count(); ++i) {
        TZelto* p = fZeltoList.GetItem(i);
        PrepareZelto(*p);
        p->Read(fGadgetVarList, ReadAll);
    }
}

void TZeltoServer::ScanZeltos(std::vector<std::string>& NADList, std::vector<std::string>& IPList) {
    TCommunicator comm;
    comm.SetEthAdapter(fDefaultEthAdapter.get());
    comm.SetEthAdapterList(fEthAdapterList.get());
    comm.SetPasswordCRC(PasswordChecksum(std::string_view(fPassword), 0));
    comm.Open();  // detection finds whatever its broadcast brings back
    comm.DetectZeltos(&NADList, &IPList, kDetectTimeout);
    comm.Close();
}

std::string TZeltoServer::ReadAllVars(int32_t ANAD) {
    fStatus = ccsBusy;
    struct TReady {
        TCCSStatus& s;
        ~TReady() { s = ccsReady; }
    } ready{fStatus};
    fGadgetVarList.Clear();
    fZeltoList.AddNewZeltoByNAD(ANAD);
    ReadPass(true);
    return BuildResponse();
}

}  // namespace zelto
