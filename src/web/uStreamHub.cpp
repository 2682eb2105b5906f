#include "web/uStreamHub.h"

#include <algorithm>
#include <set>

#include "base/NumberText.h"
#include "web/uJsonText.h"
#include "web/uZeltoIntf.h"

namespace zelto {

int64_t StreamGroupOf(const std::string& Item) {
    if (Item.empty() || (Item[0] != 'c' && Item[0] != 'C')) return kServerGroup;
    const std::size_t dot = Item.find('.');
    int32_t nad = 0;
    if (dot == std::string::npos || dot < 1 || !TryParseWholeNumber(std::string_view(Item).substr(1, dot - 1), nad))
        return kServerGroup;
    return nad;
}

TStreamHub::TStreamHub(TReader Reader, TOptions Options)
    : fReader(std::move(Reader)), fOptions(Options), fThread([this] { Run(); }) {}

TStreamHub::~TStreamHub() { Stop(); }

bool TStreamHub::HasRoom() const {
    std::lock_guard<std::mutex> lock(fLock);
    return !fStopped && StreamCountLocked() < fOptions.MaxStreams;
}

std::size_t TStreamHub::Count() const {
    std::lock_guard<std::mutex> lock(fLock);
    return StreamCountLocked();
}

std::size_t TStreamHub::StreamCountLocked() const {
    return static_cast<std::size_t>(std::count_if(fSubscribers.begin(), fSubscribers.end(), [](const auto& s) { return s->Stream != nullptr; }));
}

std::chrono::milliseconds TStreamHub::RoundLocked() const {
    std::chrono::milliseconds round = fOptions.Interval;
    for (const auto& s : fSubscribers) round = std::min(round, s->Interval);
    return std::max(round, std::chrono::milliseconds(1));
}

TStreamHub::TListenerId TStreamHub::Subscribe(std::vector<std::string> Items, std::chrono::milliseconds Interval,
                                              TListener Listener) {
    auto s = std::make_unique<TSubscriber>();
    s->Items = std::move(Items);
    s->Listener = std::move(Listener);
    s->Interval = Interval;
    s->Due = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(fLock);
    s->Id = fNextId++;
    fSubscribers.push_back(std::move(s));
    return fSubscribers.back()->Id;
}

void TStreamHub::Unsubscribe(TListenerId Id) {
    std::lock_guard<std::mutex> lock(fLock);
    std::erase_if(fSubscribers, [&](const auto& s) { return s->Listener && s->Id == Id; });
}

void TStreamHub::Resend(TListenerId Id) {
    std::lock_guard<std::mutex> lock(fLock);
    for (const auto& s : fSubscribers) {
        if (!s->Listener || s->Id != Id) continue;
        s->Sent.clear();
        s->Due = std::chrono::steady_clock::now();
    }
}

std::string TStreamHub::VarsEvent(const std::vector<std::string>& JsonEntries) {
    return "event: vars\ndata: " + JsonVarsDocumentOf(JsonEntries) + "\n\n";
}

TStreamHub::TOpenResult TStreamHub::Open(std::shared_ptr<THttpStream> Stream, const std::string& Query,
                                         const TVarResults& First) {
    auto s = std::make_unique<TSubscriber>();
    s->Stream = std::move(Stream);
    s->Items = SplitRequestItems(Query);
    std::vector<std::string> entries;
    for (const TVarResult& r : First) {
        entries.push_back(JsonVarEntry(r));
        s->Sent.emplace(r.Name, entries.back());
    }
    s->LastSend = std::chrono::steady_clock::now();
    s->Interval = fOptions.Interval;
    s->Due = s->LastSend + s->Interval;
    std::lock_guard<std::mutex> lock(fLock);
    s->Id = fNextId++;
    if (fStopped) return TOpenResult::Stopped;
    if (StreamCountLocked() >= fOptions.MaxStreams) return TOpenResult::Full;
    s->Stream->Send(VarsEvent(entries));
    fSubscribers.push_back(std::move(s));
    return TOpenResult::Opened;
}

void TStreamHub::Stop() {
    {
        std::lock_guard<std::mutex> lock(fLock);
        if (fStopped && !fThread.joinable()) return;
        fStopped = true;
    }
    fWake.notify_all();
    if (fThread.joinable()) fThread.join();
    std::lock_guard<std::mutex> lock(fLock);
    for (const auto& s : fSubscribers)
        if (s->Stream) s->Stream->Close();
    fSubscribers.clear();
}

void TStreamHub::Run() {
    auto next = std::chrono::steady_clock::now() + fOptions.Interval;
    std::unique_lock<std::mutex> lock(fLock);
    while (!fStopped) {
        if (fWake.wait_until(lock, next, [this] { return fStopped; })) break;
        lock.unlock();
        Tick();
        lock.lock();
        // The next round starts a round after this one began; a round that took longer starts at once.
        next += RoundLocked();
        const auto now = std::chrono::steady_clock::now();
        if (next < now) next = now;
    }
}

void TStreamHub::Tick() {
    // Which items each controller is asked for; streams whose client left are dropped here.
    // A subscriber is due when its time comes within half a round, so that one whose interval is a whole
    // number of rounds is read every that many rounds, not one later.
    std::map<int64_t, std::vector<std::string>> groups;
    std::set<TListenerId> due;
    std::set<int64_t> named;  // the controllers any subscriber names, due or not
    {
        std::lock_guard<std::mutex> lock(fLock);
        std::erase_if(fSubscribers, [](const auto& s) { return s->Stream && s->Stream->Closed(); });
        const auto soon = std::chrono::steady_clock::now() + RoundLocked() / 2;
        std::set<std::string> seen;
        for (const auto& s : fSubscribers) {
            for (const std::string& item : s->Items) named.insert(StreamGroupOf(item));
            if (s->Due > soon) continue;
            due.insert(s->Id);
            for (const std::string& item : s->Items)
                if (seen.insert(item).second) groups[StreamGroupOf(item)].push_back(item);
        }
    }
    // A controller keeps its back-off while anyone names it, also through rounds in which nobody is due.
    std::erase_if(fGroups, [&](const auto& g) { return !named.contains(g.first); });
    std::map<std::string, std::string> entries;
    std::map<std::string, TVarResult> results;
    for (const auto& [key, items] : groups) {
        TGroupState& state = fGroups[key];
        if (std::chrono::steady_clock::now() < state.Due) continue;
        std::string query;
        for (const std::string& item : items) query += (query.empty() ? "" : "&") + item;
        bool failed = false;
        try {
            const TVarResults read = fReader(query);
            for (const TVarResult& r : read) {
                entries.emplace(r.Name, JsonVarEntry(r));
                results.emplace(r.Name, r);
            }
            failed = key != kServerGroup && !read.empty() && std::all_of(read.begin(), read.end(), [](const auto& r) {
                return r.Kind == TValueKind::Missing && r.Error != kUnknownVariable;
            });
        } catch (const std::exception&) {
            // An unexpected error of one controller (an ALC that does not parse) leaves its entries as
            // they were; the streams hear from it again when a later round reads it.
            failed = true;
        }
        state.Failures = failed ? state.Failures + 1 : 0;
        if (failed) {
            const auto wait = std::min<std::chrono::milliseconds>(fOptions.Interval * (1 << std::min(state.Failures, 10)), kMaxBackOff);
            state.Due = std::chrono::steady_clock::now() + wait;
        }
    }
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(fLock);
    // A listener unsubscribed meanwhile is gone; one subscribed meanwhile waits for the next round.
    std::erase_if(fSubscribers, [&](const auto& s) {
        if (!due.contains(s->Id)) return false;
        s->Due = std::max(s->Due + s->Interval, now);
        if (s->Listener) {
            CallListener(*s, entries, results);
            return false;
        }
        return !SendChanges(*s, entries, now);
    });
}

std::vector<std::string> TStreamHub::TakeChanged(TSubscriber& S, const std::map<std::string, std::string>& Entries) {
    std::vector<std::string> changed;
    for (const std::string& item : S.Items) {
        const auto e = Entries.find(item);
        if (e == Entries.end()) continue;
        auto& sent = S.Sent[item];
        if (sent == e->second) continue;
        sent = e->second;
        changed.push_back(item);
    }
    return changed;
}

void TStreamHub::CallListener(TSubscriber& S, const std::map<std::string, std::string>& Entries,
                              const std::map<std::string, TVarResult>& Results) {
    TVarResults changed;
    for (const std::string& item : TakeChanged(S, Entries)) changed.push_back(Results.at(item));
    if (!changed.empty()) S.Listener(changed);
}

bool TStreamHub::SendChanges(TSubscriber& S, const std::map<std::string, std::string>& Entries,
                             std::chrono::steady_clock::time_point Now) {
    std::vector<std::string> changed;
    for (const std::string& item : TakeChanged(S, Entries)) changed.push_back(Entries.at(item));
    if (!changed.empty()) {
        S.LastSend = Now;
        return S.Stream->Send(VarsEvent(changed));
    }
    if (Now - S.LastSend >= fOptions.KeepAlive) {
        S.LastSend = Now;
        return S.Stream->Send(kKeepAlive);
    }
    return !S.Stream->Closed();
}

}  // namespace zelto
