// A variable request end to end: HTTP client -> ZeltoHttpServer -> Q-link over loopback -> ZeltoSim.
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "integration/EndToEnd.h"
#include "qlink/hQLinkCommands.h"
#include "qlink/uQLink.h"
#include "zip/uZipFile.h"

using namespace zelto::test;
using namespace std::chrono_literals;

TEST_F(TEndToEnd, SystemVariables) {
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    const THttpReply reply = Query("sys.server_version&sys.http_request_count&sys.server_uptime&sys.http_port_status&"
                                   "sys.scgi_port_status&sys.nope&sys.alc_file&c10.sys.nad_list");
    EXPECT_EQ(reply.Status, 200);
    EXPECT_EQ(reply.Header("content-type").rfind("text/xml", 0), 0u) << reply.Header("content-type");
    EXPECT_EQ(reply.Body.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<data>\r\n", 0), 0u);
    const auto e = Entries(reply.Body);
    ASSERT_EQ(e.size(), 8u) << reply.Body;
    EXPECT_EQ(e[0], (TEntry{"sys.server_version", "1.0.3", "ZeltoHttpServer version."}));
    EXPECT_EQ(e[1], (TEntry{"sys.http_request_count", "1", "Total number of http requests."}));
    EXPECT_TRUE(std::regex_match(e[2].Value, std::regex("0 days, 0:00:[0-9][0-9]"))) << e[2].Value;
    EXPECT_EQ(e[3].Value, "active");
    EXPECT_EQ(e[4].Value, "active");
    EXPECT_EQ(e[5], (TEntry{"sys.nope", "?", ""}));
    EXPECT_EQ(e[6], (TEntry{"sys.alc_file", "?", ""}));
    EXPECT_EQ(e[7], (TEntry{"c10.sys.nad_list", "", ""}));
    EXPECT_EQ(Value("sys.http_request_count"), "2");
}

TEST_F(TEndToEnd, NadListFindsTheControllers) {
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    std::chrono::milliseconds took{};
    auto e = Vars("sys.nad_list", &took);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0], (TEntry{"sys.nad_list", "", "List of autodetected NADs."})) << "no controller on the network";
    EXPECT_GE(took, 450ms) << "the detection listens for its whole time";

    ASSERT_TRUE(StartSim({"10", "12"})) << fSim->Stderr();
    e = Vars("sys.nad_list");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_TRUE(e[0].Value == "      <item>10</item>\r\n      <item>12</item>\r\n" ||
                e[0].Value == "      <item>12</item>\r\n      <item>10</item>\r\n")
        << e[0].Value;
}

TEST_F(TEndToEnd, SilentControllerGivesQuestionMarks) {
    ASSERT_TRUE(StartSim({"10"})) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    std::chrono::milliseconds took{};
    const auto e = Vars("c77.temp&c77.level=3&sys.server_version", &took);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0], (TEntry{"c77.temp", "?", ""}));
    EXPECT_EQ(e[1], (TEntry{"c77.level", "?", ""}));
    EXPECT_EQ(e[2].Value, "1.0.3");
    // Three pings of 500 ms, and nothing more for a controller that never answered.
    EXPECT_GE(took, 1400ms);
    EXPECT_LT(took, 2500ms);
}

namespace {
const std::vector<std::string> kTestProgram = {"--alc", TestAlc("test.alc")};
}

TEST_F(TEndToEnd, OverviewExample) {
    ASSERT_TRUE(StartSim({"--nad", "10", "--alc", ZELTO_DEMO_ALC})) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    const auto e = Vars("c10.temp&sys.server_version");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].Name, "c10.temp");
    EXPECT_TRUE(std::regex_match(e[0].Value, std::regex("-?[0-9]+(\\.[0-9]+)?"))) << e[0].Value;
    EXPECT_EQ(e[0].Description, "Tank temperature [&#176;C]");
    EXPECT_EQ(e[1], (TEntry{"sys.server_version", "1.0.3", "ZeltoHttpServer version."}));
}

