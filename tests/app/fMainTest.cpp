#include "app/fMain.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "app/FakeRequestService.h"
#include "log/uLog.h"
#include "platform/TempDir.h"
#include "platform/TestHttpClient.h"
#include "qlink/uChecksumKey.h"
#include "web/TestJson.h"
#include "web/uZeltoIntf.h"

using namespace zelto;
using namespace zelto::test;
namespace fs = std::filesystem;

namespace {

class MainTest : public ::testing::Test {
protected:
    void SetUp() override {
        fSavedLogFile = MyLog.LogFile();
        MyLog.Enabled = false;
        fs::create_directories(Prog());
        MyLog.SetLogFile(Prog() + "/ZeltoHttpServer.log");
    }
    void TearDown() override {
        MyLog.Enabled = false;
        MyLog.SetLogFile(fSavedLogFile);
    }
    std::string Prog() const { return fDir / "prog"; }
    std::string OwnFile() const { return fDir / "cfg/Tessvik/ZeltoHttpServer.conf"; }
    std::string SiblingFile() const { return fDir / "cfg/Tessvik/ZeltoComServer.conf"; }

    // A main window on a free port with a fake request service (nullptr: none).
    std::unique_ptr<TfmMain> MakeMain(bool withService = true, TMainOptions options = {}) {
        options.SettingsRoot = fDir / "cfg";
        options.ProgramDir = Prog();
        if (!options.PortOverride) options.PortOverride = 0;
        options.BindAddress = "127.0.0.1";
        fFake = nullptr;
        TRequestServiceFactory factory;
        if (withService) {
            factory = [this](const IMainWindowState&) {
                auto fake = std::make_unique<TFakeRequestService>();
                fFake = fake.get();
                return fake;
            };
        }
        auto m = std::make_unique<TfmMain>(options, factory);
        m->OnShowMessage = [this](const std::string& text) { fMessages.push_back(text); };
        return m;
    }

    TTempDir fDir;
    std::string fSavedLogFile;
    TFakeRequestService* fFake = nullptr;
    std::vector<std::string> fMessages;
};

const char* kAllValues =
    "Top=100\nLeft=100\nWidth=475\nHeight=340\nMaximized=0\nQLinkPassword=\nLogToFile=0\nPort=80\n";

}  // namespace

TEST_F(MainTest, FirstStartUsesDefaultsAndTheSiblingsAdapter) {
    WriteFileText(SiblingFile(), "EthernetAdapterID=eth7\n");
    auto m = MakeMain();
    m->FormCreate();
    EXPECT_TRUE(fMessages.empty());
    EXPECT_TRUE(m->ListenerActive());
    EXPECT_EQ(m->Caption(), "ZeltoHttpServer v1.0.3");
    EXPECT_EQ(fFake->Adapter(), "eth7");
    EXPECT_EQ(m->QLinkPassword(), "");
    EXPECT_EQ(m->HttpPort(), 80);
    EXPECT_FALSE(MyLog.Enabled);
    EXPECT_FALSE(m->Geometry.Maximized);
    EXPECT_EQ(m->ReqCount(), 0);
    // Starts idle: the latest request lies 11 s before now.
    EXPECT_NEAR((Now() - m->RequestStatus().ReqTimestamp) * 86400.0, 11.0, 1.0);
    m->FormDestroy();
    EXPECT_EQ(ReadFileText(OwnFile()), kAllValues);
    EXPECT_EQ(ReadFileText(SiblingFile()), "EthernetAdapterID=eth7\n");
}

TEST_F(MainTest, NoKeysAtAllSelectTheDefaultAdapterAndCreateBothKeys) {
    auto m = MakeMain();
    m->FormCreate();
    EXPECT_EQ(fFake->Adapter(), "");
    m->FormDestroy();
    EXPECT_EQ(ReadFileText(OwnFile()), kAllValues);
    EXPECT_EQ(ReadFileText(SiblingFile()), "EthernetAdapterID=\n");
}

