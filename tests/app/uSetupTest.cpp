#include "app/uSetup.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "app/FakeRequestService.h"
#include "log/uLog.h"
#include "platform/TempDir.h"
#include "platform/TestHttpClient.h"

using namespace zelto;
using namespace zelto::test;

namespace {

// A TCP socket listening on 127.0.0.1 at a port the system picks; the port stays taken while it lives.
class TTakenPort {
public:
    TTakenPort() {
        fFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fFd, 1);
        socklen_t len = sizeof a;
        ::getsockname(fFd, reinterpret_cast<sockaddr*>(&a), &len);
        fPort = ntohs(a.sin_port);
    }
    ~TTakenPort() { ::close(fFd); }
    uint16_t Port() const { return fPort; }

private:
    int fFd = -1;
    uint16_t fPort = 0;
};

// A port that was free a moment ago.
uint16_t FreePort() { return TTakenPort().Port(); }

class SetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        fSavedLogFile = MyLog.LogFile();
        MyLog.Enabled = false;
        MyLog.SetLogFile(fDir / "ZeltoHttpServer.log");
        WriteFileText(OwnFile(), "QLinkPassword=old\nLogToFile=0\n");
        WriteFileText(SiblingFile(), "EthernetAdapterID=lo\n");
        Start({});
    }
    // The program as started with adapterOverride (--adapter) or without.
    void Start(const std::optional<std::string>& adapterOverride) {
        fMain.reset();
        fServices.clear();
        TMainOptions options = LoopbackMainOptions(fDir.Path().string());
        options.AdapterOverride = adapterOverride;
        fMain = std::make_unique<TfmMain>(options, [this](const IMainWindowState&) {
            auto fake = std::make_unique<TFakeRequestService>();
            fServices.push_back(fake.get());
            return fake;
        });
        fMain->OnShowMessage = [this](const std::string& text) { fMessages.push_back(text); };
        fMain->FormCreate();
        ASSERT_TRUE(fMain->ListenerActive());
        fStored = ReadSettings();
    }
    void TearDown() override {
        fMain.reset();
        MyLog.Enabled = false;
        MyLog.SetLogFile(fSavedLogFile);
    }
    std::string OwnFile() const { return fDir / "cfg/Tessvik/ZeltoHttpServer.conf"; }
    std::string SiblingFile() const { return fDir / "cfg/Tessvik/ZeltoComServer.conf"; }
    std::string ReadSettings() const { return ReadFileText(OwnFile()) + "|" + ReadFileText(SiblingFile()); }

    // Runs the setup; the dialog sees the fields handed in, edit changes them, ok decides how it ends.
    TSetupOutcome Run(bool ok, const std::function<void(TSetupFields&)>& edit) {
        return acSetupExecute(*fMain, [&](TSetupFields& f) {
            fShown = f;
            edit(f);
            return ok;
        });
    }

    TTempDir fDir;
    std::string fSavedLogFile;
    std::unique_ptr<TfmMain> fMain;
    std::vector<TFakeRequestService*> fServices;
    std::vector<std::string> fMessages;
    std::string fStored;
    TSetupFields fShown;
};

}  // namespace

TEST_F(SetupTest, TheDialogGetsTheCurrentSettings) {
    MyLog.Enabled = true;
    Run(false, [](TSetupFields&) {});
    EXPECT_EQ(fShown.fHttpServerPort, std::to_string(fMain->ListenerPort()));
    EXPECT_EQ(fShown.fQLinkNetworkAdapterID, "lo");
    EXPECT_EQ(fShown.fQLinkPassword, "old");
    EXPECT_TRUE(fShown.fLogToFile);
}

TEST_F(SetupTest, CancelChangesNothingAndWritesNothing) {
    const uint16_t port = fMain->ListenerPort();
    const TSetupOutcome out = Run(false, [](TSetupFields& f) {
        f.fHttpServerPort = "1";
        f.fQLinkNetworkAdapterID = "eth9";
        f.fQLinkPassword = "new";
        f.fLogToFile = true;
    });
    EXPECT_FALSE(out.Accepted);
    EXPECT_EQ(fMain->ListenerPort(), port);
    EXPECT_EQ(fMain->QLinkNetworkAdapter(), "lo");
    EXPECT_EQ(fMain->QLinkPassword(), "old");
    EXPECT_FALSE(MyLog.Enabled);
    EXPECT_EQ(fServices.size(), 1u);
    EXPECT_EQ(ReadSettings(), fStored);
}