TEST_F(TEndToEnd, FirstEdgeCaseByteForByte) {
    ASSERT_TRUE(StartSim(kTestProgram)) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    ASSERT_EQ(Value("c10.r=21.5"), "21.5");
    EXPECT_EQ(Query("c10.r&sys.http_request_count").Body,
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<data>\r\n"
              "<var><name>c10.r</name><value>21.5</value><description>Real</description></var>\r\n"
              "<var><name>sys.http_request_count</name><value>2</value>"
              "<description>Total number of http requests.</description></var>\r\n</data>");
}

TEST_F(TEndToEnd, WritesAndReadsOfEveryType) {
    ASSERT_TRUE(StartSimBehindRelay(kTestProgram)) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    const std::string written = "c10.flag=1&c10.w=65535&c10.i=-32768&c10.l=-2147483648&c10.r=-0.5&c10.tab[3]=7&c10.tab=4";
    const std::string read = "c10.flag&c10.w&c10.i&c10.l&c10.r&c10.tab[3]&c10.tab&c10.tab[0]&c10.tab[4]&c10.loc&c10.nope";
    const std::vector<std::string> values = {"1", "65535", "-32768", "-2147483648", "-0.5", "7", "4", "4", "?", "?", "?"};
    auto e = Vars(written);
    ASSERT_EQ(e.size(), 7u);
    for (std::size_t i = 0; i < e.size(); ++i) EXPECT_EQ(e[i].Value, values[i]) << e[i].Name;
    e = Vars(read);
    ASSERT_EQ(e.size(), values.size());
    for (std::size_t i = 0; i < e.size(); ++i) EXPECT_EQ(e[i].Value, values[i]) << e[i].Name;
    EXPECT_EQ(e[0].Description, "A flag &lt;b&gt; &amp; &#228;");
    EXPECT_EQ(e[8].Description, "");

    // Values the types refuse write nothing: nothing at all is sent, and the controller keeps its values.
    fRelay->Clear();
    e = Vars("c10.flag=2&c10.w=65536&c10.i=32768&c10.r=1e39&c10.l=1.5x");
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(fRelay->Count(10, zelto::kCmdWriteRandom), 0);
    EXPECT_EQ(fRelay->Count(10, zelto::kCmdWriteData), 0);
    e = Vars(read);
    for (std::size_t i = 0; i < e.size(); ++i) EXPECT_EQ(e[i].Value, values[i]) << e[i].Name;

    // C10 and c10 are one controller: one ping for both items.
    fRelay->Clear();
    e = Vars("C10.tab[1]=5&c10.tab[1]");
    EXPECT_EQ(e, (std::vector<TEntry>{{"C10.tab[1]", "5", "Table"}, {"c10.tab[1]", "5", "Table"}}));
    EXPECT_EQ(fRelay->Count(10, zelto::kCmdPing), 1);
}