TEST_F(MainTest, StoredSettingsAreUsedAndWrittenBack) {
    WriteFileText(OwnFile(),
                  "Top=-5\nLeft=7\nWidth=800\nHeight=600\nMaximized=1\nQLinkPassword=s3cret \\s\n"
                  "LogToFile=1\nPort=65616\nAllowOrigin=* \nStreamInterval=5\n");
    WriteFileText(SiblingFile(), "EthernetAdapterID=lo\n");
    auto m = MakeMain();
    m->FormCreate();
    EXPECT_EQ(m->Geometry.Top, -5);
    EXPECT_EQ(m->Geometry.Left, 7);
    EXPECT_EQ(m->Geometry.Width, 800);
    EXPECT_EQ(m->Geometry.Height, 600);
    EXPECT_TRUE(m->Geometry.Maximized);
    EXPECT_EQ(m->QLinkPassword(), "s3cret  ");
    EXPECT_TRUE(MyLog.Enabled);
    EXPECT_EQ(m->HttpPort(), 80);  // the low 16 bits of 65536 + 80
    EXPECT_EQ(fFake->Adapter(), "lo");
    EXPECT_EQ(m->WebClients()->CrossOrigin().Text(), "*");
    EXPECT_EQ(m->StreamInterval(), 5);  // brought to the shortest interval when the streams start
    m->FormDestroy();
    EXPECT_EQ(ReadFileText(OwnFile()), "Top=-5\nLeft=7\nWidth=800\nHeight=600\nMaximized=1\nQLinkPassword=s3cret \\s\n"
                                       "LogToFile=1\nPort=80\nAllowOrigin=* \nStreamInterval=5\n");
}

TEST_F(MainTest, OnlyAStoredOneMaximizes) {
    const struct {
        const char* stored;
        bool maximized;
    } cases[] = {{"1", true}, {"0", false}, {"2", false}, {"-1", false}};
    for (const auto& c : cases) {
        WriteFileText(OwnFile(), std::string("Maximized=") + c.stored + "\n");
        auto m = MakeMain(false);
        m->LoadSettings();
        EXPECT_EQ(m->Geometry.Maximized, c.maximized) << c.stored;
    }
}

TEST_F(MainTest, AValueOfTheWrongTypeStopsStartUpAndIsNotOverwritten) {
    for (const char* name : {"Top", "Left", "Width", "Height", "Maximized", "LogToFile", "Port", "StreamInterval",
                             "ParallelControllers", "MaxRequestItems", "MaxRequestControllers", "WriteHeader",
                             "LogStaleAnswers"}) {
        const std::string stored = std::string("QLinkPassword=keep\n") + name + "=abc\n";
        WriteFileText(OwnFile(), stored);
        fMessages.clear();
        auto m = MakeMain();
        m->FormCreate();
        EXPECT_EQ(fMessages, std::vector<std::string>{std::string("Invalid data type for '") + name + "'"});
        EXPECT_FALSE(m->ListenerActive()) << name;
        EXPECT_FALSE(m->SettingsLoaded());
        m->FormDestroy();
        EXPECT_EQ(ReadFileText(OwnFile()), stored) << name;
    }
    // The checksum constants beside the adapter choice: a bad text stops the start-up, and good ones
    // (or none) leave it running.
    std::remove(OwnFile().c_str());
    const struct {
        const char* Stored;
        const char* Refused;  // nullptr: taken
    } sibling[] = {
        {"QLinkChecksumKey=5C5\n", "QLinkChecksumKey"},
        {"QLinkChecksumKey=\n", "QLinkChecksumKey"},
        {"QLinkChecksumWeights=1,3,7,D,17,2F,5B,B5,167,2CF,59F,B3B,1675,2CE9,59D3\n", "QLinkChecksumWeights"},
        {"QLinkChecksumWeights=1,3,7,D,17,2F,5B,B5,167,2CF,59F,B3B,1675,2CE9,59D3,B3A7,1\n", "QLinkChecksumWeights"},
        {"QLinkChecksumWeights=1,3,7,D,17,2F,5B,B5,167,2CF,59F,B3B,1675,2CE9,59D3,1B3A7\n", "QLinkChecksumWeights"},
        {"QLinkChecksumKey=0x21\nQLinkChecksumWeights= 1, 3,7,D,17,2F,5B,B5,167,2CF,59F,B3B,1675,2CE9,$59D3,FFFF\n",
         nullptr},
    };
    for (const auto& c : sibling) {
        WriteFileText(SiblingFile(), c.Stored);
        fMessages.clear();
        auto m = MakeMain();
        m->FormCreate();
        EXPECT_EQ(m->ListenerActive(), c.Refused == nullptr) << c.Stored;
        if (c.Refused) {
            ASSERT_EQ(fMessages.size(), 1u) << c.Stored;
            EXPECT_EQ(fMessages[0].rfind(std::string("Invalid data type for '") + c.Refused + "': ", 0), 0u) << fMessages[0];
        } else {
            EXPECT_EQ(ChecksumKey().Xor, 0x21);
            EXPECT_EQ(ChecksumKey().Weights[14], 0x59D3);
            EXPECT_EQ(ChecksumKey().Weights[15], 0xFFFF);
        }
        m->FormDestroy();
        EXPECT_EQ(ReadFileText(SiblingFile()).find(c.Stored), 0u) << "kept as written";
    }
    std::remove(SiblingFile().c_str());
    MakeMain()->LoadSettings();
    EXPECT_EQ(ChecksumKey(), kDefaultChecksumKey);
}