TEST_F(SetupTest, OkWithoutChangesKeepsListenerAndServiceButSaves) {
    std::filesystem::remove(OwnFile());
    const uint16_t port = fMain->ListenerPort();
    bool geometryTaken = false;
    const TSetupOutcome out = acSetupExecute(*fMain, [](TSetupFields&) { return true; }, [&] { geometryTaken = true; });
    EXPECT_TRUE(out.Accepted);
    EXPECT_FALSE(out.ListenerRestarted);
    EXPECT_FALSE(out.ServiceReplaced);
    EXPECT_TRUE(geometryTaken);
    EXPECT_EQ(fMain->ListenerPort(), port);
    EXPECT_EQ(fServices.size(), 1u);
    EXPECT_EQ(fMain->ZeltoServer(), fServices[0]);
    EXPECT_EQ(ReadFileText(OwnFile()),
              "Top=100\nLeft=100\nWidth=475\nHeight=340\nMaximized=0\nQLinkPassword=old\nLogToFile=0\nPort=80\n");
    EXPECT_TRUE(fMessages.empty());
}

TEST_F(SetupTest, ANewPortRestartsTheListenerAndIsSaved) {
    const uint16_t port = FreePort();
    const TSetupOutcome out = Run(true, [&](TSetupFields& f) { f.fHttpServerPort = std::to_string(port); });
    EXPECT_TRUE(out.ListenerRestarted);
    EXPECT_EQ(out.ListenerError, "");
    EXPECT_TRUE(fMain->ListenerActive());
    EXPECT_EQ(fMain->ListenerPort(), port);
    EXPECT_EQ(Get(port, "/?sys.x").Status, 200);
    EXPECT_NE(ReadFileText(OwnFile()).find("Port=" + std::to_string(port) + "\n"), std::string::npos);
    EXPECT_EQ(fServices.size(), 1u);
}

TEST_F(SetupTest, ATakenPortShowsTheMessageAndLeavesNoListener) {
    TTakenPort taken;
    const TSetupOutcome out = Run(true, [&](TSetupFields& f) { f.fHttpServerPort = std::to_string(taken.Port()); });
    EXPECT_TRUE(out.ListenerRestarted);
    EXPECT_EQ(fMessages, std::vector<std::string>{"Could not bind socket. Address and port are already in use."});
    EXPECT_FALSE(fMain->ListenerActive());
    // Saved all the same: the next start tries the same port.
    EXPECT_NE(ReadFileText(OwnFile()).find("Port=" + std::to_string(taken.Port()) + "\n"), std::string::npos);
}

TEST_F(SetupTest, PortTextsThatAreNoNumberKeepThePortAndBigOnesKeepTheirLow16Bits) {
    const struct {
        const char* text;
        int port;  // -1: the current port
    } cases[] = {{"", -1}, {"abc", -1}, {"8080", 8080}, {"65616", 80}, {"99999", 34463}, {"00080", 80}, {"0x50", 80}};
    for (const auto& c : cases) EXPECT_EQ(SetupPort(c.text, 4321), c.port < 0 ? 4321 : c.port) << c.text;

    const uint16_t port = fMain->ListenerPort();
    const TSetupOutcome out = Run(true, [](TSetupFields& f) { f.fHttpServerPort = ""; });
    EXPECT_FALSE(out.ListenerRestarted);
    EXPECT_EQ(fMain->ListenerPort(), port);
}