TEST_F(TEndToEnd, ReadOnlyServerAndAllowList) {
    ASSERT_TRUE(StartSimBehindRelay(kTestProgram)) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    EXPECT_EQ(Value("c10.w=5"), "5");
    StopServer();

    // Read-only: the write values are read instead, and nothing is written to the controller.
    ASSERT_TRUE(StartServer({"--read-only", "--allow", "127.0.0.0/8"})) << fServer->Stderr();
    fRelay->Clear();
    EXPECT_EQ(Vars("c10.w=9&c10.tab[1]=3&c10.w"),
              (std::vector<TEntry>{{"c10.w", "5", "Word"}, {"c10.tab[1]", "0", "Table"}, {"c10.w", "5", "Word"}}));
    EXPECT_EQ(fRelay->Count(10, zelto::kCmdWriteRandom), 0);
    EXPECT_EQ(fRelay->Count(10, zelto::kCmdWriteData), 0);
    EXPECT_GT(fRelay->Count(10, zelto::kCmdReadRandom), 0);
    StopServer();

    // A client outside the list gets 403 for everything, and no controller hears of it.
    ASSERT_TRUE(StartServer({"--allow", "10.0.0.0/8,fd00::/8"})) << fServer->Stderr();
    fRelay->Clear();
    for (const std::string doc : {"/?c10.w=7", "/?sys.server_version", "/ZeltoHttpServer", "/?username=a&password="}) {
        EXPECT_EQ(Get(fPort, doc).Status, 403) << doc;
    }
    EXPECT_EQ(fRelay->Count(10), 0);
    StopServer();

    // A bad list, from the command line or the settings, stops the start and says why.
    for (const auto& [args, settings] : {std::pair<std::vector<std::string>, std::string>{{"--allow", "10.0.0.0/33"}, ""},
                                         {{}, "AllowFrom=10.0.0.1,router\n"},
                                         {{}, "ReadOnly=yes\n"}}) {
        WriteFileText(fDir / "cfg/Tessvik/ZeltoHttpServer.conf", settings);
        EXPECT_FALSE(StartServer(args));
        EXPECT_NE(fServer->Wait(10000), 0);
        EXPECT_NE(fServer->Stderr().find(args.empty() ? (settings[0] == 'A' ? "'router'" : "'ReadOnly'") : "10.0.0.0/33"),
                  std::string::npos) << fServer->Stderr();
        fServer.reset();
    }
    EXPECT_EQ(fRelay->Count(10, zelto::kCmdWriteRandom), 0);
}

TEST_F(TEndToEnd, OnlyNamedControllersAreContacted) {
    ASSERT_TRUE(StartSimBehindRelay({"--nad", "2", "--nad", "3", "--alc", TestAlc("test.alc")})) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    EXPECT_EQ(Vars("c2.w=22&c3.w=33"), (std::vector<TEntry>{{"c2.w", "22", "Word"}, {"c3.w", "33", "Word"}}));
    fRelay->Clear();
    EXPECT_EQ(Value("c3.w"), "33");
    EXPECT_EQ(fRelay->Count(2), 0) << "controller 2 is not named";
    EXPECT_GT(fRelay->Count(3, zelto::kCmdReadRandom), 0);

    const auto e = Vars("sys.nad_list");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].Value, "      <item>2</item>\r\n      <item>3</item>\r\n");
}

TEST_F(TEndToEnd, AlcFileOfAController) {
    ASSERT_TRUE(StartSim(kTestProgram)) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    // Asked first, before any variable of the controller: the proxy is created and the ALC fetched.
    auto e = Vars("c10.sys.alc_file&c11.sys.alc_file");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].Name, "c10.sys.alc_file");
    EXPECT_NE(e[0].Value.find(";CPU Zelto-2 NAD 10\r\n"), std::string::npos) << e[0].Value;
    EXPECT_NE(e[0].Value.find("global bit flag A flag &lt;b&gt; &amp; &#228;\r\n"), std::string::npos) << e[0].Value;
    EXPECT_EQ(e[1].Value, "Alc file not found") << "controller 11 does not answer";
    // Request variables come first, then the system variables.
    e = Vars("c10.w=3&c10.sys.alc_file&c10.w");
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0], (TEntry{"c10.w", "3", "Word"}));
    EXPECT_EQ(e[1], (TEntry{"c10.w", "3", "Word"}));
    EXPECT_EQ(e[2].Name, "c10.sys.alc_file");
    EXPECT_EQ(Value("c10.w"), "3") << "the variables still bind after the ALC was loaded again";
}