TEST_F(MainTest, LeftoversOfInterruptedWritesAreRemovedAtStart) {
    const std::string saved = std::getenv("TEMP") ? std::getenv("TEMP") : "";
    const std::string cache = fDir / "cache";
    ::setenv("TEMP", cache.c_str(), 1);
    const std::string cfg = fDir / "cfg/Tessvik/";
    const struct {
        std::string File;
        bool Removed;
    } files[] = {
        {cfg + "ZeltoHttpServer.conf.a1B2c3", true},
        {cfg + "ZeltoComServer.conf.Zz9Q0k", true},
        {cache + "/alc_http_10.tmp.Qw3rTy", true},
        {cache + "/alc_http_-3.tmp.Qw3rTy", true},
        {cfg + "ZeltoHttpServer.conf", false},
        {cfg + "ZeltoHttpServer.conf.bak", false},
        {cfg + "ZeltoHttpServer.conf.a1B2c", false},
        {cfg + "ZeltoHttpServer.conf.a1-2c3", false},
        {cfg + "Other.conf.a1B2c3", false},
        {Prog() + "/ZeltoHttpServer.conf.a1B2c3", false},  // not the settings folder
        {cache + "/alc_http_10.tmp", false},
        {cache + "/alc_http_010.tmp.Qw3rTy", false},
        {cache + "/alc_http_x.tmp.Qw3rTy", false},
        {cache + "/notes.tmp.Qw3rTy", false},
        {cache + "/alc_http_12.tmp.Held00", false},  // a write in progress holds it
    };
    for (const auto& f : files) WriteFileText(f.File, "QLinkPassword=secret\n");
    fs::create_symlink(cfg + "ZeltoHttpServer.conf", cache + "/alc_http_11.tmp.LnK000");
    const int held = ::open((cache + "/alc_http_12.tmp.Held00").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    auto m = MakeMain();
    m->FormCreate();
    ::close(held);
    if (saved.empty()) ::unsetenv("TEMP"); else ::setenv("TEMP", saved.c_str(), 1);
    for (const auto& f : files) EXPECT_EQ(fs::exists(f.File), !f.Removed) << f.File;
    EXPECT_TRUE(fs::is_symlink(cache + "/alc_http_11.tmp.LnK000"));

    // A settings folder named on the command line holds the files (and their leftovers) directly.
    const std::string leftover = fDir / "conf/ZeltoComServer.conf.a1B2c3";
    WriteFileText(leftover, "");
    TMainOptions named;
    named.Service.ConfigDir = fDir / "conf";
    m->FormDestroy();
    auto other = MakeMain(true, named);
    other->FormCreate();
    EXPECT_FALSE(fs::exists(leftover));
}

TEST_F(MainTest, CommandLineOverridesAreNotSaved) {
    WriteFileText(OwnFile(), "Port=81\n");
    WriteFileText(SiblingFile(), "EthernetAdapterID=eth0\n");
    TMainOptions options;
    options.PortOverride = 0;
    options.AdapterOverride = "lo";
    auto m = MakeMain(true, options);
    m->FormCreate();
    EXPECT_TRUE(m->ListenerActive());
    EXPECT_NE(m->ListenerPort(), 81);
    EXPECT_EQ(fFake->Adapter(), "lo");
    m->FormDestroy();
    EXPECT_NE(ReadFileText(OwnFile()).find("Port=81\n"), std::string::npos);
    EXPECT_EQ(ReadFileText(SiblingFile()), "EthernetAdapterID=eth0\n");
}

// --log switches the log on for its run and leaves LogToFile as it was stored; a log file named only by the
// setting is written while LogToFile says so. Switching the log off (the setup dialog) is saved as it stands.
TEST_F(MainTest, ALogFileOnTheCommandLineSwitchesTheLogOnForItsRun) {
    const struct {
        const char* stored;  // settings file text
        bool option;         // --log given
        bool switchOff;      // the log switched off while running
        bool enabled;        // the log on after start-up
        const char* saved;   // the LogToFile line saved
    } cases[] = {
        {"", true, false, true, "LogToFile=0\n"},
        {"LogToFile=0\n", true, false, true, "LogToFile=0\n"},
        {"LogToFile=1\n", true, false, true, "LogToFile=1\n"},
        {"LogToFile=1\n", true, true, true, "LogToFile=0\n"},
        {"LogToFile=0\nLogFile=", false, false, false, "LogToFile=0\n"},
        {"LogToFile=1\nLogFile=", false, false, true, "LogToFile=1\n"},
    };
    for (const auto& c : cases) {
        const std::string what = std::string(c.stored) + (c.option ? " --log" : "");
        const std::string setLog = fDir / "set.log";
        const std::string stored = c.stored + (std::string(c.stored).ends_with("LogFile=") ? setLog + "\n" : "");
        WriteFileText(OwnFile(), stored);
        MyLog.Enabled = false;
        TMainOptions options;
        if (c.option) options.Service.LogFile = fDir / "run.log";
        auto m = MakeMain(true, options);
        m->FormCreate();
        EXPECT_EQ(MyLog.Enabled, c.enabled) << what;
        EXPECT_EQ(MyLog.LogFile(), c.option ? fDir / "run.log" : setLog) << what;
        if (c.switchOff) MyLog.Enabled = false;
        m->FormDestroy();
        EXPECT_NE(ReadFileText(OwnFile()).find(c.saved), std::string::npos) << what << ReadFileText(OwnFile());
    }
}

TEST_F(MainTest, TakenPortIsShownAndTheProgramRunsOn) {
    auto first = MakeMain();
    first->FormCreate();
    TMainOptions options;
    options.PortOverride = first->ListenerPort();
    auto second = MakeMain(true, options);
    second->FormCreate();
    EXPECT_FALSE(second->ListenerActive());
    EXPECT_EQ(second->ListenerError(), "Could not bind socket. Address and port are already in use.");
    EXPECT_EQ(fMessages, std::vector<std::string>{"Could not bind socket. Address and port are already in use."});
    EXPECT_TRUE(second->SettingsLoaded());
}

// ------------------------------------------------------------------------------------------- handler

namespace {

using H = std::vector<std::pair<std::string, std::string>>;

class HandlerTest : public MainTest {
protected:
    void SetUp() override {
        MainTest::SetUp();
        WriteFileText(Prog() + "/page.html", "<html>page</html>");
        WriteFileText(Prog() + "/sub/data.json", "{}");
        WriteFileText(Prog() + "/Name With Space.TXT", "spaced");
        WriteFileText(Prog() + "/ZeltoHttpServer.log", "secret request lines");
        for (const char* copy : {"ZeltoHttpServer.log.1", "ZeltoHttpServer.conf.bak", "page.html~", "ZeltoSim"})
            WriteFileText(Prog() + "/sub/" + copy, "a copy of something kept");
        fs::create_symlink(ExecutablePath(), Prog() + "/program");  // the running program under another name
        WriteFileText(fDir / "outside.txt", "outside");
        fs::create_symlink(fDir / "outside.txt", Prog() + "/link-out");
        fs::create_symlink("page.html", Prog() + "/link-in");
        fs::create_directory_symlink(fDir.Path(), Prog() + "/outdir");
        fs::create_symlink("ZeltoHttpServer.log", Prog() + "/log-link");
        fs::create_hard_link(Prog() + "/ZeltoHttpServer.log", Prog() + "/sub/log.txt");
        fs::create_directory_symlink(fDir / "cfg", Prog() + "/cfg");  // a settings folder inside the web root
        fs::create_directory_symlink(fs::path(ExecutablePath()).parent_path(), Prog() + "/bin");
        fMain = MakeMain();
        fMain->FormCreate();
        for (const std::string& settings : {OwnFile(), SiblingFile()})
            if (!fs::exists(settings)) WriteFileText(settings, "");
    }

    THttpResponseInfo Handle(const std::string& document, const std::string& params, const std::string& client = "10.0.0.9") {
        THttpRequestInfo rq;
        rq.Command = "GET";
        rq.ClientIp = client;
        rq.LocalIp = "10.0.0.1";
        rq.Document = document;
        rq.Params = params;
        THttpResponseInfo rs;
        fMain->IdHTTPServer1CommandGet(rq, rs);
        return rs;
    }

    static std::string StreamText(THttpResponseInfo& rs) {
        if (!rs.ContentStream) return "";
        std::string text(rs.ContentStream->Size(), '\0');
        const int fd = rs.ContentStream->Release();
        const ssize_t n = ::read(fd, text.data(), text.size());
        ::close(fd);
        text.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        return text;
    }

    std::unique_ptr<TfmMain> fMain;
};

}  // namespace

TEST_F(HandlerTest, SortsRequestsIntoFilesLoginsAndVariables) {
    auto missing = [&](const std::string& doc) {
        return "The requested URL " + doc + " was not found on this server.";
    };
    const std::string program = fs::path(ExecutablePath()).filename().string();
    const struct {
        std::string document, params;
        int status;
        std::string type, text;
        bool toService;
    } cases[] = {
        {"/", "", 404, "", missing("/"), false},
        {"/page.html", "", 200, "text/html", "<html>page</html>", false},
        {"/sub/data.json", "", 200, "application/json", "{}", false},
        {"/Name With Space.TXT", "", 200, "text/plain", "spaced", false},
        {"/link-in", "", 200, "application/octet-stream", "<html>page</html>", false},
        {"/missing.html", "", 404, "", missing("/missing.html"), false},
        {"/sub", "", 404, "", missing("/sub"), false},
        {"/sub/", "", 404, "", missing("/sub/"), false},
        {"/../outside.txt", "", 404, "", missing("/../outside.txt"), false},
        {"/sub/../page.html", "", 404, "", missing("/sub/../page.html"), false},
        {"/link-out", "", 200, "application/octet-stream", "outside", false},  // linked in by the operator
        {"/outdir/outside.txt", "", 200, "text/plain", "outside", false},
        {"/outdir/../page.html", "", 404, "", missing("/outdir/../page.html"), false},
        {"/outdir/prog/ZeltoHttpServer.log", "", 404, "", missing("/outdir/prog/ZeltoHttpServer.log"), false},
        {"/ZeltoHttpServer.log", "", 404, "", missing("/ZeltoHttpServer.log"), false},
        {"/log-link", "", 404, "", missing("/log-link"), false},
        {"/sub/log.txt", "", 404, "", missing("/sub/log.txt"), false},
        {"/cfg/Tessvik/ZeltoHttpServer.conf", "", 404, "", missing("/cfg/Tessvik/ZeltoHttpServer.conf"), false},
        {"/cfg/Tessvik/ZeltoComServer.conf", "", 404, "", missing("/cfg/Tessvik/ZeltoComServer.conf"), false},
        {"/sub/ZeltoHttpServer.log.1", "", 404, "", missing("/sub/ZeltoHttpServer.log.1"), false},
        {"/sub/ZeltoHttpServer.conf.bak", "", 404, "", missing("/sub/ZeltoHttpServer.conf.bak"), false},
        {"/sub/page.html~", "", 404, "", missing("/sub/page.html~"), false},
        {"/sub/ZeltoSim", "", 404, "", missing("/sub/ZeltoSim"), false},
        {"/program", "", 404, "", missing("/program"), false},
        {"/bin/" + program, "", 404, "", missing("/bin/" + program), false},  // the running program, by its folder
        {std::string("/page.html\0x", 12), "", 404, "", missing(std::string("/page.html\0x", 12)), false},
        {"/", "username=a&password=", 200, "text/html", "1", false},
        {"/x", "password=&username=", 200, "text/html", "1", false},
        {"/", "c10.password=5&username=x", 200, "text/xml", "<xml>c10.password=5&username=x</xml>", true},
        {"/", "password=1", 200, "text/xml", "<xml>password=1</xml>", true},
        {"/", "UserName=a&Password=b", 200, "text/xml", "<xml>UserName=a&Password=b</xml>", true},
        {"/page.html", "sys.server_version", 200, "text/xml", "<xml>sys.server_version</xml>", true},
    };
    int32_t count = 0;
    std::size_t calls = 0;
    for (const auto& c : cases) {
        THttpResponseInfo rs = Handle(c.document, c.params);
        ++count;
        EXPECT_EQ(rs.ResponseNo, c.status) << c.document << "?" << c.params;
        EXPECT_EQ(rs.ContentType, c.type) << c.document << "?" << c.params;
        const std::string text = rs.ContentStream ? StreamText(rs) : rs.ContentText;
        EXPECT_EQ(text, c.text) << c.document << "?" << c.params;
        if (c.toService) ++calls;
        ASSERT_EQ(fFake->Calls().size(), calls) << c.document << "?" << c.params;
        if (c.toService) {
            EXPECT_EQ(fFake->Calls().back().Query, c.params);
        }
        EXPECT_EQ(fMain->ReqCount(), count);  // every request counts
    }
    const TRequestStatus status = fMain->RequestStatus();
    EXPECT_EQ(status.LastReqUrl, "10.0.0.9");
    EXPECT_EQ(status.LocalIp, "10.0.0.1");
    EXPECT_EQ(status.ReqCount, count);
}

TEST_F(HandlerTest, VariableRequestsCarryTheCurrentPasswordAndAreLogged) {
    MyLog.Enabled = true;
    MyLog.DeleteFile();
    fMain->SetQLinkPassword("first");
    Handle("/", "c1.a", "192.168.1.20");
    fMain->SetQLinkPassword("second");
    Handle("/", "c1.b");
    Handle("/", "username=u&password=p");
    Handle("/page.html", "");
    const auto calls = fFake->Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].Password, "first");
    EXPECT_EQ(calls[1].Password, "second");
    const std::string log = ReadFileText(Prog() + "/ZeltoHttpServer.log");
    EXPECT_NE(log.find("HTTP request from 192.168.1.20: c1.a\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Login request from 10.0.0.9: username=u&password=***\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("password=p"), std::string::npos) << log;
    EXPECT_NE(log.find("File request from 10.0.0.9: /page.html\r\n"), std::string::npos) << log;
}

TEST_F(HandlerTest, UnsafeRequestsAreRefusedBeforeTheServiceCountedAndLogged) {
    MyLog.Enabled = true;
    MyLog.DeleteFile();
    const auto handle = [&](const std::string& document, const std::string& params, H headers) {
        THttpRequestInfo rq;
        rq.Command = "GET";
        rq.ClientIp = "10.0.0.9";
        rq.Document = document;
        rq.Params = params;
        rq.Headers = std::move(headers);
        THttpResponseInfo rs;
        fMain->IdHTTPServer1CommandGet(rq, rs);
        return rs;
    };
    EXPECT_EQ(handle("/", "c1.a", {{"Host", "evil.example"}}).ResponseNo, 421);
    EXPECT_EQ(handle("/", "c1.a=5&password=x", {{"Host", "127.0.0.1"}, {"Referer", "http://evil.example/"}}).ResponseNo, 403);
    EXPECT_EQ(handle("/", "c1.a=5", {{"Host", "127.0.0.1:8080"}, {"Origin", "http://127.0.0.1:8080"}}).ResponseNo, 200);
    EXPECT_EQ(handle("/x\r\n2099-01-01 forged line", "", {}).ResponseNo, 404);
    EXPECT_EQ(fMain->ReqCount(), 4);
    ASSERT_EQ(fFake->Calls().size(), 1u);  // only the write of the server's own page reached the service
    const std::string log = ReadFileText(Prog() + "/ZeltoHttpServer.log");
    EXPECT_NE(log.find("Refused request from 10.0.0.9 (421 Host 'evil.example' is not one of this server's names; "
                       "add it with --allow-host): c1.a\r\n"),
              std::string::npos) << log;
    EXPECT_NE(log.find("(403 Writes from another site are refused; list its origin with --allow-origin): "
                       "c1.a=5&password=***\r\n"),
              std::string::npos) << log;
    EXPECT_NE(log.find("File request from 10.0.0.9: /x%0D%0A2099-01-01 forged line\r\n"), std::string::npos) << log;
}

TEST_F(HandlerTest, AnErrorEscapesAfterCountingAndLeavesTheLock) {
    fFake->Answer = [](const std::string& q) -> std::string {
        if (q == "bad") throw std::runtime_error("ALC line cannot be parsed");
        return "ok";
    };
    EXPECT_THROW(Handle("/", "bad"), std::runtime_error);
    EXPECT_EQ(fMain->ReqCount(), 1);
    EXPECT_EQ(Handle("/", "good").ContentText, "ok");  // would hang if the lock were still held
    EXPECT_EQ(fMain->ReqCount(), 2);
}

TEST_F(HandlerTest, WithoutARequestServiceVariableRequestsGet503) {
    fMain->FormDestroy();
    fMain = MakeMain(false);
    fMain->FormCreate();
    const THttpResponseInfo rs = Handle("/", "c10.temp");
    EXPECT_EQ(rs.ResponseNo, 503);
    EXPECT_EQ(rs.ContentText, "Request service not available");
    EXPECT_EQ(Handle("/", "username=a&password=").ContentText, "1");
}

// Variable requests reach the service side by side (taking turns per controller is the controller
// service's work); each is answered and counted exactly once.
TEST_F(HandlerTest, RequestsOverTheListenerRunSideBySideAndCountOnceEach) {
    fFake->Answer = [&](const std::string& q) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // stands in for Q-link traffic
        return q;
    };
    const uint16_t port = fMain->ListenerPort();
    std::vector<std::thread> clients;
    std::vector<THttpReply> replies(8);
    for (int i = 0; i < 8; ++i) {
        clients.emplace_back([&, i] { replies[i] = Get(port, "/?c1.v" + std::to_string(i)); });
    }
    for (auto& t : clients) t.join();
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(replies[i].Status, 200);
        EXPECT_EQ(replies[i].Header("content-type"), "text/xml; charset=us-ascii");
        EXPECT_EQ(replies[i].Body, "c1.v" + std::to_string(i));
    }
    EXPECT_EQ(fMain->ReqCount(), 8);
    EXPECT_EQ(fMain->RequestStatus().LastReqUrl, "127.0.0.1");
}

