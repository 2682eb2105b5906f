// The real program, started headless from a folder of its own with its own settings folder, in a network
// namespace of its own (so its ports and its single-instance name meet nothing else), as a client uses it.
#include <signal.h>
#include <sys/socket.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

#include <gtest/gtest.h>

#include "app/TestProcess.h"
#include "net/PrivateNetwork.h"
#include "platform/TempDir.h"
#include "platform/TestHttpClient.h"

using namespace zelto::test;
namespace fs = std::filesystem;

namespace {

class ServerProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZELTO_REQUIRE_PRIVATE_NETWORK();
        fs::copy_file(ZELTO_SERVER_BINARY, fDir / "ZeltoHttpServer");
        WriteFileText(fDir / "page.html", "<html><body>Zelto</body></html>\n");
        WriteFileText(fDir / "cfg/Tessvik/ZeltoHttpServer.conf", "LogToFile=1\nPort=80\n");
        fEnv = {{"XDG_CONFIG_HOME", fDir / "cfg"}};
    }

    // Starts the server on a free port and returns that port (0 when it did not come up).
    uint16_t StartServer() {
        fServer = std::make_unique<TTestProcess>(fDir / "ZeltoHttpServer", std::vector<std::string>{"--headless", "--port", "0"},
                                                 fDir.Path().string(), fEnv, "server");
        if (!fServer->WaitForStdout("listening on port ", 10000)) return 0;
        std::smatch m;
        const std::string out = fServer->Stdout();
        if (!std::regex_search(out, m, std::regex("listening on port ([0-9]+)"))) return 0;
        return static_cast<uint16_t>(std::stoi(m[1]));
    }

    int RunToEnd(const std::string& program, const std::vector<std::string>& args, const std::string& name,
                 std::string* out = nullptr, std::string* err = nullptr) {
        TTestProcess p(program, args, fDir.Path().string(), fEnv, name);
        const int rc = p.Wait(10000);
        if (out) *out = p.Stdout();
        if (err) *err = p.Stderr();
        return rc;
    }

    static long RssKiB(pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
        }
        return -1;
    }

    TTempDir fDir;
    std::map<std::string, std::string> fEnv;
    std::unique_ptr<TTestProcess> fServer;
};

}  // namespace

TEST_F(ServerProcessTest, ServesFilesLoginsAndRefusesWhatItMust) {
    const uint16_t port = StartServer();
    ASSERT_NE(port, 0) << fServer->Stderr();

    const THttpReply root = Get(port, "/");
    EXPECT_EQ(root.Status, 404);
    EXPECT_EQ(root.Body, "The requested URL / was not found on this server.");

    const THttpReply page = Get(port, "/page.html");
    EXPECT_EQ(page.Status, 200);
    EXPECT_EQ(page.Header("content-type"), "text/html");
    EXPECT_EQ(page.Body, "<html><body>Zelto</body></html>\n");

    const THttpReply login = Get(port, "/?username=a&password=");
    EXPECT_EQ(login.Status, 200);
    EXPECT_EQ(login.Header("content-type"), "text/html; charset=ISO-8859-1");
    EXPECT_EQ(login.Body, "1");

    // Variable requests go to the request service and come back as XML, also when "username=" is there.
    const THttpReply version = Get(port, "/?sys.server_version");
    EXPECT_EQ(version.Status, 200);
    EXPECT_EQ(version.Header("content-type"), "text/xml; charset=us-ascii");
    EXPECT_EQ(version.Body,
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<data>\r\n<var><name>sys.server_version</name>"
              "<value>1.0.3</value><description>ZeltoHttpServer version.</description></var>\r\n</data>");
    for (const char* variable : {"/?password=1", "/?c10.password=5&username=x"}) {
        const THttpReply r = Get(port, variable);
        EXPECT_EQ(r.Status, 200) << variable;
        EXPECT_EQ(r.Header("content-type"), "text/xml; charset=us-ascii") << variable;
        EXPECT_NE(r.Body.find("password"), std::string::npos) << r.Body;
    }

    // Climbing out of the folder, and the log of every request, are answered like missing files.
    WriteFileText(fDir.Path().parent_path() / ("zelto_outside_" + std::to_string(::getpid())), "x");
    const std::vector<std::string> refused = {"/../", "/%2e%2e/", "/..%2f" + fDir.Path().filename().string() + "/page.html",
                                              "/ZeltoHttpServer.log"};
    for (const std::string& doc : refused) {
        const THttpReply r = ParseReply(SendRaw(port, "GET " + doc + " HTTP/1.1\r\nHost: localhost\r\n\r\n"));
        EXPECT_EQ(r.Status, 404) << doc;
    }
    fs::remove(fDir.Path().parent_path() / ("zelto_outside_" + std::to_string(::getpid())));

    // Every request counted, 404s and refusals included: this is the eleventh.
    const THttpReply count = Get(port, "/?sys.http_request_count");
    EXPECT_NE(count.Body.find("<name>sys.http_request_count</name><value>11</value>"), std::string::npos) << count.Body;
    EXPECT_TRUE(fs::exists(fDir / "ZeltoHttpServer.log"));

    // The log holds one line per request, beside the program.
    const std::string log = ReadFileText(fDir / "ZeltoHttpServer.log");
    EXPECT_NE(log.find("File request from 127.0.0.1: /page.html\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Login request from 127.0.0.1: username=a&password=***\r\n"), std::string::npos);
    EXPECT_NE(log.find("HTTP request from 127.0.0.1: password=1\r\n"), std::string::npos);

    // SIGTERM stops it cleanly; the settings are saved, the --port of this run is not.
    fServer->Signal(SIGTERM);
    EXPECT_EQ(fServer->Wait(10000), 0);
    EXPECT_EQ(ReadFileText(fDir / "cfg/Tessvik/ZeltoHttpServer.conf"),
              "LogToFile=1\nPort=80\nTop=100\nLeft=100\nWidth=475\nHeight=340\nMaximized=0\nQLinkPassword=\n");
}