TEST_F(TEndToEnd, AlcIsCachedAndFetchedAgainForANewProgram) {
    ASSERT_TRUE(StartSimBehindRelay(kTestProgram)) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    EXPECT_EQ(Value("c10.w=9"), "9");
    EXPECT_GT(fRelay->AlcReads(10), 0) << "the first read fetches the ALC";
    const std::string cacheFile = CacheDir() + "/alc_http_10.tmp";
    const std::string firstCache = ReadFileText(cacheFile);
    ASSERT_GT(firstCache.size(), 4u);

    fRelay->Clear();
    EXPECT_EQ(Value("c10.w"), "9");
    EXPECT_EQ(fRelay->AlcReads(10), 0) << "an unchanged program is not fetched again";

    // A new server process takes the ALC from the cache file.
    StopServer();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    fRelay->Clear();
    EXPECT_EQ(Value("c10.w"), "9");
    EXPECT_EQ(fRelay->AlcReads(10), 0) << "the cache file serves a new server";

    // The program is loaded again: a new transfer date, so the ALC is fetched and the cache rewritten.
    fSim->Signal(SIGHUP);
    ASSERT_TRUE(fSim->WaitForStdout("program loaded from", 5000));
    fRelay->Clear();
    EXPECT_EQ(Value("c10.w"), "0") << "a reloaded program starts with its initial values";
    EXPECT_GT(fRelay->AlcReads(10), 0);
    const std::string secondCache = ReadFileText(cacheFile);
    EXPECT_NE(secondCache.substr(0, 4), firstCache.substr(0, 4));
    EXPECT_EQ(secondCache.substr(4), firstCache.substr(4));
}

TEST_F(TEndToEnd, StoppedControllerIsNeitherWrittenNorRead) {
    ASSERT_TRUE(StartSimBehindRelay({"--alc", TestAlc("test.alc"), "--plc-status", "stop"})) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    EXPECT_EQ(Vars("c10.w=5&c10.i"), (std::vector<TEntry>{{"c10.w", "?", ""}, {"c10.i", "?", ""}}));
    EXPECT_GT(fRelay->Count(10, zelto::kCmdReadStatus), 0);
    EXPECT_EQ(fRelay->Count(10, zelto::kCmdWriteRandom), 0);
    EXPECT_EQ(fRelay->Count(10, zelto::kCmdReadRandom), 0);

    fSim->Signal(SIGUSR1);  // runs again
    ASSERT_TRUE(fSim->WaitForStdout("program runs", 5000));
    EXPECT_EQ(Value("c10.w"), "0") << "the refused write did not reach it";
}

