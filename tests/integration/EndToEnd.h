#pragma once
// The real ZeltoHttpServer and ZeltoSim processes in the test's own network namespace (entered by the test
// program's main), talking Q-link over the loopback adapter; the test is an HTTP client.
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/TestProcess.h"
#include "integration/QLinkRelay.h"
#include "platform/TempDir.h"
#include "platform/TestHttpClient.h"

namespace zelto::test {

// The test programs' ALC files.
std::string TestAlc(const std::string& Name);

// One <var> entry of a response document.
struct TEntry {
    std::string Name, Value, Description;
    bool operator==(const TEntry&) const = default;
};
std::ostream& operator<<(std::ostream& os, const TEntry& e);

// The entries of an XML response document, in order; empty when the text is not such a document.
std::vector<TEntry> Entries(const std::string& Document);

class TEndToEnd : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts ZeltoSim with these arguments; false when it did not report that it listens.
    bool StartSim(const std::vector<std::string>& Args);
    void StopSim();
    // Starts ZeltoSim on another port behind a relay that records every request (fRelay).
    bool StartSimBehindRelay(std::vector<std::string> Args);
    // Starts the server on a free port over the loopback adapter, with Extra arguments; false when it did
    // not come up.
    bool StartServer(const std::vector<std::string>& Extra = {});
    void StopServer();

    THttpReply Query(const std::string& QueryText) const;
    // The entries of a variable request's answer, with the time it took.
    std::vector<TEntry> Vars(const std::string& QueryText, std::chrono::milliseconds* Took = nullptr) const;
    std::string Value(const std::string& QueryText) const;

    std::string CacheDir() const { return fDir / "cache"; }

    TTempDir fDir;
    std::map<std::string, std::string> fEnv;
    std::unique_ptr<TTestProcess> fSim;
    std::unique_ptr<TQLinkRelay> fRelay;
    std::unique_ptr<TTestProcess> fServer;
    uint16_t fPort = 0;
};

}  // namespace zelto::test
