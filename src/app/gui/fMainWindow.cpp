#include "app/gui/fMainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>

#include "app/gui/fAbout.h"
#include "app/gui/fHelp.h"
#include "app/gui/fSetup.h"
#include "app/gui/uArtwork.h"
#include "app/gui/uFormScale.h"
#include "app/uDesktopHelpers.h"
#include "app/uPaths.h"
#include "app/uSetup.h"
#include "log/uLog.h"

namespace zelto::gui {

namespace {

// The designed client area; components anchored right or bottom keep their distance to that edge.
constexpr int kDesignWidth = 475;
constexpr int kDesignHeight = 340;
constexpr int kLabelHeight = 16;
// The design's boxes of the texts that change: the client column, a controller panel, the strip's fields.
constexpr int kClientTextWidth = 150;
constexpr int kPanelTextLeft = 344;
constexpr int kPanelTextWidth = kDesignWidth - kPanelTextLeft - 4;
constexpr int kTimeoutLeft = 257;
constexpr int kTimeoutWidth = kDesignWidth - kTimeoutLeft - 8;
// The browser address in the free space of the left column, under the client's texts and clear of the
// controller pictures (which start at 257).
constexpr int kBrowserLeft = 19;
constexpr int kBrowserTop = 121;
constexpr int kBrowserWidth = 230;

// The widest texts the status labels show, so that their boxes hold them whole.
const char* const kWidestAddress = "255.255.255.255";
const char* const kWidestPanelAddress = "c255, 255.255.255.255";
const char* const kWidestCount = "2147483647 requests";
const char* const kWidestTimeout = "Timeout: 10 [s]";
const char* const kWidestBrowserAddress = "http://255.255.255.255:65535/";

bool TrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

QString WidestTimestamp() {
    return QString::fromStdString(FormatStatusTimestamp(EncodeDateTime({2088, 12, 28, 20, 48, 58, 888}), FormatSettings()));
}

}  // namespace

TfmMainWindow::TfmMainWindow(TfmMain& main) : QWidget(nullptr), fmMain(main) {
    setWindowTitle(QApplication::applicationName());
    setWindowIcon(ProgramIcon());
    CreateActions();
    CreateComponents();
    CreateTrayIcon();
    ScaleToFont();
    LayoutComponents();
    ShowView();

    // The dialogs are made once, after the main window, and reused.
    fmSetup = std::make_unique<TfmSetup>(this);
    fmAbout = std::make_unique<TfmAbout>(this);
    fmHelp = std::make_unique<TfmHelp>(this);

    Timer1 = new QTimer(this);
    Timer1->setInterval(250);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Timer1->start();
}

TfmMainWindow::~TfmMainWindow() = default;

// The design's places for the font in use: the factors of the font, widened until the buttons' texts and
// the widest status texts fit their boxes. The pictures are drawn at the size this gives them.
void TfmMainWindow::ScaleToFont() {
    TFormScale& s = fScale;
    s = TFormScale(*this);
    const QString timestamp = WidestTimestamp();
    const QStringList clientTexts{kWidestAddress, timestamp, kWidestCount, tr("No requests")};
    for (QLabel* label : {lblReqUrl, lblReqTimestamp, lblReqCount}) s.Fit(*label, clientTexts, kClientTextWidth);
    const QStringList panelTexts{kWidestPanelAddress, timestamp, kWidestCount, tr("No requests")};
    for (std::size_t i = 0; i < 3; ++i) {
        for (QLabel* label : {lblIP[i], lblDate[i], lblReq[i]}) s.Fit(*label, panelTexts, kPanelTextWidth);
    }
    s.Fit(*lblBrowser, {lblBrowser->text()}, kBrowserWidth);
    s.Fit(*lblBrowserLink, {kWidestBrowserAddress}, kBrowserWidth);
    s.Fit(*Label1, {Label1->text()}, 78);
    s.Fit(*lblLocalIp, {kWidestAddress}, 165);
    s.Fit(*lblTimeoutCounter, {kWidestTimeout, lblTimeoutCounter->text()}, kTimeoutWidth);
    for (QPushButton* b : {btnSetup, btnExit, btnHelp, btnAbout, btnClose}) s.Fit(*b, {b->text()}, 75);

    for (int i = 0; i < kStatusPictureCount; ++i) ImageList1[static_cast<std::size_t>(i)] = StatusPicture(i, s.Picture(64));
    Image3->setPixmap(LogoPicture(s.Picture(111), s.Picture(26)));
    resize(s.Size(kDesignWidth, kDesignHeight));
    setMinimumSize(s.Size(kDesignWidth, kDesignHeight));
}

void TfmMainWindow::CreateActions() {
    auto action = [this](const QString& text, void (TfmMainWindow::*execute)()) {
        auto* a = new QAction(text, this);
        connect(a, &QAction::triggered, this, [this, execute] { (this->*execute)(); });
        return a;
    };
    acClose = action(tr("Close"), &TfmMainWindow::acCloseExecute);
    acSetup = action(tr("Setup"), &TfmMainWindow::acSetupExecute);
    acAbout = action(tr("About"), &TfmMainWindow::acAboutExecute);
    acHelp = action(tr("Help"), &TfmMainWindow::acHelpExecute);
    acExit = action(tr("Exit"), &TfmMainWindow::acExitExecute);
    acRestore = action(tr("Restore"), &TfmMainWindow::acRestoreExecute);
    acToggle = action(QString(), &TfmMainWindow::acToggleExecute);
}

void TfmMainWindow::CreateComponents() {
    Image1 = new QLabel(this);
    Image1->setScaledContents(true);
    Shape1 = new QFrame(this);
    Shape1->setStyleSheet("background-color: #a0a0a0;");
    Image3 = new QLabel(Image1);
    Image3->setAlignment(Qt::AlignRight | Qt::AlignTop);

    imgPhone = new QLabel(this);
    imgPhone->setAlignment(Qt::AlignCenter);
    lblReqUrl = new QLabel("-", this);
    lblReqTimestamp = new QLabel("-", this);
    lblReqCount = new QLabel(tr("No requests"), this);
    for (std::size_t i = 0; i < 3; ++i) {
        img[i] = new QLabel(this);
        img[i]->setAlignment(Qt::AlignCenter);
        lblIP[i] = new QLabel("-", this);
        lblDate[i] = new QLabel("-", this);
        lblReq[i] = new QLabel(tr("No requests"), this);
    }
    lblBrowser = new QLabel(tr("Open in a browser:"), this);
    lblBrowser->setVisible(false);  // until there is an address to open
    lblBrowserLink = new QLabel(this);
    lblBrowserLink->setTextFormat(Qt::RichText);
    lblBrowserLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    lblBrowserLink->setOpenExternalLinks(false);
    lblBrowserLink->setToolTip(tr("Opens the server's pages in the web browser"));
    connect(lblBrowserLink, &QLabel::linkActivated, this, [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setStyleSheet("#Panel1 { border-top: 1px solid #b8b8b8; border-bottom: 1px solid #b8b8b8; }");
    Label1 = new QLabel(tr("Local address: "), Panel1);
    lblLocalIp = new QLabel(Panel1);
    lblTimeoutCounter = new QLabel(tr("Timeout: "), Panel1);

    Panel2 = new QWidget(this);
    auto button = [this](QAction* action) {
        auto* b = new QPushButton(action->text(), Panel2);
        connect(b, &QPushButton::clicked, action, &QAction::trigger);
        return b;
    };
    btnSetup = button(acSetup);
    btnExit = button(acExit);
    btnHelp = button(acHelp);
    btnAbout = button(acAbout);
    btnClose = button(acClose);
    btnExit->setVisible(false);
    btnExit->setEnabled(false);
}

void TfmMainWindow::CreateTrayIcon() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->addAction(acRestore);  // miRestore
    PopupMenu1->addAction(acExit);     // miExit
    TrayIcon1 = new QSystemTrayIcon(ProgramIcon(), this);
    TrayIcon1->setToolTip(QApplication::applicationName());
    TrayIcon1->setContextMenu(PopupMenu1);
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) acToggle->trigger();
    });
    TrayIcon1->show();
}