// A read that fails leaves no value to show: every variable of it is "?", a written one included.
TEST_F(TEndToEnd, FailedReadsGiveQuestionMarks) {
    ASSERT_TRUE(StartSimBehindRelay(kTestProgram)) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    ASSERT_EQ(Value("c10.w=7"), "7");
    using TRequest = zelto::test::TRelayedRequest;
    const struct {
        const char* what;
        TQLinkRelay::TAnswerFilter filter;
    } cases[] = {
        {"an answer one byte shorter than the variables need",
         [](const TRequest& r, std::vector<uint8_t>& answer) {
             if (r.Command != zelto::kCmdReadRandom || r.Data.size() < 6) return true;
             const std::size_t need = (r.Data[0] | r.Data[1] << 8) + 2u * (r.Data[2] | r.Data[3] << 8) +
                                      4u * (r.Data[4] | r.Data[5] << 8);
             answer = zelto::BuildAnswerFrame(10, 1, 0, std::vector<uint8_t>(need - 1, 0x11));
             return true;
         }},
        {"no answer to reads",
         [](const TRequest& r, std::vector<uint8_t>&) { return r.Command != zelto::kCmdReadRandom; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fRelay->SetAnswerFilter(c.filter);
        EXPECT_EQ(Vars("c10.w&c10.flag=1&c10.tab[1]"),
                  (std::vector<TEntry>{{"c10.w", "?", ""}, {"c10.flag", "?", ""}, {"c10.tab[1]", "?", ""}}));
    }
    fRelay->SetAnswerFilter({});
    EXPECT_EQ(Value("c10.w"), "7");
    EXPECT_EQ(Value("c10.flag"), "1") << "the writes reached the controller";
}

TEST_F(TEndToEnd, AlcWithABadLineIsAServerError) {
    // ZeltoSim refuses a bad ALC itself, so the bad one comes from the cache file: the controller's
    // transfer date with an archive whose ALC has a line that does not parse.
    ASSERT_TRUE(StartSimBehindRelay(kTestProgram)) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    ASSERT_EQ(Value("c10.w"), "0");
    StopServer();
    const std::string cacheFile = CacheDir() + "/alc_http_10.tmp";
    const std::string date = ReadFileText(cacheFile).substr(0, 4);
    zelto::TZipFile zip;
    zip.AddFile("alc.txt", 0);
    zip.SetUncompressed(0, ReadFileText(TestAlc("bad.alc")));
    std::ostringstream archive;
    zip.SaveToStream(archive);
    std::ofstream(cacheFile, std::ios::binary | std::ios::trunc) << date << archive.str();

    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    const THttpReply reply = Query("c10.flag&sys.server_version");
    EXPECT_EQ(reply.Status, 500);
    EXPECT_EQ(reply.Body, "Error parsing ALC data on line 2");
    EXPECT_EQ(Value("sys.server_version"), "1.0.3") << "the server goes on";
    // The program did not change: later requests serve the variables before the bad line, without loading
    // the list again (from the cache, now gone, or from the controller, whose list would bind c10.w).
    std::filesystem::remove(cacheFile);
    fRelay->Clear();
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(Vars("c10.flag=1&c10.w"), (std::vector<TEntry>{{"c10.flag", "1", "Flag"}, {"c10.w", "?", ""}}));
    EXPECT_EQ(fRelay->AlcReads(10), 0);
}

namespace {
// Writes and reads back, request after request.
void ExpectWritesReadBack(const std::function<std::vector<TEntry>(const std::string&)>& vars) {
    for (int i = 1; i <= 4; ++i) {
        const std::string w = std::to_string(i * 100), v = std::to_string(i);
        EXPECT_EQ(vars("c10.w=" + w + "&c10.tab[2]=" + v),
                  (std::vector<TEntry>{{"c10.w", w, "Word"}, {"c10.tab[2]", v, "Table"}}));
        EXPECT_EQ(vars("c10.tab[2]&c10.w"), (std::vector<TEntry>{{"c10.tab[2]", v, "Table"}, {"c10.w", w, "Word"}}));
    }
}
}  // namespace

TEST_F(TEndToEnd, LostBrokenSplitAndLateAnswersStillGiveTheRightValues) {
    ASSERT_TRUE(StartSim({"--alc", TestAlc("test.alc"), "--drop", "0.1", "--corrupt", "11", "--split", "3",
                          "--delay", "5", "--seed", "7"}))
        << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    ExpectWritesReadBack([this](const std::string& q) { return Vars(q); });
}

// Every third answer comes twice. Answers carry no request number: the copy that still waits in the
// socket when the next request leaves must not be taken for that request's answer.
TEST_F(TEndToEnd, DuplicatedAnswersStillGiveTheRightValues) {
    ASSERT_TRUE(StartSim({"--alc", TestAlc("test.alc"), "--duplicate", "3"})) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    ExpectWritesReadBack([this](const std::string& q) { return Vars(q); });
}

TEST_F(TEndToEnd, ChecksumConstantsOfTheInstallation) {
    const std::string weights = "0002,0005,000B,0011,001D,0035,0061,00C1,0185,0301,0607,0C0B,1811,301F,6029,C03D";
    ASSERT_TRUE(StartSim({"--nad", "10", "--alc", ZELTO_DEMO_ALC, "--checksum-key", "A7", "--checksum-weights", weights}))
        << fSim->Stderr();
    // With the default constants the server and the controller do not understand each other.
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    EXPECT_EQ(Vars("c10.temp"), (std::vector<TEntry>{{"c10.temp", "?", ""}}));
    StopServer();

    const std::string conf = fDir / "cfg/Tessvik/ZeltoComServer.conf";
    WriteFileText(conf, "QLinkChecksumKey=A7\nQLinkChecksumWeights=" + weights + "\n");
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    const auto e = Vars("c10.temp");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_TRUE(std::regex_match(e[0].Value, std::regex("-?[0-9]+(\\.[0-9]+)?"))) << e[0].Value;
    EXPECT_EQ(e[0].Description, "Tank temperature [&#176;C]");
    StopServer();

    // A value that is not one stops the start.
    WriteFileText(conf, "QLinkChecksumKey=A7\nQLinkChecksumWeights=" + weights + ",0001\n");
    TTestProcess bad(fDir / "ZeltoHttpServer", {"--headless", "--port", "0", "--adapter", "lo"}, fDir.Path().string(),
                     fEnv, "refused");
    EXPECT_EQ(bad.Wait(10000), 1);
    EXPECT_NE(bad.Stderr().find("Invalid data type for 'QLinkChecksumWeights'"), std::string::npos) << bad.Stderr();
}

namespace {

// A live stream as a browser's EventSource opens it; reads what arrives within a time.
class TStreamClient {
public:
    TStreamClient(uint16_t port, const std::string& query, int receiveBuffer = 0) {
        fFd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0) ::setsockopt(fFd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
        const std::string rq = "GET /?" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n\r\n";
        (void)!::write(fFd, rq.data(), rq.size());
    }
    ~TStreamClient() { ::close(fFd); }
    // Reads for up to `ms`, or until `until` holds for what came; false when the server closed the stream.
    bool Read(std::chrono::milliseconds ms, const std::function<bool()>& until = {}) {
        const auto end = std::chrono::steady_clock::now() + ms;
        while (!(until && until())) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fFd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buf[65536];
            const ssize_t n = ::read(fFd, buf, sizeof buf);
            if (n <= 0) return false;
            Text.append(buf, static_cast<std::size_t>(n));
        }
        return true;
    }
    // The "data:" lines of the events received, in order.
    std::vector<std::string> Events() const {
        // Searched by hand: std::regex recurses once per character and overflows the stack on a long line.
        std::vector<std::string> out;
        const std::string tag = "\ndata: ";
        for (std::size_t at = Text.find(tag); at != std::string::npos; at = Text.find(tag, at + 1)) {
            const std::size_t from = at + tag.size(), end = Text.find('\n', from);
            if (end == std::string::npos) break;  // the line is not complete yet
            out.push_back(Text.substr(from, end - from));
        }
        return out;
    }
    std::string Text;

private:
    int fFd = -1;
};

}  // namespace

TEST_F(TEndToEnd, LiveStream) {
    ASSERT_TRUE(StartSim({"--alc", ZELTO_DEMO_ALC, "--tick", "10", "10"})) << fSim->Stderr();
    ASSERT_TRUE(StartServer({"--stream-interval", "20"})) << fServer->Stderr();
    TStreamClient stream(fPort, "c10.trim&c10.table[2]&c10.nothere");
    ASSERT_TRUE(stream.Read(5s, [&] { return !stream.Events().empty(); }));
    EXPECT_NE(stream.Text.find("Content-Type: text/event-stream; charset=utf-8\r\n"), std::string::npos) << stream.Text;
    ASSERT_EQ(stream.Events().size(), 1u);
    EXPECT_EQ(stream.Events()[0],
              "{\"vars\":[{\"name\":\"c10.trim\",\"value\":-12,\"description\":\"Level trim <raw>\"},"
              "{\"name\":\"c10.table[2]\",\"value\":30,\"description\":\"Step table\"},"
              "{\"name\":\"c10.nothere\",\"value\":null,\"description\":\"\",\"error\":\"unknown variable\"}]}");

    // Nothing changes: nothing is sent. A change: only the changed entry, within a few intervals.
    EXPECT_TRUE(stream.Read(300ms));
    EXPECT_EQ(stream.Events().size(), 1u);
    EXPECT_EQ(Value("c10.trim=7"), "7");
    ASSERT_TRUE(stream.Read(2s, [&] { return stream.Events().size() > 1; }));
    EXPECT_EQ(stream.Events()[1], "{\"vars\":[{\"name\":\"c10.trim\",\"value\":7,\"description\":\"Level trim <raw>\"}]}");
    EXPECT_EQ(Query("c10.trim=8").Status, 200);
    // A write in a stream is refused with a whole answer (the connection stays for the client's next request).
    TStreamClient refused(fPort, "c10.trim=9");
    const std::string refusal = "A stream only reads: send writes as ordinary requests.";
    EXPECT_TRUE(refused.Read(2s, [&] { return refused.Text.find(refusal) != std::string::npos; }));
    EXPECT_EQ(refused.Text.rfind("HTTP/1.1 400 ", 0), 0u) << refused.Text;

    // A client that stops reading is dropped, not buffered for: many entries changing every round fill
    // the kernel's buffers, then the server's bound, and the stream ends.
    std::string many;
    for (int zeros = 0; zeros < 100; ++zeros) many += (many.empty() ? "c" : "&c") + std::string(zeros, '0') + "10.scan_time";
    TStreamClient deaf(fPort, many, 4096);
    ASSERT_TRUE(deaf.Read(5s, [&] { return !deaf.Events().empty(); }));
    pollfd none{-1, 0, 0};
    ::poll(&none, 0, 8000);  // not reading for eight seconds: about 2 MB of events
    // What the kernel holds, then the end (a stream never ends by itself).
    const bool ended = !deaf.Read(20s, [] { return false; });
    EXPECT_TRUE(ended) << "the stream of a client that does not read was never dropped; " << deaf.Text.size() << " bytes";
    // The other stream lives on.
    ASSERT_TRUE(stream.Read(2s, [&] { return stream.Events().size() > 2; }));
    EXPECT_EQ(stream.Events()[2], "{\"vars\":[{\"name\":\"c10.trim\",\"value\":8,\"description\":\"Level trim <raw>\"}]}");
    // Stopping the server ends the open stream: the client sees the end, the server exits cleanly.
    StopServer();
    EXPECT_FALSE(stream.Read(5s, [] { return false; }));
}

namespace {

// Under ZeltoSim --count-reads every item of a random read holds the number of that read. Checks one answer
// to "c10.cycles&c10.scan_time" (two long variables, read together): both "?" (true, counted in Unknown),
// or both the same number, above Last (the number of the answer before), which becomes the new Last.
bool ReadInThisRequest(const std::vector<TEntry>& Entries, long& Last, int& Unknown) {
    if (Entries.size() != 2) return false;
    if (Entries[0].Value == "?" || Entries[1].Value == "?") {
        ++Unknown;
        return Entries[0].Value == Entries[1].Value;
    }
    long number = 0;
    const std::string& text = Entries[0].Value;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc() || end != text.data() + text.size() || Entries[1].Value != text || number <= Last)
        return false;
    Last = number;
    return true;
}

// The local UDP ports of the namespace's sockets (from /proc/net/udp), but for the Q-link port and Skip.
std::vector<uint16_t> UdpPorts(uint16_t Skip) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);  // the head
    std::vector<uint16_t> ports;
    while (std::getline(table, line)) {
        // "  sl  local_address ...": the local address is hex IP ":" hex port.
        std::istringstream fields(line);
        std::string slot, local;
        fields >> slot >> local;
        const auto colon = local.find(':');
        if (colon == std::string::npos) continue;
        const auto port = static_cast<uint16_t>(std::stoul(local.substr(colon + 1), nullptr, 16));
        if (port != zelto::kQLinkPort && port != Skip) ports.push_back(port);
    }
    return ports;
}

}  // namespace