TEST_F(HandlerTest, FilesLoginsAndOtherControllersAreServedWhileAVariableRequestWaitsForItsController) {
    std::mutex m;
    std::condition_variable changed;
    bool silent = true;  // the first controller asked does not answer until the test lets it
    fFake->Answer = [&](const std::string& q) {
        std::unique_lock<std::mutex> lock(m);
        changed.notify_all();
        changed.wait(lock, [&] { return !silent || q != "c99.temp"; });
        return q;
    };
    const uint16_t port = fMain->ListenerPort();
    THttpReply waiting, queued;
    std::thread first([&] { waiting = Get(port, "/?c99.temp"); });
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return fFake->Calls().size() == 1; }));
    }
    std::thread second([&] { queued = Get(port, "/?c10.temp"); });
    const auto started = std::chrono::steady_clock::now();
    const THttpReply file = Get(port, "/page.html");
    const THttpReply login = Get(port, "/?username=a&password=b");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(file.Status, 200);
    EXPECT_EQ(file.Body, "<html>page</html>");
    EXPECT_EQ(login.Body, "1");
    second.join();  // a request for another controller does not wait for the silent one
    EXPECT_EQ(queued.Body, "c10.temp");
    {
        std::lock_guard<std::mutex> lock(m);
        silent = false;
        changed.notify_all();
    }
    first.join();
    EXPECT_EQ(waiting.Body, "c99.temp");
    ASSERT_EQ(fFake->Calls().size(), 2u);
    EXPECT_EQ(fFake->Calls()[1].Query, "c10.temp");
    EXPECT_EQ(fMain->ReqCount(), 4);
}