// Places the components: those on the left keep their place, the controller panels keep their distance
// to the right edge, the status strip and the button row stay at the bottom.
void TfmMainWindow::LayoutComponents() {
    const TFormScale& s = fScale;
    const int w = width();
    const int h = height();
    const int right = w - s.X(kDesignWidth);  // how far right-anchored components move
    const int bottom = h - s.Y(kDesignHeight);
    Image1->setGeometry(0, 0, w, s.Y(27));
    Image1->setPixmap(BannerPicture(w, s.Y(27)));
    Shape1->setGeometry(0, s.Y(27), w, 1);
    const int logoWidth = s.Picture(111);
    Image3->setGeometry(w - logoWidth, 0, logoWidth, s.Picture(26));

    imgPhone->setGeometry(s.Rect(19, 37, 64, 64));
    lblReqUrl->setGeometry(s.Rect(97, 45, kClientTextWidth, kLabelHeight));
    lblReqTimestamp->setGeometry(s.Rect(97, 64, kClientTextWidth, kLabelHeight));
    lblReqCount->setGeometry(s.Rect(97, 83, kClientTextWidth, kLabelHeight));
    lblBrowser->setGeometry(s.Rect(kBrowserLeft, kBrowserTop, kBrowserWidth, kLabelHeight));
    lblBrowserLink->setGeometry(s.Rect(kBrowserLeft, kBrowserTop + 19, kBrowserWidth, kLabelHeight));
    for (std::size_t i = 0; i < 3; ++i) {
        const int rowTop = static_cast<int>(i) * 80;
        img[i]->setGeometry(s.Rect(257, 37 + rowTop, 64, 64).translated(right, 0));
        // The panel's texts reach to the right edge.
        const int left = s.X(kPanelTextLeft) + right;
        const int textWidth = w - s.X(4) - left;
        for (auto [label, top] : {std::pair{lblIP[i], 46}, {lblDate[i], 65}, {lblReq[i], 84}}) {
            const QRect box = s.Rect(kPanelTextLeft, top + rowTop, kPanelTextWidth, kLabelHeight);
            label->setGeometry(left, box.top(), textWidth, box.height());
        }
    }

    Panel1->setGeometry(0, s.Y(273) + bottom, w, s.Y(28));
    Label1->setGeometry(s.Rect(8, 1, 78, 26));
    lblLocalIp->setGeometry(s.Rect(86, 1, 165, 26));
    const QRect timeout = s.Rect(kTimeoutLeft, 1, kTimeoutWidth, 26);
    lblTimeoutCounter->setGeometry(timeout.left(), timeout.top(), w - s.X(8) - timeout.left(), timeout.height());

    Panel2->setGeometry(0, s.Y(301) + bottom, w, s.Y(39));
    for (auto [button, left] : {std::pair{btnSetup, 8}, {btnExit, 149}, {btnHelp, 230}, {btnAbout, 311}, {btnClose, 392}}) {
        button->setGeometry(s.Rect(left, 8, 75, 25));
    }
}