TEST_F(SetupTest, AVanishedAdapterStoresAnEmptyIdAndReplacesTheService) {
    WriteFileText(SiblingFile(), "EthernetAdapterID=gone0\n");
    fMain->SetQLinkNetworkAdapter("gone0");
    // The dialog: the stored ID matches no adapter, so nothing is selected, and OK reads back an empty ID.
    TEthernetAdapterInfoList adapters;
    const TSetupOutcome out = Run(true, [&](TSetupFields& f) {
        TSetupControls c;
        WriteControls(f, &adapters, c);
        EXPECT_EQ(c.AdapterIndex, -1);
        EXPECT_EQ(c.AdapterText, "");
        ReadControls(c, &adapters, f);
    });
    EXPECT_TRUE(out.ServiceReplaced);
    EXPECT_EQ(fMain->QLinkNetworkAdapter(), "");
    EXPECT_EQ(ReadFileText(SiblingFile()), "EthernetAdapterID=\n");
    ASSERT_EQ(fServices.size(), 2u);
    EXPECT_EQ(fMain->ZeltoServer(), fServices[1]);
    EXPECT_EQ(fServices[1]->Adapter(), "");
    // The new service answers the next request, with the password.
    EXPECT_EQ(Get(fMain->ListenerPort(), "/?c1.x").Body, "<xml>c1.x</xml>");
    ASSERT_EQ(fServices[1]->Calls().size(), 1u);
    EXPECT_EQ(fServices[1]->Calls()[0].Password, "old");
}

// The window never waits for a request: an adapter or port change while a request waits for a silent
// controller returns at once; the request ends on the service it started on (a port change closes its
// connection), and the next one gets the new service.
TEST_F(SetupTest, AnAdapterOrPortChangeDoesNotWaitForARequestInProgress) {
    for (const bool movePort : {false, true}) {
        SCOPED_TRACE(movePort ? "adapter and port" : "adapter");
        if (movePort) {
            fMain.reset();  // saves its settings: the stored adapter is written after
            WriteFileText(SiblingFile(), "EthernetAdapterID=lo\n");
            Start({});
        }
        std::mutex m;
        std::condition_variable changed;
        bool silent = true;
        fServices[0]->Answer = [&](const std::string& q) {
            std::unique_lock<std::mutex> lock(m);
            changed.notify_all();
            changed.wait(lock, [&] { return !silent; });
            return q;
        };
        THttpReply waiting;
        std::thread request([&] { waiting = Get(fMain->ListenerPort(), "/?c99.temp"); });
        {
            std::unique_lock<std::mutex> lock(m);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return fServices[0]->Calls().size() == 1; }));
        }
        const auto start = std::chrono::steady_clock::now();
        const uint16_t port = movePort ? FreePort() : fMain->ListenerPort();
        const TSetupOutcome out = Run(true, [&](TSetupFields& f) {
            f.fQLinkNetworkAdapterID = "eth7";
            f.fHttpServerPort = std::to_string(port);
        });
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        EXPECT_TRUE(out.ServiceReplaced);
        EXPECT_EQ(out.ListenerRestarted, movePort);
        EXPECT_EQ(fMain->ListenerPort(), port);
        ASSERT_EQ(fServices.size(), 2u);
        EXPECT_EQ(fMain->ZeltoServer(), fServices[1]);
        EXPECT_EQ(fServices[1]->Adapter(), "eth7");
        {
            std::lock_guard<std::mutex> lock(m);
            silent = false;
            changed.notify_all();
        }
        request.join();
        EXPECT_EQ(waiting.Body, movePort ? "" : "c99.temp");  // the old service is gone with its request
        EXPECT_EQ(Get(port, "/?c1.x").Body, "<xml>c1.x</xml>");
        EXPECT_EQ(fServices[1]->Calls().size(), 1u);
    }
}