TEST_F(ServerProcessTest, HugeRequestLinesAreRefusedWithFlatMemory) {
    const uint16_t port = StartServer();
    ASSERT_NE(port, 0) << fServer->Stderr();
    const std::string huge = "GET /?" + std::string(100 * 1024, 'a') + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
    const int status = ParseReply(SendRaw(port, huge)).Status;
    EXPECT_TRUE(status == 414 || status == 431) << status;
    // Warm up (thread stacks, allocator pools), then many more must not grow the server.
    for (int i = 0; i < 50; ++i) ParseReply(SendRaw(port, huge));
    const long before = RssKiB(fServer->Pid());
    for (int i = 0; i < 200; ++i) EXPECT_NE(ParseReply(SendRaw(port, huge)).Status, 0);
    const long after = RssKiB(fServer->Pid());
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)  // their shadow memory grows by itself
    EXPECT_LT(after - before, 2048) << before << " KiB before, " << after << " KiB after";
#else
    (void)before;
    (void)after;
#endif
    EXPECT_EQ(Get(port, "/page.html").Status, 200);
}

TEST_F(ServerProcessTest, SlowClientIsCutOffAfterTheDeadlineWhileOthersAreServed) {
    const uint16_t port = StartServer();
    ASSERT_NE(port, 0) << fServer->Stderr();
    const int slow = ConnectLocal(port);
    ASSERT_GE(slow, 0);
    const std::string request = "GET /page.html HTTP/1.1\r\nHost: localhost\r\n\r\n";
    const auto started = std::chrono::steady_clock::now();
    std::string reply;
    int served = 0;
    // One byte a second, paced by waiting for the server to answer.
    for (std::size_t i = 0; i < request.size() && reply.empty(); ++i) {
        (void)::send(slow, &request[i], 1, MSG_NOSIGNAL);
        if (Get(port, "/page.html").Status == 200) ++served;
        pollfd p{slow, POLLIN, 0};
        if (::poll(&p, 1, 1000) > 0) reply = ReadAll(slow, 2000);
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    ::close(slow);
    EXPECT_EQ(ParseReply(reply).Status, 408);
    EXPECT_GE(elapsed, std::chrono::seconds(9));
    EXPECT_LT(elapsed, std::chrono::seconds(14));
    EXPECT_GE(served, 9);
}

TEST_F(ServerProcessTest, SecondCopyWakesTheFirstAndEnds) {
    const uint16_t port = StartServer();
    ASSERT_NE(port, 0) << fServer->Stderr();
    std::string out;
    EXPECT_EQ(RunToEnd(fDir / "ZeltoHttpServer", {"--headless", "--port", "0"}, "second", &out), 0);
    EXPECT_NE(out.find("already running"), std::string::npos) << out;
    EXPECT_TRUE(fServer->WaitForStdout("Another copy was started", 5000));
    EXPECT_TRUE(fServer->Running());
    EXPECT_EQ(Get(port, "/page.html").Status, 200);

    // The same program under another name is another instance; on a taken port it ends with status 1.
    fs::copy_file(fDir / "ZeltoHttpServer", fDir / "OtherServer");
    std::string err;
    EXPECT_EQ(RunToEnd(fDir / "OtherServer", {"--headless", "--port", std::to_string(port)}, "other", nullptr, &err), 1);
    EXPECT_EQ(err, "Could not bind socket. Address and port are already in use.\n");
}

TEST_F(ServerProcessTest, CommandLineInformation) {
    const struct {
        std::vector<std::string> args;
        int rc;
        std::string outPart, errPart;
    } cases[] = {
        {{"--version"}, 0, "ZeltoHttpServer 1.0.3\n", ""},
        {{"--help"}, 0, "--port N", ""},
        {{"--port", "x"}, 2, "", "--port needs a number"},
        {{"--bogus"}, 2, "", "unknown argument '--bogus'"},
    };
    for (const auto& c : cases) {
        std::string out, err;
        EXPECT_EQ(RunToEnd(fDir / "ZeltoHttpServer", c.args, "info", &out, &err), c.rc) << c.args[0];
        EXPECT_NE(out.find(c.outPart), std::string::npos) << c.args[0] << ": " << out;
        EXPECT_NE(err.find(c.errPart), std::string::npos) << c.args[0] << ": " << err;
    }
    std::string out;
    RunToEnd(fDir / "ZeltoHttpServer", {"--version"}, "version", &out);
    EXPECT_EQ(out, "ZeltoHttpServer 1.0.3\n");
}
