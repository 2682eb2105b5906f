#include "integration/EndToEnd.h"

#include <signal.h>

#include <filesystem>
#include <regex>

#include "net/PrivateNetwork.h"

namespace zelto::test {

namespace fs = std::filesystem;

namespace {
constexpr int kStartMs = 10000;
}

std::string TestAlc(const std::string& Name) { return std::string(ZELTO_TEST_DATA) + "/" + Name; }

std::ostream& operator<<(std::ostream& os, const TEntry& e) {
    return os << "{" << e.Name << ", " << e.Value << ", " << e.Description << "}";
}

std::vector<TEntry> Entries(const std::string& Document) {
    static const std::regex var(
        "<var><name>([^<]*)</name><value>([^<]*(?:<item>[^<]*</item>[^<]*)*)</value><description>([^<]*)</description></var>");
    std::vector<TEntry> out;
    for (std::sregex_iterator it(Document.begin(), Document.end(), var), end; it != end; ++it)
        out.push_back(TEntry{(*it)[1], (*it)[2], (*it)[3]});
    return out;
}

void TEndToEnd::SetUp() {
    ZELTO_REQUIRE_PRIVATE_NETWORK();
    fs::copy_file(ZELTO_SERVER_BINARY, fDir / "ZeltoHttpServer");
    fs::create_directories(fDir / "cache");
    fs::create_directories(fDir / "cfg");
    fEnv = {{"XDG_CONFIG_HOME", fDir / "cfg"}, {"TEMP", fDir / "cache"}, {"LC_ALL", "C"}};
}

void TEndToEnd::TearDown() {
    StopServer();
    StopSim();
}

bool TEndToEnd::StartSim(const std::vector<std::string>& Args) {
    fSim = std::make_unique<TTestProcess>(ZELTO_SIM_BINARY, Args, fDir.Path().string(), fEnv, "sim");
    return fSim->WaitForStdout("ZeltoSim listening", kStartMs);
}

bool TEndToEnd::StartSimBehindRelay(std::vector<std::string> Args) {
    constexpr uint16_t kSimPort = 9442;  // the namespace is the test's own: no other program uses it
    fRelay = std::make_unique<TQLinkRelay>(8442, kSimPort);
    if (!fRelay->Ok()) return false;
    Args.insert(Args.end(), {"--bind", "127.0.0.1", "--port", std::to_string(kSimPort)});
    return StartSim(Args);
}

void TEndToEnd::StopSim() {
    fRelay.reset();
    if (!fSim) return;
    fSim->Signal(SIGTERM);
    fSim->Wait(kStartMs);
    fSim.reset();
}

bool TEndToEnd::StartServer(const std::vector<std::string>& Extra) {
    std::vector<std::string> args{"--headless", "--port", "0", "--adapter", "lo"};
    args.insert(args.end(), Extra.begin(), Extra.end());
    fServer = std::make_unique<TTestProcess>(fDir / "ZeltoHttpServer", args, fDir.Path().string(), fEnv, "server");
    fPort = 0;
    if (!fServer->WaitForStdout("listening on port ", kStartMs)) return false;
    std::smatch m;
    const std::string out = fServer->Stdout();
    if (!std::regex_search(out, m, std::regex("listening on port ([0-9]+)"))) return false;
    fPort = static_cast<uint16_t>(std::stoi(m[1]));
    return true;
}

void TEndToEnd::StopServer() {
    if (!fServer) return;
    fServer->Signal(SIGTERM);
    EXPECT_EQ(fServer->Wait(kStartMs), 0) << fServer->Stderr();
    fServer.reset();
}

THttpReply TEndToEnd::Query(const std::string& QueryText) const { return Get(fPort, "/?" + QueryText); }

std::vector<TEntry> TEndToEnd::Vars(const std::string& QueryText, std::chrono::milliseconds* Took) const {
    const auto start = std::chrono::steady_clock::now();
    const THttpReply reply = Query(QueryText);
    if (Took) *Took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(reply.Status, 200) << QueryText << ": " << reply.Body;
    return Entries(reply.Body);
}

std::string TEndToEnd::Value(const std::string& QueryText) const {
    const auto entries = Vars(QueryText);
    return entries.size() == 1 ? entries[0].Value : "<" + std::to_string(entries.size()) + " entries>";
}

}  // namespace zelto::test
