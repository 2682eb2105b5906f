// The real program with its window, started as a user starts it on an X display (a private Xvfb), in the
// test's own network namespace beside ZeltoSim. It saves pictures of its window and dialogs into the build
// folder (screenshots/), where anyone can look at them; the test checks that they show something.
#include <signal.h>

#include <QColor>
#include <QImage>
#include <chrono>
#include <filesystem>
#include <set>
#include <utility>
#include <thread>

#include <gtest/gtest.h>

#include "app/TestProcess.h"
#include "net/PrivateNetwork.h"
#include "platform/TempDir.h"
#include "platform/TestHttpClient.h"

using namespace zelto::test;
namespace fs = std::filesystem;

namespace {

constexpr int kStartMs = 15000;

// The number of different colours in a picture; a blank one has one or two.
std::size_t ColourCount(const QImage& img) {
    std::set<QRgb> colours;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) colours.insert(img.pixel(x, y));
    }
    return colours.size();
}

class ScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZELTO_REQUIRE_PRIVATE_NETWORK();
        if (!fs::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
        // The program and its help text in a folder of their own, as a user installs it.
        fs::copy_file(ZELTO_SERVER_BINARY, fDir / "ZeltoHttpServer");
        fs::copy_file(fs::path(ZELTO_SERVER_BINARY).parent_path() / "Readme.txt", fDir / "Readme.txt");
        fs::create_directories(fDir / "cfg");
        fs::create_directories(fDir / "cache");
        fs::create_directories(kShots);
        // -displayfd: Xvfb picks a free display and writes its number when it is ready.
        fX = std::make_unique<TTestProcess>(
            "/usr/bin/Xvfb", std::vector<std::string>{"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
            fDir.Path().string(), std::map<std::string, std::string>{}, "xvfb");
        ASSERT_TRUE(fX->WaitForStdout("\n", kStartMs)) << fX->Stderr();
        std::string display = fX->Stdout();
        display.erase(display.find('\n'));
        fEnv = {{"DISPLAY", ":" + display}, {"XDG_CONFIG_HOME", fDir / "cfg"}, {"TEMP", fDir / "cache"},
                {"XDG_RUNTIME_DIR", fDir.Path().string()}, {"LC_ALL", "C"}, {"QT_QPA_PLATFORM", ""}};
        // Settings as a user leaves them: the loopback adapter chosen for Q-link, a password.
        WriteFileText(fDir / "cfg/Tessvik/ZeltoComServer.conf", "EthernetAdapterID=lo\n");
        WriteFileText(fDir / "cfg/Tessvik/ZeltoHttpServer.conf", "QLinkPassword=secret\n");
    }
    void TearDown() override {
        for (auto* p : {&fServer, &fSim, &fX}) {
            if (*p) {
                (*p)->Signal(SIGTERM);
                (*p)->Wait(kStartMs);
            }
        }
    }

    bool StartServer() {
        fServer = std::make_unique<TTestProcess>(
            fDir / "ZeltoHttpServer", std::vector<std::string>{"--port", "0", "--screenshot", kShots},
            fDir.Path().string(), fEnv, "server");
        if (!fServer->WaitForStdout("listening on port ", kStartMs)) return false;
        const std::string out = fServer->Stdout();
        fPort = static_cast<uint16_t>(std::stoi(out.substr(out.find("listening on port ") + 18)));
        return true;
    }

    // Asks the program for pictures (SIGUSR1: the window, SIGUSR2: the window and the dialogs).
    bool Shoot(int sig, int n) {
        fServer->Signal(sig);
        return fServer->WaitForStdout("Screenshots " + std::to_string(n) + ":", kStartMs);
    }

    QImage Picture(const std::string& name) const { return QImage(QString::fromStdString(kShots + "/" + name)); }

    const std::string kShots = ZELTO_SCREENSHOT_DIR;
    TTempDir fDir;
    std::map<std::string, std::string> fEnv;
    std::unique_ptr<TTestProcess> fX, fSim, fServer;
    uint16_t fPort = 0;
};

}  // namespace

TEST_F(ScreenshotTest, WindowIdleAndWithThreeControllersAndTheDialogs) {
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    // Idle, right after the start.
    ASSERT_TRUE(Shoot(SIGUSR1, 1)) << fServer->Stderr();
    const QImage idle = Picture("main-1.png");
    ASSERT_FALSE(idle.isNull());
    // The designed size or more, as the font in use needs.
    EXPECT_GE(idle.width(), 475);
    EXPECT_GE(idle.height(), 340);
    EXPECT_GT(ColourCount(idle), 50u);

    // Two controllers that answer and one that is silent.
    fSim = std::make_unique<TTestProcess>(ZELTO_SIM_BINARY, std::vector<std::string>{"10", "12"}, fDir.Path().string(),
                                          fEnv, "sim");
    ASSERT_TRUE(fSim->WaitForStdout("ZeltoSim listening", kStartMs)) << fSim->Stderr();
    const THttpReply reply = Get(fPort, "/?c10.temp&c12.level&c7.temp");
    EXPECT_EQ(reply.Status, 200);
    EXPECT_NE(reply.Body.find("<name>c7.temp</name><value>?</value>"), std::string::npos) << reply.Body;

    ASSERT_TRUE(Shoot(SIGUSR2, 2)) << fServer->Stderr();
    const QImage active = Picture("main-2.png");
    ASSERT_FALSE(active.isNull());
    EXPECT_GT(ColourCount(active), ColourCount(idle)) << "coloured pictures and more text while active";
    EXPECT_NE(active, idle);
    for (const char* name : {"setup-2.png", "about-2.png", "help-2.png"}) {
        const QImage dialog = Picture(name);
        ASSERT_FALSE(dialog.isNull()) << name;
        EXPECT_GT(ColourCount(dialog), 10u) << name;
    }
    for (auto [name, design] : {std::pair{"setup-2.png", QSize(304, 152)}, {"about-2.png", QSize(347, 134)},
                                {"help-2.png", QSize(475, 463)}}) {
        EXPECT_GE(Picture(name).width(), design.width()) << name;
        EXPECT_GE(Picture(name).height(), design.height()) << name;
    }

    // A second start wakes this copy and ends at once.
    TTestProcess second(fDir / "ZeltoHttpServer", {"--port", "0"}, fDir.Path().string(), fEnv, "second");
    EXPECT_EQ(second.Wait(kStartMs), 0);
    EXPECT_NE(second.Stdout().find("already running"), std::string::npos);

    fServer->Signal(SIGTERM);
    EXPECT_EQ(fServer->Wait(kStartMs), 0) << fServer->Stderr();
    fServer.reset();
    EXPECT_NE(ReadFileText(fDir / "cfg/Tessvik/ZeltoHttpServer.conf").find("Width=" + std::to_string(idle.width()) + "\n"),
              std::string::npos);
}

TEST(ProgramWithoutDisplay, SaysHowToRunItAndExits1) {
    ZELTO_REQUIRE_PRIVATE_NETWORK();
    TTempDir dir;
    fs::create_directories(dir / "cfg");
    TTestProcess p(ZELTO_SERVER_BINARY, {"--port", "0"}, dir.Path().string(),
                   {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}, {"XDG_CONFIG_HOME", dir / "cfg"}},
                   "nodisplay");
    EXPECT_EQ(p.Wait(kStartMs), 1);
    EXPECT_NE(p.Stderr().find("--headless"), std::string::npos) << p.Stderr();
}