// One client address keeps at most 16 streams open; the next gets 429, another client's stream opens, and a
// stream that ends gives its place back.
TEST_F(HandlerTest, StreamsOfOneClientAreBounded) {
    const auto open = [&](const std::string& client) {
        THttpRequestInfo rq;
        rq.Command = "GET";
        rq.ClientIp = client;
        rq.Document = "/";
        rq.Params = "c1.a";
        rq.Headers.emplace_back("Accept", "text/event-stream");
        THttpResponseInfo rs;
        fMain->IdHTTPServer1CommandGet(rq, rs);
        return rs;
    };
    std::vector<std::shared_ptr<THttpStream>> streams;
    for (std::size_t i = 0; i < kMaxStreamsPerClient; ++i) {
        THttpResponseInfo rs = open("10.0.0.7");
        ASSERT_EQ(rs.ResponseNo, 200) << i;
        streams.push_back(rs.Stream);
    }
    const THttpResponseInfo refused = open("10.0.0.7");
    EXPECT_EQ(refused.ResponseNo, 429);
    EXPECT_EQ(refused.ContentText, "Too many streams from one client: at most 16.");
    EXPECT_EQ(open("10.0.0.8").ResponseNo, 200);
    streams.back()->Close();
    EXPECT_EQ(open("10.0.0.7").ResponseNo, 200);
}

