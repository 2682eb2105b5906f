// The main window as a widget (offscreen): start-up steps, the status shown, close and restore.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/FakeRequestService.h"
#include "app/gui/fMainWindow.h"
#include "app/uDesktopHelpers.h"
#include "log/uLog.h"
#include "platform/TempDir.h"
#include "platform/TestHttpClient.h"

using namespace zelto;
using namespace zelto::gui;
using namespace zelto::test;

namespace {

// A request service whose latest variable request named three controllers, one of them silent.
class TThreeControllers : public TFakeRequestService {
public:
    std::array<std::optional<TControllerStatus>, 3> LastAccessList() const override {
        return {TControllerStatus{10, "127.0.0.1", true, Now(), 4}, TControllerStatus{12, "127.0.0.2", true, Now(), 2},
                TControllerStatus{7, "", false, Now(), 1}};
    }
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        MyLog.Enabled = false;
        fMain = std::make_unique<TfmMain>(LoopbackMainOptions(fDir.Path().string()),
                                          [](const IMainWindowState&) { return std::make_unique<TThreeControllers>(); });
    }
    bool Shows(const QWidget& w, const QString& text) {
        for (const QLabel* l : w.findChildren<QLabel*>()) {
            if (l->text() == text) return true;
        }
        return false;
    }
    // A label that shows address as a link to itself.
    bool ShowsLink(const QWidget& w, const std::string& address) {
        const QString a = QString::fromStdString(address);
        for (const QLabel* l : w.findChildren<QLabel*>()) {
            if (l->isVisibleTo(&w) && l->text() == QString("<a href=\"%1\">%1</a>").arg(a)) return true;
        }
        return false;
    }
    std::string Conf() const { return ReadFileText(fDir / "cfg/Tessvik/ZeltoHttpServer.conf"); }

    TTempDir fDir;
    std::unique_ptr<TfmMain> fMain;
};

}  // namespace

TEST_F(MainWindowTest, StartsIdleAndShowsTheLatestRequest) {
    WriteFileText(fDir / "cfg/Tessvik/ZeltoHttpServer.conf", "Left=40\nTop=30\nWidth=800\nHeight=500\n");
    TfmMainWindow w(*fMain);
    w.FormCreate();
    EXPECT_EQ(w.windowTitle(), "ZeltoHttpServer v1.0.3");
    EXPECT_EQ(w.geometry(), QRect(40, 30, 800, 500));
    w.ShowAtStart();
    w.Timer1Timer();
    EXPECT_EQ(w.View().TimeoutCounter, "Timeout: 0 [s]");
    EXPECT_TRUE(Shows(w, "No requests"));
    EXPECT_EQ(w.View().PhonePicture, spClientWaiting);
    // The address to open in a browser: the local address shown and the port bound.
    const std::string address = "http://" + fMain->RequestStatus().LocalIp + ":" + std::to_string(fMain->ListenerPort()) + "/";
    EXPECT_EQ(w.BrowserAddressShown(), address);
    EXPECT_TRUE(ShowsLink(w, address));

    EXPECT_EQ(Get(fMain->ListenerPort(), "/?c10.temp&c12.temp&c7.temp").Status, 200);
    w.Timer1Timer();
    EXPECT_TRUE(Shows(w, "1 requests"));
    EXPECT_TRUE(Shows(w, "127.0.0.1"));
    EXPECT_TRUE(Shows(w, "c10, 127.0.0.1"));
    EXPECT_TRUE(ShowsLink(w, "http://127.0.0.1:" + std::to_string(fMain->ListenerPort()) + "/")) << "the request's local address";
    EXPECT_TRUE(Shows(w, "c12, 127.0.0.2"));
    EXPECT_TRUE(Shows(w, "c7, "));
    EXPECT_TRUE(Shows(w, "Timeout: 10 [s]"));
    EXPECT_EQ(w.View().Panels[2].Picture, spControllerFailed);
    // The link follows the port the listener has bound, and goes while it listens nowhere.
    const uint16_t before = fMain->ListenerPort();
    ASSERT_EQ(fMain->RestartListener(0), "");
    w.Timer1Timer();
    EXPECT_NE(fMain->ListenerPort(), before);
    EXPECT_TRUE(ShowsLink(w, "http://127.0.0.1:" + std::to_string(fMain->ListenerPort()) + "/"));
    // A port another program listens on: no listener, no link.
    const int other = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    socklen_t length = sizeof any;
    ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(::listen(other, 1), 0);
    ASSERT_EQ(::getsockname(other, reinterpret_cast<sockaddr*>(&any), &length), 0);
    EXPECT_NE(fMain->RestartListener(ntohs(any.sin_port)), "");
    ::close(other);
    w.Timer1Timer();
    EXPECT_EQ(w.BrowserAddressShown(), "");
    EXPECT_FALSE(ShowsLink(w, "http://127.0.0.1:" + std::to_string(ntohs(any.sin_port)) + "/"));

    w.FormDestroy();
    for (const char* line : {"Top=30\n", "Left=40\n", "Width=800\n", "Height=500\n", "Maximized=0\n"}) {
        EXPECT_NE(Conf().find(line), std::string::npos) << line << Conf();
    }
}

