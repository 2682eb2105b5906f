#include "web/uControllerService.h"

#include <algorithm>

#include "qlink/uQLink.h"

namespace zelto {

using std::chrono::steady_clock;

// ---- TExchangeSlots

TExchangeSlots::TExchangeSlots(int Max)
    : fMax(std::max(Max, 1)), fSuspectMax(fMax > 1 ? fMax - std::max(1, fMax / 4) : 1) {}

void TExchangeSlots::Acquire(bool Suspect) {
    std::unique_lock<std::mutex> lock(fLock);
    fFreed.wait(lock, [&] { return fUsed < fMax && (!Suspect || fSuspectsUsed < fSuspectMax); });
    ++fUsed;
    if (Suspect) ++fSuspectsUsed;
}

void TExchangeSlots::Release(bool Suspect) {
    {
        std::lock_guard<std::mutex> lock(fLock);
        --fUsed;
        if (Suspect) --fSuspectsUsed;
    }
    fFreed.notify_all();
}

namespace {

class TSlotUse {
public:
    TSlotUse(TExchangeSlots& Slots, bool Suspect) : fSlots(Slots), fSuspect(Suspect) { fSlots.Acquire(fSuspect); }
    ~TSlotUse() { fSlots.Release(fSuspect); }
    TSlotUse(const TSlotUse&) = delete;
    TSlotUse& operator=(const TSlotUse&) = delete;

private:
    TExchangeSlots& fSlots;
    const bool fSuspect;
};

int32_t CountedUp(int32_t Count) { return Count >= kMaxRequestCount ? 0 : Count + 1; }

}  // namespace

// ---- the records

struct TControllerService::TRecord {
    explicit TRecord(std::unique_ptr<TZelto> P) : Proxy(std::move(P)) { Status.NAD = Proxy->NAD(); }
    std::unique_ptr<TZelto> Proxy;
    // The queue: tickets are served in the order they were taken; the holder of the served ticket works.
    std::mutex TurnLock;
    std::condition_variable TurnDone;
    uint64_t NextTicket = 0;
    uint64_t Serving = 0;
    // The turn's holder only: when the controller was last found silent, and whether it answered last.
    steady_clock::time_point SilentAt{};
    bool Answered = false;
    TZeltoStatus Status;  // fAccessLock
    int Users = 0;        // fRecordsLock: requests holding the record
    std::list<int32_t>::iterator Lru;
};

namespace {

// Waits for a ticket's turn on a record and passes the turn on when it ends.
template <class TRec>
class TTurn {
public:
    TTurn(TRec& Rec, uint64_t Ticket) : fRec(Rec) {
        std::unique_lock<std::mutex> lock(fRec.TurnLock);
        fRec.TurnDone.wait(lock, [&] { return fRec.Serving == Ticket; });
    }
    ~TTurn() {
        {
            std::lock_guard<std::mutex> lock(fRec.TurnLock);
            ++fRec.Serving;
        }
        fRec.TurnDone.notify_all();
    }
    TTurn(const TTurn&) = delete;
    TTurn& operator=(const TTurn&) = delete;

private:
    TRec& fRec;
};

}  // namespace

TVarResult VarResultOf(const TGadgetVar& AVar, const TZelto* Proxy) {
    TVarResult r;
    r.Name = AVar.FullName();
    if (const TZeltoVar* v = AVar.ZeltoVar()) {
        r.Kind = TValueKind::Number;
        r.Number = v->ValueFloat();
        r.Description = v->Description();
        return r;
    }
    r.Text = "?";
    r.Error = kUnknownVariable;
    if (Proxy != nullptr && Proxy->ProgramState() == psSocketInit && !Proxy->ErrorS.empty()) r.Error = Proxy->ErrorS;
    return r;
}

TControllerService::TControllerService(TControllerServiceOptions Options, const TEthernetAdapterInfo* Adapter,
                                       const TEthernetAdapterInfoList* Adapters)
    : fOptions(Options),
      fAdapter(Adapter),
      fAdapters(Adapters),
      fSlots(Options.ParallelControllers),
      fSockets(Options.MaxOpenSockets, Options.SocketIdleTime),
      fReaders(std::max(Options.ParallelControllers, 1)) {}

TControllerService::~TControllerService() {
    fSockets.Stop();
    std::lock_guard<std::mutex> lock(fRecordsLock);
    fRecords.clear();
}

TControllerService::TRecord& TControllerService::NewRecord(std::unique_ptr<TZelto> P) {
    const int32_t nad = P->NAD();
    P->Comm().SetEthAdapter(fAdapter);
    P->Comm().SetEthAdapterList(fAdapters);
    auto rec = std::make_unique<TRecord>(std::move(P));
    TRecord* r = rec.get();
    // The ping's result reaches the status display at once, before the rest of the read.
    r->Proxy->OnPingResult = [this, r](const TZelto& Z) {
        std::lock_guard<std::mutex> lock(fAccessLock);
        r->Status.IP = Z.IP();
        r->Status.PingOK = Z.PingOK();
        PublishStatus(r->Status);
    };
    fLru.push_front(nad);
    r->Lru = fLru.begin();
    if (auto old = fRecords.find(nad); old != fRecords.end()) {
        fSockets.Forget(*old->second->Proxy);
        fLru.erase(old->second->Lru);
        old->second = std::move(rec);
    } else {
        fRecords.emplace(nad, std::move(rec));
    }
    return *r;
}

void TControllerService::HoldRecords(const TVarRequest& R, std::vector<TRecord*>& Work, std::vector<TRecord*>& Named) {
    std::lock_guard<std::mutex> lock(fRecordsLock);
    const auto hold = [this](TRecord& rec) {
        ++rec.Users;
        fLru.splice(fLru.begin(), fLru, rec.Lru);
    };
    for (const TControllerWork& w : R.Controllers) {
        const auto it = fRecords.find(w.NAD);
        TRecord& rec = it != fRecords.end() ? *it->second : NewRecord(std::make_unique<TZelto>(w.NAD));
        hold(rec);
        Work.push_back(&rec);
    }
    for (const int32_t nad : R.NamedOnly) {
        const auto it = fRecords.find(nad);
        if (it == fRecords.end()) continue;
        hold(*it->second);
        Named.push_back(it->second.get());
    }
    DropUnusedOverCap();
}

void TControllerService::ReleaseRecords(const std::vector<TRecord*>& Records) {
    std::lock_guard<std::mutex> lock(fRecordsLock);
    for (TRecord* rec : Records) --rec->Users;
    DropUnusedOverCap();
}

// The unused records longest unused go first; records in use stay (the cap is then passed for a while:
// by no more than the controllers of the requests running).
void TControllerService::DropUnusedOverCap() {
    auto at = fLru.end();
    while (static_cast<int>(fRecords.size()) > std::max(fOptions.MaxRecords, 1) && at != fLru.begin()) {
        --at;
        const auto it = fRecords.find(*at);
        if (it->second->Users > 0) continue;
        fSockets.Forget(*it->second->Proxy);
        at = fLru.erase(at);
        fRecords.erase(it);  // the proxy closes its socket; its ALC cache file stays
    }
}

TControllerRun TControllerService::Run(TVarRequest& R) {
    TControllerRun out;
    out.VarResults.resize(static_cast<std::size_t>(R.Vars.Count()));
    if (R.Query.ClientGone()) {
        out.Dropped = true;
        return out;
    }
    std::vector<TRecord*> work, named;
    HoldRecords(R, work, named);
    struct TRelease {
        TControllerService& s;
        std::vector<TRecord*>& a;
        std::vector<TRecord*>& b;
        ~TRelease() {
            a.insert(a.end(), b.begin(), b.end());
            s.ReleaseRecords(a);
        }
    } release{*this, work, named};
    // Every queue is joined now, so that the request's place is the order it came in.
    const auto joined = steady_clock::now();
    std::vector<uint64_t> tickets;
    for (TRecord* rec : work) {
        std::lock_guard<std::mutex> lock(rec->TurnLock);
        tickets.push_back(rec->NextTicket++);
    }
    if (R.Query.Counted) EnterAccessList(R, work, named);
    // The controllers in ascending NAD order, each request's the same way: a job waits only for turns
    // taken before its own, so no two requests can wait for each other.
    std::vector<char> dropped(work.size(), 0);
    fReaders.RunAll(static_cast<int>(work.size()), [&](int i) {
        const auto at = static_cast<std::size_t>(i);
        bool gone = false;
        Turn(*work[at], tickets[at], joined, R, R.Controllers[at], out, gone);
        dropped[at] = gone;
    });
    out.Dropped = std::any_of(dropped.begin(), dropped.end(), [](char d) { return d != 0; });
    return out;
}

void TControllerService::Turn(TRecord& Rec, uint64_t Ticket, steady_clock::time_point Joined, TVarRequest& R,
                              const TControllerWork& W, TControllerRun& Out, bool& Dropped) {
    TTurn<TRecord> turn(Rec, Ticket);
    if (R.Query.ClientGone()) {
        Dropped = true;
        return;
    }
    TZelto& p = *Rec.Proxy;
    // Found silent while this request waited: that failure is its answer too.
    const bool sharedSilence = Rec.SilentAt > Joined;
    {
        // A slot and the socket only for a turn that talks to the controller.
        const bool reads = !W.Vars.empty() && !sharedSilence;
        std::optional<TSlotUse> slot;
        std::optional<TSocketUse> use;
        if (reads || !W.AlcItems.empty()) {
            slot.emplace(fSlots, !Rec.Answered);
            if (R.Query.ClientGone()) {
                Dropped = true;
                return;
            }
            if (p.Password() != R.Query.Password) p.SetPassword(R.Query.Password);
            use.emplace(fSockets, p);
        }
        if (reads) {
            p.Read(R.Vars, false);
            Rec.Answered = p.PingOK();
            if (p.ProgramState() == psSocketInit && p.ErrorS == kNotResponding) Rec.SilentAt = steady_clock::now();
        }
        for (const int i : W.Vars) Out.VarResults[static_cast<std::size_t>(i)] = VarResultOf(*R.Vars.Items(i), &p);
        // Request variables never point into a proxy beyond its turn (a later ALC load replaces them).
        R.Vars.ClearZeltoVarReferencesByNAD(W.NAD);
        for (const int a : W.AlcItems) {
            TVarResult r;
            r.Name = R.SysVars[static_cast<std::size_t>(a)];
            r.Kind = TValueKind::Text;
            for (const std::string& line : p.AllocationFile()) r.Text += line + "\r\n";
            if (r.Text.empty()) {
                r.Text = "Alc file not found";
                r.Kind = TValueKind::Missing;
                r.Error = r.Text;
            }
            Out.AlcResults[a] = std::move(r);
        }
    }
    if (R.Query.Counted) {
        std::lock_guard<std::mutex> lock(fAccessLock);
        // Each item counts once, and a loaded ALC once more.
        Count(Rec, W.CountedItems + static_cast<int>(W.AlcItems.size()));
    }
}

void TControllerService::Count(TRecord& Rec, int Items) {
    // The proxy's counter, which only this lock guards, is copied for the status display.
    for (int i = 0; i < Items; ++i) Rec.Proxy->RequestCount = CountedUp(Rec.Proxy->RequestCount);
    Rec.Proxy->LastRequestTimestamp = Now();
    Rec.Status.RequestCount = Rec.Proxy->RequestCount;
    Rec.Status.LastRequestTimestamp = Rec.Proxy->LastRequestTimestamp;
    PublishStatus(Rec.Status);
}

void TControllerService::PublishStatus(const TZeltoStatus& S) {
    for (auto& slot : fSnapshot)
        if (slot && slot->NAD == S.NAD) slot = S;
}

void TControllerService::EnterAccessList(const TVarRequest& R, const std::vector<TRecord*>& Work,
                                         const std::vector<TRecord*>& Named) {
    std::unordered_map<int32_t, TRecord*> byNad;
    for (TRecord* rec : Work) byNad.emplace(rec->Status.NAD, rec);
    for (TRecord* rec : Named) byNad.emplace(rec->Status.NAD, rec);
    // The slots fill in turn, each controller once: the last three distinct controllers of the request.
    std::array<TRecord*, 3> slots{};
    std::size_t next = 0;
    for (const int32_t nad : R.Named) {
        const auto it = byNad.find(nad);
        if (it == byNad.end() || std::find(slots.begin(), slots.end(), it->second) != slots.end()) continue;
        slots[next] = it->second;
        next = (next + 1) % slots.size();
    }
    std::lock_guard<std::mutex> lock(fAccessLock);
    // Items that ask no controller are served now; the others when their controller's turn has come.
    std::map<int32_t, int> items;
    for (const int32_t nad : R.Named) ++items[nad];
    for (TRecord* rec : Named) {
        const int n = items[rec->Status.NAD];
        Count(*rec, n);
    }
    for (std::size_t i = 0; i < slots.size(); ++i)
        fSnapshot[i] = slots[i] ? std::optional<TZeltoStatus>(slots[i]->Status) : std::nullopt;
}

std::array<std::optional<TZeltoStatus>, 3> TControllerService::LastAccessSnapshot() const {
    std::lock_guard<std::mutex> lock(fAccessLock);
    return fSnapshot;
}

void TControllerService::Scan(const TVarQuery& Query, std::vector<std::string>& NADList,
                              std::vector<std::string>& IPList) {
    {
        std::unique_lock<std::mutex> lock(fScanLock);
        if (fScanning) {
            const uint64_t running = fScanGeneration;
            fScanDone.wait(lock, [&] { return fScanGeneration != running; });
            NADList = fScanNADs;
            IPList = fScanIPs;
            return;
        }
        fScanning = true;
    }
    std::vector<std::string> nads, ips;
    try {
        TSlotUse slot(fSlots, true);  // half a second of listening: never in the place kept for answering ones
        TCommunicator comm;
        comm.SetEthAdapter(fAdapter);
        comm.SetEthAdapterList(fAdapters);
        comm.SetPasswordCRC(PasswordChecksum(std::string_view(Query.Password), 0));
        comm.Open();  // detection finds whatever its broadcast brings back
        comm.DetectZeltos(&nads, &ips, kDetectTimeout);
        comm.Close();
    } catch (...) {
        std::lock_guard<std::mutex> lock(fScanLock);
        fScanning = false;
        ++fScanGeneration;
        fScanNADs.clear();
        fScanIPs.clear();
        fScanDone.notify_all();
        throw;
    }
    {
        std::lock_guard<std::mutex> lock(fScanLock);
        fScanNADs = nads;
        fScanIPs = ips;
        fScanning = false;
        ++fScanGeneration;
    }
    fScanDone.notify_all();
    NADList = std::move(nads);
    IPList = std::move(ips);
}

void TControllerService::AddProxy(std::unique_ptr<TZelto> P) {
    std::lock_guard<std::mutex> lock(fRecordsLock);
    NewRecord(std::move(P));
    DropUnusedOverCap();
}

TZelto* TControllerService::Proxy(int32_t NAD) const {
    std::lock_guard<std::mutex> lock(fRecordsLock);
    const auto it = fRecords.find(NAD);
    return it == fRecords.end() ? nullptr : it->second->Proxy.get();
}

int TControllerService::RecordCount() const {
    std::lock_guard<std::mutex> lock(fRecordsLock);
    return static_cast<int>(fRecords.size());
}

// ---- the gate for changes that no request may see half made

TControllerService::TRequestScope::TRequestScope(TControllerService& S) : fService(S) {
    std::unique_lock<std::mutex> lock(fService.fGateLock);
    fService.fGateChanged.wait(lock, [this] { return !fService.fExclusive; });
    ++fService.fInside;
}

TControllerService::TRequestScope::~TRequestScope() {
    {
        std::lock_guard<std::mutex> lock(fService.fGateLock);
        --fService.fInside;
    }
    fService.fGateChanged.notify_all();
}

void TControllerService::Exclusive(const std::function<void()>& Change) {
    std::unique_lock<std::mutex> lock(fGateLock);
    fGateChanged.wait(lock, [this] { return !fExclusive; });
    fExclusive = true;
    fGateChanged.wait(lock, [this] { return fInside == 0; });
    try {
        Change();
    } catch (...) {
        fExclusive = false;
        fGateChanged.notify_all();
        throw;
    }
    fExclusive = false;
    fGateChanged.notify_all();
}

int TControllerService::Running() const {
    std::lock_guard<std::mutex> lock(fGateLock);
    return fInside;
}

}  // namespace zelto