void TfmMainWindow::resizeEvent(QResizeEvent* event) {
    LayoutComponents();
    QWidget::resizeEvent(event);
}

void TfmMainWindow::ShowMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), QString::fromStdString(text),
                    QMessageBox::Ok, isVisible() ? this : nullptr);
    box.exec();
}

void TfmMainWindow::FormCreate() {
    fmMain.OnShowMessage = [this](const std::string& text) { ShowMessage(text); };
    fmMain.FormCreate();
    // The local address is known from here on; the labels show it until the first request.
    fView.LocalIp = fmMain.RequestStatus().LocalIp;
    if (!fmMain.Caption().empty()) setWindowTitle(QString::fromStdString(fmMain.Caption()));
    const TWindowGeometry& g = fmMain.Geometry;
    QRect rect(g.Left, g.Top, g.Width, g.Height);
    // A place that no screen shows any more (a monitor was removed) would lose the window.
    bool visible = false;
    for (const QScreen* screen : QGuiApplication::screens()) visible = visible || screen->availableGeometry().intersects(rect);
    if (!visible && QGuiApplication::primaryScreen()) {
        rect.moveCenter(QGuiApplication::primaryScreen()->availableGeometry().center());
    }
    setGeometry(rect);
    if (fmMain.SettingsLoaded()) ResetStatusImages();
    // Exit is the tray menu's; without a tray it is the window's own way to end the program.
    const bool exitShown = RunningUnderDebugger() || !TrayAvailable();
    btnExit->setVisible(exitShown);
    btnExit->setEnabled(exitShown);
    ShowView();
}