// With a tray, Close hides the window there and the tray brings it back; without one (the offscreen
// platform has none), Close ends the program as the tray's Exit does, after saving the settings.
TEST_F(MainWindowTest, CloseHidesToTheTrayOrEndsTheProgramWithoutOne) {
    TfmMainWindow w(*fMain);
    w.FormCreate();
    w.ShowAtStart();
    const bool tray = QSystemTrayIcon::isSystemTrayAvailable();
    // The tray icon: the program's icon, a menu with Restore and Exit.
    const auto trays = w.findChildren<QSystemTrayIcon*>();
    ASSERT_EQ(trays.size(), 1);
    EXPECT_FALSE(trays[0]->icon().isNull());
    ASSERT_NE(trays[0]->contextMenu(), nullptr);
    QStringList items;
    for (const QAction* a : trays[0]->contextMenu()->actions()) items << a->text();
    EXPECT_EQ(items, QStringList({"Restore", "Exit"}));
    QPushButton* exit = nullptr;
    for (QPushButton* b : w.findChildren<QPushButton*>()) {
        if (b->text() == "Exit") exit = b;
    }
    ASSERT_NE(exit, nullptr);
    EXPECT_EQ(exit->isVisibleTo(&w), !tray || RunningUnderDebugger());

    if (!tray) {
        QTimer::singleShot(0, &w, [&w] { w.close(); });
        QTimer::singleShot(10000, [] { QApplication::exit(99); });  // a Close that did nothing
        EXPECT_EQ(QApplication::exec(), 0) << "Close ends the program";
        w.FormDestroy();
        EXPECT_NE(Conf().find("Width="), std::string::npos) << "the settings are saved on the way out: " << Conf();
        return;
    }
    EXPECT_FALSE(w.close()) << "closing only hides";
    EXPECT_FALSE(w.isVisible());
    w.acToggleExecute();
    EXPECT_TRUE(w.isVisible() && !w.isMinimized());
    emit trays[0]->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(w.isVisible());
    trays[0]->contextMenu()->actions()[0]->trigger();
    EXPECT_TRUE(w.isVisible() && !w.isMinimized());
    EXPECT_TRUE(fMain->ListenerActive()) << "it keeps serving";
    w.FormDestroy();
}

TEST_F(MainWindowTest, AMaximizedWindowIsRestoredMaximized) {
    WriteFileText(fDir / "cfg/Tessvik/ZeltoHttpServer.conf", "Maximized=1\n");
    TfmMainWindow w(*fMain);
    w.FormCreate();
    w.ShowAtStart();
    EXPECT_TRUE(w.isMaximized());
    w.acCloseExecute();
    w.FormDestroy();
    EXPECT_NE(Conf().find("Maximized=1\n"), std::string::npos) << Conf();
}
