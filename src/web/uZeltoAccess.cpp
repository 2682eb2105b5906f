// The controller side of TZeltoServer: the adapter, one proxy per NAD with its counters, the list of the
// controllers a request accessed, the read pass and autodetection.
#include "web/uZeltoIntf.h"

#include <cstdint>
#include <unordered_map>

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
      fCreatedAt(Now()),
      fSockets(fHost.MaxOpenSockets, fHost.SocketIdleTime),
      fReaders(fHost.MaxParallelReads) {
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

void TZeltoServer::PublishPingResult(const TZelto& P) {
    const std::string ip = P.IP();
    std::lock_guard<std::mutex> lock(fSnapshotLock);
    for (auto& slot : fSnapshot) {
        if (!slot || slot->NAD != P.NAD()) continue;
        slot->IP = ip;
        slot->PingOK = P.PingOK();
    }
}

std::array<std::optional<TZeltoStatus>, 3> TZeltoServer::LastAccessSnapshot() const {
    std::lock_guard<std::mutex> lock(fSnapshotLock);
    return fSnapshot;
}

void TZeltoServer::PrepareZelto(TZelto& P) {
    P.Comm().SetEthAdapter(fDefaultEthAdapter.get());
    P.Comm().SetEthAdapterList(fEthAdapterList.get());
    P.SetPassword(fPassword);
    P.OnPingResult = [this](const TZelto& Z) { PublishPingResult(Z); };
}

// A proxy without request variables of its NAD sends nothing. With ReadAll every proxy reads, in order of
// creation, and appends to the request variables. Otherwise the proxies that have something to ask are
// grouped by NAD in order of creation (proxies of one NAD share request variables and the cache file) and
// the groups run side by side: each controller sees the exchanges it would see one by one, and the answer
// is built afterwards in the request's order. An ALC that cannot be parsed ends its group at its proxy;
// the first such error in order of creation is raised once every group has ended.
void TZeltoServer::ReadPass(bool ReadAll) {
    struct TPublish {
        TZeltoServer& s;
        ~TPublish() {
            if (s.fCounting) s.PublishAccessList();
        }
    } publish{*this};
    // The NADs that the request variables ask for, each with the index of its group once it has one.
    std::unordered_map<int32_t, std::size_t> asked;
    if (!ReadAll)
        for (const TGadgetVar* g : fGadgetVarList)
            if (g != nullptr && (g->ReadReq() || g->WriteReq())) asked.try_emplace(g->NAD(), SIZE_MAX);
    std::vector<std::vector<TZelto*>> groups;
    for (TZelto* p : fZeltoList) {
        PrepareZelto(*p);
        if (ReadAll) {
            TSocketUse use(fSockets, *p);
            p->Read(fGadgetVarList, true);
            continue;
        }
        const auto nad = asked.find(p->NAD());
        if (nad == asked.end()) continue;
        if (nad->second == SIZE_MAX) {
            nad->second = groups.size();
            groups.emplace_back();
        }
        groups[nad->second].push_back(p);
    }
    fReaders.RunAll(static_cast<int>(groups.size()), [&](int i) {
        for (TZelto* p : groups[static_cast<std::size_t>(i)]) {
            TSocketUse use(fSockets, *p);
            p->Read(fGadgetVarList, false);
        }
    });
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