void TfmMainWindow::ShowAtStart() {
    if (fmMain.Geometry.Maximized) showMaximized();
    else show();
}

void TfmMainWindow::CaptureGeometry() {
    const QRect r = normalGeometry().isValid() ? normalGeometry() : geometry();
    fmMain.Geometry.Left = r.left();
    fmMain.Geometry.Top = r.top();
    fmMain.Geometry.Width = r.width();
    fmMain.Geometry.Height = r.height();
    // A maximised window hidden in the tray keeps the flag with its minimised state.
    fmMain.Geometry.Maximized = (windowState() & Qt::WindowMaximized) != 0;
}

void TfmMainWindow::FormDestroy() {
    Timer1->stop();
    CaptureGeometry();
    fmMain.FormDestroy();
    fmMain.OnShowMessage = nullptr;
}

void TfmMainWindow::Timer1Timer() {
    try {
        fTimer.Timer1Timer([this] { UpdateStatus(); });
    } catch (const std::exception& e) {
        // The next tick tries again; one failed refresh is not worth a message every 250 ms.
        MyLog.AddLog(std::string("Status display: ") + e.what());
    }
}

void TfmMainWindow::UpdateStatus() {
    TStatusInput input;
    input.Now = Now();
    input.Request = fmMain.RequestStatus();
    input.ListenerActive = fmMain.ListenerActive();
    if (IRequestService* service = fmMain.ZeltoServer()) input.LastAccessList = service->LastAccessList();
    zelto::UpdateStatus(fView, input);
    ShowView();
}

void TfmMainWindow::ResetStatusImages() {
    zelto::ResetStatusImages(fView, fmMain.ListenerActive());
    ShowView();
}

// Copies the view into the labels and pictures, touching only what changed.
void TfmMainWindow::ShowView() {
    auto setText = [](QLabel* label, const std::string& text) {
        const QString t = QString::fromStdString(text);
        if (label->text() != t) label->setText(t);
    };
    auto setPicture = [this](QLabel* label, int& shown, int picture) {
        if (shown == picture || picture < 0 || picture >= kStatusPictureCount) return;
        shown = picture;
        label->setPixmap(ImageList1[static_cast<std::size_t>(picture)]);
    };
    setText(lblReqUrl, fView.ReqUrl);
    setText(lblReqTimestamp, fView.ReqTimestamp);
    setText(lblReqCount, fView.ReqCount);
    setText(lblLocalIp, fView.LocalIp);
    setText(lblTimeoutCounter, fView.TimeoutCounter);
    setPicture(imgPhone, fPhonePicture, fView.PhonePicture);
    for (std::size_t i = 0; i < 3; ++i) {
        setText(lblIP[i], fView.Panels[i].IP);
        setText(lblDate[i], fView.Panels[i].Date);
        setText(lblReq[i], fView.Panels[i].Req);
        setPicture(img[i], fPanelPicture[i], fView.Panels[i].Picture);
    }
    ShowBrowserAddress();
}