// JSON for clients that prefer it, live streams for EventSource, and cross-origin headers and preflights
// only where the AllowOrigin setting lets them.
TEST_F(HandlerTest, AnswerFormatsCrossOriginAndStreams) {
    fMain->FormDestroy();
    TMainOptions options;
    options.AllowOriginOverride = "http://page.example";
    options.StreamIntervalOverride = 20;
    fMain = MakeMain(true, options);
    fMain->FormCreate();
    auto handle = [&](const std::string& command, const std::string& params, const std::string& accept,
                      const std::string& origin) {
        THttpRequestInfo rq;
        rq.Command = command;
        rq.Document = "/";
        rq.Params = params;
        if (!accept.empty()) rq.Headers.emplace_back("Accept", accept);
        if (!origin.empty()) rq.Headers.emplace_back("origin", origin);
        THttpResponseInfo rs;
        fMain->IdHTTPServer1CommandGet(rq, rs);
        return rs;
    };
    const H allowed = {{"Access-Control-Allow-Origin", "http://page.example"}, {"Vary", "Origin"}};
    // A variable answer depends on Accept and Origin and is never cached.
    const H varied = {{"Vary", "Accept, Origin"}, {"Cache-Control", "no-store"}};
    const H allowedVaried = {{"Access-Control-Allow-Origin", "http://page.example"}, varied[0], varied[1]};
    const struct {
        std::string command, params, accept, origin;
        int status;
        std::string type;
        H headers;  // the first ones expected
    } cases[] = {
        {"GET", "c1.a", "", "", 200, "text/xml", varied},
        {"GET", "c1.a&c1.b", "application/json", "http://page.example", 200, "application/json; charset=utf-8", allowedVaried},
        {"GET", "c1.a", "application/json", "http://other.example", 200, "application/json; charset=utf-8", varied},
        {"OPTIONS", "", "", "http://page.example", 204, "", allowed},
        {"OPTIONS", "", "", "http://other.example", 405, "", {{"Vary", "Origin"}, {"Allow", "GET, HEAD, POST"}}},
        {"GET", "c1.a&c1.b=5", "text/event-stream", "", 400, "text/plain", varied},
        {"HEAD", "c1.a=5", "", "", 200, "text/xml", varied},  // reads, never writes
        {"GET", "c1.a", "text/event-stream", "http://page.example", 200, "text/event-stream; charset=utf-8",
         {allowedVaried[0], allowedVaried[1]}},
    };
    int32_t counted = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command + " " + c.params + " " + c.accept + " " + c.origin);
        THttpResponseInfo rs = handle(c.command, c.params, c.accept, c.origin);
        EXPECT_EQ(rs.ResponseNo, c.status);
        EXPECT_EQ(rs.ContentType, c.type);
        ASSERT_GE(rs.ExtraHeaders.size(), c.headers.size());
        EXPECT_EQ(H(rs.ExtraHeaders.begin(), rs.ExtraHeaders.begin() + static_cast<long>(c.headers.size())), c.headers);
        if (c.command != "OPTIONS") ++counted;
        EXPECT_EQ(fMain->ReqCount(), counted);
        if (c.status == 200 && c.command != "OPTIONS") {
            EXPECT_EQ(fFake->Calls().back().ReadOnly, c.command == "HEAD");
        }
        if (c.type.starts_with("application/json")) {
            const TJson doc = TJsonReader::Parse(rs.ContentText);
            EXPECT_EQ(doc["vars"].Items.size(), SplitRequestItems(c.params).size());
            EXPECT_EQ(doc["vars"].Items[0]["value"].Str, "c1.a");
        }
        if (c.type.starts_with("text/event-stream")) {
            ASSERT_TRUE(rs.Stream);
            EXPECT_EQ(rs.Stream->TakePending(),
                      "event: vars\ndata: {\"vars\":[{\"name\":\"c1.a\",\"value\":\"c1.a\",\"description\":\"\"}]}\n\n");
            // The stream's later readings are the hub's: uncounted, and the request count stays.
            EXPECT_TRUE(fFake->WaitUncounted());
            EXPECT_EQ(fMain->ReqCount(), counted);
            fMain->FormDestroy();
            EXPECT_TRUE(rs.Stream->Finished());  // shutdown ends the stream
        }
    }
    // Without the setting no cross-origin headers, OPTIONS refused; a file answer has no extra header.
    fMain = MakeMain();
    fMain->FormCreate();
    EXPECT_EQ(handle("GET", "c1.a", "", "http://page.example").ExtraHeaders,
              (H{{"Vary", "Accept"}, {"Cache-Control", "no-store"}}));
    EXPECT_TRUE(handle("GET", "", "", "http://page.example").ExtraHeaders.empty());
    const THttpResponseInfo rs = handle("OPTIONS", "", "", "http://page.example");
    EXPECT_EQ(rs.ResponseNo, 405);
    EXPECT_EQ(rs.ExtraHeaders, (H{{"Allow", "GET, HEAD, POST"}}));
}
