#pragma once
// A request service for tests: records what the handler hands it and answers from a function.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/fMain.h"
#include "app/uRequestService.h"
#include "web/uZeltoIntf.h"

namespace zelto::test {

class TFakeRequestService : public IRequestService {
public:
    struct TCall {
        std::string Password;
        std::string Query;
        bool ReadOnly = false;
    };

    TVarAnswer ReadVars(const TVarQuery& Query) override {
        {
            std::lock_guard<std::mutex> lock(fMutex);
            fCalls.push_back({Query.Password, Query.Params, Query.ReadOnly});
        }
        TVarAnswer a;
        a.Document = Answer ? Answer(Query.Params) : "<xml>" + Query.Params + "</xml>";
        return a;
    }
    // One text entry per item, its value the item itself; recorded like ReadVars (uncounted readings apart).
    TVarAnswer ReadResults(const TVarQuery& Query) override {
        {
            std::lock_guard<std::mutex> lock(fMutex);
            (Query.Counted ? fCalls : fUncounted).push_back({Query.Password, Query.Params, Query.ReadOnly});
        }
        fChanged.notify_all();
        TVarAnswer a;
        if (Results) {
            a.Results = Results(Query.Params);
            return a;
        }
        for (const std::string& item : SplitRequestItems(Query.Params))
            a.Results.push_back(TVarResult{item, TValueKind::Text, 0, item, {}, {}, {}});
        return a;
    }
    std::vector<TCall> Uncounted() const {
        std::lock_guard<std::mutex> lock(fMutex);
        return fUncounted;
    }
    // Waits (at most five seconds) until an uncounted reading has come.
    bool WaitUncounted() {
        std::unique_lock<std::mutex> lock(fMutex);
        return fChanged.wait_for(lock, std::chrono::seconds(5), [this] { return !fUncounted.empty(); });
    }
    void SetEthernetAdapter(const std::string& EthernetAdapterID) override {
        std::lock_guard<std::mutex> lock(fMutex);
        fAdapter = EthernetAdapterID;
        fAdapterSet = true;
    }
    std::array<std::optional<TControllerStatus>, 3> LastAccessList() const override { return {}; }

    std::vector<TCall> Calls() const {
        std::lock_guard<std::mutex> lock(fMutex);
        return fCalls;
    }
    std::string Adapter() const {
        std::lock_guard<std::mutex> lock(fMutex);
        return fAdapterSet ? fAdapter : "<not set>";
    }

    std::function<std::string(const std::string&)> Answer;
    std::function<TVarResults(const std::string&)> Results;

private:
    mutable std::mutex fMutex;
    std::condition_variable fChanged;
    std::string fAdapter;
    bool fAdapterSet = false;
    std::vector<TCall> fCalls;
    std::vector<TCall> fUncounted;
};

// The program's options for a test in folder dir: settings and served files there, the listener on a free
// port of the loopback address.
inline TMainOptions LoopbackMainOptions(const std::string& dir) {
    TMainOptions options;
    options.SettingsRoot = dir + "/cfg";
    options.ProgramDir = dir;
    options.PortOverride = 0;
    options.BindAddress = "127.0.0.1";
    return options;
}

}  // namespace zelto::test
