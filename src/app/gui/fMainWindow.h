#pragma once
// The main window: the status panel of the client and of the three controllers of the latest variable
// request, the address to open in a browser, the tray icon with its menu, and the buttons that open the
// dialogs. It shows what TfmMain and
// the status logic (uStatusDisplay) work out; it decides nothing of its own.
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

#include "app/fMain.h"
#include "app/gui/uFormScale.h"
#include "app/uStatusDisplay.h"

class QFrame;
class QMenu;

namespace zelto::gui {

class TfmSetup;
class TfmAbout;
class TfmHelp;

class TfmMainWindow : public QWidget {
public:
    explicit TfmMainWindow(TfmMain& fmMain);
    ~TfmMainWindow() override;

    // Start-up: the logic's FormCreate, then the caption, geometry, idle pictures and the Exit button.
    void FormCreate();
    // Shutdown: records the geometry, then the logic's FormDestroy (settings saved, service freed).
    void FormDestroy();
    // Shows the window as the stored settings say (normal or maximised).
    void ShowAtStart();

    void Timer1Timer();
    void ResetStatusImages();

    void acCloseExecute();
    void acRestoreExecute();
    void acToggleExecute();
    void acExitExecute();
    void acSetupExecute();
    void acAboutExecute();
    void acHelpExecute();

    // Saves pictures of the window ("main-<n>.png") and, with dialogs, of the setup, about and help
    // dialogs into folder (a debugging aid: --screenshot). Returns the files written.
    QStringList SaveScreenshots(const QString& folder, int n, bool dialogs);

    const TStatusView& View() const { return fView; }
    // The address the window offers to open in a browser ("" while there is none).
    const std::string& BrowserAddressShown() const { return fBrowserAddress; }

protected:
    // FormCloseQuery: with a tray, hide and keep serving until Exit; without one, end the program as Exit does
    // (a hidden window could not be brought back, and there would be no menu to end it from).
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateComponents();
    void CreateActions();
    void CreateTrayIcon();
    void UpdateStatus();
    void ShowView();
    void ScaleToFont();
    void LayoutComponents();
    void CaptureGeometry();
    void ShowMessage(const std::string& text);
    void ShowBrowserAddress();

    TfmMain& fmMain;
    TStatusView fView;
    TStatusTimer fTimer;
    TFormScale fScale;
    bool fExiting = false;

    QLabel* Image1 = nullptr;  // banner
    QFrame* Shape1 = nullptr;
    QLabel* Image3 = nullptr;  // logo
    QLabel* imgPhone = nullptr;
    QLabel* lblReqUrl = nullptr;
    QLabel* lblReqTimestamp = nullptr;
    QLabel* lblReqCount = nullptr;
    QLabel* lblBrowser = nullptr;      // "Open in a browser:"
    QLabel* lblBrowserLink = nullptr;  // http://<local address>:<port>/, opens the browser
    std::string fBrowserAddress;       // the address the link shows
    std::array<QLabel*, 3> img{};
    std::array<QLabel*, 3> lblIP{};
    std::array<QLabel*, 3> lblDate{};
    std::array<QLabel*, 3> lblReq{};
    QFrame* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblLocalIp = nullptr;
    QLabel* lblTimeoutCounter = nullptr;
    QWidget* Panel2 = nullptr;
    QPushButton* btnSetup = nullptr;
    QPushButton* btnExit = nullptr;
    QPushButton* btnHelp = nullptr;
    QPushButton* btnAbout = nullptr;
    QPushButton* btnClose = nullptr;
    QTimer* Timer1 = nullptr;
    QSystemTrayIcon* TrayIcon1 = nullptr;
    QMenu* PopupMenu1 = nullptr;

    QAction* acClose = nullptr;
    QAction* acSetup = nullptr;
    QAction* acAbout = nullptr;
    QAction* acHelp = nullptr;
    QAction* acExit = nullptr;
    QAction* acRestore = nullptr;
    QAction* acToggle = nullptr;

    std::array<QPixmap, kStatusPictureCount> ImageList1;
    int fPhonePicture = -1;
    std::array<int, 3> fPanelPicture{-1, -1, -1};

    std::unique_ptr<TfmSetup> fmSetup;
    std::unique_ptr<TfmAbout> fmAbout;
    std::unique_ptr<TfmHelp> fmHelp;
};

}  // namespace zelto::gui