// The address to open: the local address the window shows and the port the listener has bound (none
// while it is not listening).
void TfmMainWindow::ShowBrowserAddress() {
    const std::string address = BrowserAddress(fView.LocalIp, fmMain.ListenerActive() ? fmMain.ListenerPort() : 0);
    if (address == fBrowserAddress) return;
    fBrowserAddress = address;
    const QString a = QString::fromStdString(address).toHtmlEscaped();
    lblBrowserLink->setText(address.empty() ? QString() : QString("<a href=\"%1\">%1</a>").arg(a));
    lblBrowser->setVisible(!address.empty());
}

void TfmMainWindow::closeEvent(QCloseEvent* event) {
    if (fExiting) {
        event->accept();
        return;
    }
    event->ignore();  // the window stays until the program ends; acCloseExecute decides which
    acCloseExecute();
}

void TfmMainWindow::acCloseExecute() {
    if (!TrayAvailable()) {
        // Nothing could bring a hidden window back, and no tray menu could end the program.
        acExitExecute();
        return;
    }
    setWindowState(windowState() | Qt::WindowMinimized);
    hide();
}

void TfmMainWindow::acRestoreExecute() {
    const bool maximized = (windowState() & Qt::WindowMaximized) != 0;
    setWindowState(maximized ? Qt::WindowMaximized : Qt::WindowNoState);
    show();
    raise();
    activateWindow();
}

void TfmMainWindow::acToggleExecute() {
    if (isVisible() && !isMinimized()) acCloseExecute();
    else acRestoreExecute();
}

void TfmMainWindow::acExitExecute() {
    fExiting = true;
    QApplication::exit(0);
}

void TfmMainWindow::acSetupExecute() {
    zelto::acSetupExecute(
        fmMain, [this](TSetupFields& fields) { return fmSetup->Execute(fields); }, [this] { CaptureGeometry(); });
}

void TfmMainWindow::acAboutExecute() { fmAbout->exec(); }

void TfmMainWindow::acHelpExecute() {
    fmHelp->HelpFile = QString::fromStdString(DefaultHelpFile(ExecutableDir()));
    fmHelp->exec();
}

QStringList TfmMainWindow::SaveScreenshots(const QString& folder, int n, bool dialogs) {
    QStringList written;
    QDir().mkpath(folder);
    auto save = [&](QWidget* w, const QString& name) {
        const QString file = QDir(folder).filePath(name);
        if (w->grab().save(file, "PNG")) written << file;
    };
    Timer1Timer();
    save(this, QString("main-%1.png").arg(n));
    if (dialogs) {
        TSetupFields fields;
        fields.fHttpServerPort = std::to_string(fmMain.ListenerActive() ? fmMain.ListenerPort() : fmMain.ListenerDefaultPort());
        fields.fQLinkNetworkAdapterID = fmMain.QLinkAdapterInUse();
        fields.fQLinkPassword = fmMain.QLinkPassword();
        fields.fLogToFile = MyLog.Enabled;
        fmSetup->Fields = fields;
        fmSetup->FormShow();
        fmHelp->HelpFile = QString::fromStdString(DefaultHelpFile(ExecutableDir()));
        for (auto [dialog, name] : {std::pair<QDialog*, const char*>{fmSetup.get(), "setup"},
                                    {fmAbout.get(), "about"}, {fmHelp.get(), "help"}}) {
            dialog->show();
            QApplication::processEvents();
            save(dialog, QString("%1-%2.png").arg(name).arg(n));
            dialog->hide();
        }
    }
    return written;
}

}  // namespace zelto::gui
