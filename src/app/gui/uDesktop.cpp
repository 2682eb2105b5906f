#include "app/gui/uDesktop.h"

#include <pthread.h>

#include <QApplication>
#include <QFont>
#include <QMetaObject>
#include <QPointer>
#include <atomic>
#include <iostream>
#include <thread>

#include "app/gui/fMainWindow.h"
#include "app/gui/uArtwork.h"
#include "app/gui/uFormScale.h"

namespace zelto::gui {

namespace {

constexpr const char* kProgramTitle = "ZeltoHttpServer";

// Takes the signals on a thread of its own and hands them to the window's thread.
class TSignalThread {
public:
    TSignalThread(const sigset_t& signalSet, TfmMainWindow& window, std::string screenshotDir)
        : fSignals(signalSet), fWindow(&window), fDir(std::move(screenshotDir)), fThread([this] { Run(); }) {}
    ~TSignalThread() {
        fStopping = true;
        pthread_kill(fThread.native_handle(), SIGTERM);  // blocked here too: sigwait returns it
        fThread.join();
    }

private:
    void Run() {
        int shot = 0;
        for (;;) {
            int sig = 0;
            if (sigwait(&fSignals, &sig) != 0 || fStopping) return;
            if (sig == SIGUSR1 || sig == SIGUSR2) {
                const bool dialogs = sig == SIGUSR2;
                const int n = ++shot;
                QMetaObject::invokeMethod(qApp, [w = fWindow, dir = fDir, n, dialogs] {
                    if (!w || dir.empty()) return;
                    const QStringList files = w->SaveScreenshots(QString::fromStdString(dir), n, dialogs);
                    std::cout << "Screenshots " << n << ": " << files.join(" ").toStdString() << std::endl;
                }, Qt::QueuedConnection);
                continue;
            }
            std::cout << "Stopping" << std::endl;
            QMetaObject::invokeMethod(qApp, [w = fWindow] { if (w) w->acExitExecute(); }, Qt::QueuedConnection);
            return;
        }
    }

    sigset_t fSignals;
    QPointer<TfmMainWindow> fWindow;
    std::string fDir;
    std::atomic<bool> fStopping{false};
    std::thread fThread;
};

}  // namespace

int RunDesktop(int& argc, char** argv, const TDesktopOptions& options, TWakeRelay& wake, const sigset_t& signalSet) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(kProgramTitle);
    QApplication::setWindowIcon(ProgramIcon());
    QApplication::setFont(ProgramFont());
    QApplication::setQuitOnLastWindowClosed(false);  // the program lives on in the tray

    TfmMain fmMain(options.Main);
    int code = 0;
    {
        TfmMainWindow window(fmMain);
        window.FormCreate();
        if (fmMain.ListenerActive()) {
            std::cout << fmMain.Caption() << " listening on port " << fmMain.ListenerPort() << std::endl;
        }
        window.ShowAtStart();
        // A second copy of the program shows this window, also from the tray.
        wake.SetReceiver([&window] {
            QMetaObject::invokeMethod(&window, [&window] { window.acRestoreExecute(); }, Qt::QueuedConnection);
        });
        {
            TSignalThread signalThread(signalSet, window, options.ScreenshotDir);
            code = QApplication::exec();
        }
        wake.SetReceiver(nullptr);
        window.FormDestroy();
    }
    return code;
}

}  // namespace zelto::gui