TEST_F(SetupTest, TheDialogShowsTheAdapterInUseAndOnlyAnotherOneIsAChange) {
    const struct {
        std::optional<std::string> adapterOverride;  // --adapter
        const char* choice;
        bool replaced;
        const char* stored;
        const char* inUse;
    } cases[] = {
        {std::nullopt, "lo", false, "lo", "lo"},
        {std::nullopt, "eth7", true, "eth7", "eth7"},
        {"ovr0", "ovr0", false, "lo", "ovr0"},  // this run's adapter kept, and not stored
        {"ovr0", "lo", true, "lo", "lo"},       // the stored adapter is a change from the one in use
        {"ovr0", "eth7", true, "eth7", "eth7"},
    };
    for (const auto& c : cases) {
        const std::string name = c.adapterOverride.value_or("-") + " -> " + c.choice;
        fMain.reset();  // saves its settings: the stored adapter is written after
        WriteFileText(SiblingFile(), "EthernetAdapterID=lo\n");
        Start(c.adapterOverride);
        ASSERT_EQ(fServices.size(), 1u) << name;
        EXPECT_EQ(fServices[0]->Adapter(), c.adapterOverride.value_or("lo")) << name;
        const TSetupOutcome out = Run(true, [&](TSetupFields& f) { f.fQLinkNetworkAdapterID = c.choice; });
        EXPECT_EQ(fShown.fQLinkNetworkAdapterID, c.adapterOverride.value_or("lo")) << name;
        EXPECT_EQ(out.ServiceReplaced, c.replaced) << name;
        EXPECT_EQ(fServices.back()->Adapter(), c.inUse) << name;
        EXPECT_EQ(ReadFileText(SiblingFile()), std::string("EthernetAdapterID=") + c.stored + "\n") << name;
        Run(false, [](TSetupFields&) {});
        EXPECT_EQ(fShown.fQLinkNetworkAdapterID, c.inUse) << name << ": the next showing";
    }
}

TEST_F(SetupTest, ANewPasswordAloneKeepsTheServiceAndReachesTheNextRequest) {
    const TSetupOutcome out = Run(true, [](TSetupFields& f) {
        f.fQLinkPassword = "n3w";
        f.fLogToFile = true;
    });
    EXPECT_FALSE(out.ServiceReplaced);
    EXPECT_TRUE(MyLog.Enabled);
    EXPECT_EQ(fServices.size(), 1u);
    Get(fMain->ListenerPort(), "/?c1.x");
    ASSERT_EQ(fServices[0]->Calls().size(), 1u);
    EXPECT_EQ(fServices[0]->Calls()[0].Password, "n3w");
    EXPECT_NE(ReadFileText(OwnFile()).find("QLinkPassword=n3w\nLogToFile=1\n"), std::string::npos);
}

TEST(SetupControls, WriteAndReadTheControls) {
    TEthernetAdapterInfoList adapters;
    TSetupFields in{"8080", "lo", "pw", true};
    TSetupControls c;
    c.AdapterItems = {"stale line"};
    WriteControls(in, &adapters, c);
    EXPECT_EQ(c.HttpServerPort, "8080");
    EXPECT_EQ(c.QLinkPassword, "pw");
    EXPECT_TRUE(c.LogToFile);
    ASSERT_EQ(static_cast<int>(c.AdapterItems.size()), adapters.Count());  // the old lines are gone
    ASSERT_GE(c.AdapterIndex, 0) << "the loopback adapter is always there";
    EXPECT_EQ(adapters.GetItem(c.AdapterIndex)->ID(), "lo");
    EXPECT_EQ(c.AdapterText, c.AdapterItems[static_cast<std::size_t>(c.AdapterIndex)]);
    EXPECT_EQ(c.AdapterHint, c.AdapterText);

    // Read back: the selected index decides; typed text selects nothing, and so does an index outside.
    const struct {
        int index;
        bool withList;
        const char* id;
    } cases[] = {{c.AdapterIndex, true, "lo"}, {-1, true, ""}, {adapters.Count(), true, ""}, {c.AdapterIndex, false, ""}};
    for (const auto& k : cases) {
        TSetupControls r = c;
        r.AdapterIndex = k.index;
        TSetupFields out{"x", "previous", "", false};
        ReadControls(r, k.withList ? &adapters : nullptr, out);
        EXPECT_EQ(out.fQLinkNetworkAdapterID, k.id) << k.index << " " << k.withList;
        EXPECT_EQ(out.fHttpServerPort, "8080");
        EXPECT_EQ(out.fQLinkPassword, "pw");
        EXPECT_TRUE(out.fLogToFile);
    }

    // Without a list the drop-down is left alone.
    TSetupControls untouched;
    untouched.AdapterItems = {"kept"};
    WriteControls(in, nullptr, untouched);
    EXPECT_EQ(untouched.AdapterItems, std::vector<std::string>{"kept"});
}