// Every answer can come twice, and each copy up to 700 ms late: late copies and duplicates reach the server
// while later exchanges wait. Every value shown is the number of a read made for that very request, or "?".
TEST_F(TEndToEnd, DuplicatedAndLateAnswersNeverShowAnotherRequestsValues) {
    ASSERT_TRUE(StartSim({"--alc", ZELTO_DEMO_ALC, "--nad", "10", "--count-reads", "--duplicate", "1", "--jitter",
                          "700", "--seed", "5"}))
        << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    constexpr int kRequests = 12;
    long last = 0;
    int unknown = 0;
    for (int i = 0; i < kRequests; ++i) {
        const auto e = Vars("c10.cycles&c10.scan_time");
        EXPECT_TRUE(ReadInThisRequest(e, last, unknown)) << "request " << i << ": " << e.size() << " entries, "
                                                          << (e.empty() ? "" : e[0].Value) << " after " << last;
    }
    RecordProperty("unknown", unknown);
    EXPECT_LT(unknown, kRequests / 2) << "hardly any request got through";
}

// While 500 forged answers a second (right controller, right lengths, other values) come from the
// controller's address but another port, to every UDP port the server has open, the requests show only
// values read for them, and hardly a "?".
TEST_F(TEndToEnd, ForgedAnswersFromAnotherPortAreNeverTaken) {
    ASSERT_TRUE(StartSim({"--alc", ZELTO_DEMO_ALC, "--nad", "10", "--count-reads"})) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    ASSERT_EQ(Vars("c10.cycles&c10.scan_time").size(), 2u);  // the variable list is known

    constexpr uint16_t kForgerPort = 8443;
    const int forger = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_port = htons(kForgerPort);
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(forger, reinterpret_cast<sockaddr*>(&self), sizeof self), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> forged{0};
    std::thread forge([&] {
        // The data lengths of a ping, a status, the two longs and a short code header.
        const std::vector<std::vector<uint8_t>> frames = {
            zelto::BuildAnswerFrame(10, 1, 0, {}), zelto::BuildAnswerFrame(10, 1, 0, std::vector<uint8_t>{1, 2}),
            zelto::BuildAnswerFrame(10, 1, 0, std::vector<uint8_t>(8, 0xEE)),
            zelto::BuildAnswerFrame(10, 1, 0, std::vector<uint8_t>(16, 0xEE))};
        const auto begin = std::chrono::steady_clock::now();
        for (int n = 0; !stop; ++n) {
            const auto ports = UdpPorts(kForgerPort);
            sockaddr_in to = self;
            if (!ports.empty()) {
                to.sin_port = htons(ports[static_cast<std::size_t>(n) % ports.size()]);
                const auto& frame = frames[static_cast<std::size_t>(n) % frames.size()];
                if (::sendto(forger, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0)
                    ++forged;
            }
            // 500 a second: the next one is due 2 ms after this one was.
            const auto due = begin + std::chrono::milliseconds(2 * (n + 1));
            while (!stop && std::chrono::steady_clock::now() < due) ::poll(nullptr, 0, 1);
        }
    });
    long last = 0;
    int unknown = 0, requests = 0, wrong = 0;
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < until) {
        ++requests;
        if (!ReadInThisRequest(Vars("c10.cycles&c10.scan_time"), last, unknown)) ++wrong;
    }
    stop = true;
    forge.join();
    ::close(forger);
    RecordProperty("requests", requests);
    RecordProperty("unknown", unknown);
    RecordProperty("forged", forged.load());
    EXPECT_GT(forged.load(), 1000);
    EXPECT_EQ(wrong, 0) << "of " << requests << " requests";
    EXPECT_LE(unknown * 100, requests) << unknown << " \"?\" of " << requests << " requests";
}
