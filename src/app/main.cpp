// The program's main block: the command line, the single-instance rule, then the program with its window
// (until the tray menu's Exit), or headless: the main window's start-up, a run until SIGINT or SIGTERM,
// and its shutdown.
#include <csignal>
#include <iostream>

#include <pthread.h>

#include "app/fMain.h"
#include "app/uCommandLine.h"
#include "app/uDesktopHelpers.h"
#include "app/uOneInstance.h"
#include "log/uLog.h"
#include "platform/uServiceNotify.h"
#include "platform/uVersion.h"
#ifdef ZELTO_WITH_GUI
#include "app/gui/uDesktop.h"
#endif

using namespace zelto;

int main(int argc, char** argv) {
    const TCommandLine cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!cl.Error.empty()) {
        std::cerr << "ZeltoHttpServer: " << cl.Error << "\n" << UsageText();
        return 2;
    }
    if (cl.Help) {
        std::cout << UsageText();
        return 0;
    }
    if (cl.Version) {
        std::cout << "ZeltoHttpServer " << GetVersionText(3) << "\n";
        return 0;
    }

    // SIGINT and SIGTERM are taken by sigwait below (with the window: by a thread of its own, which also
    // takes the picture signals of --screenshot); blocked before any thread starts, so every thread
    // inherits the mask and none of them is interrupted.
#ifdef ZELTO_WITH_GUI
    const bool headless = cl.Headless;
#else
    const bool headless = true;  // this build has no window
#endif
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (!headless && cl.ScreenshotDir) {
        sigaddset(&stopSignals, SIGUSR1);
        sigaddset(&stopSignals, SIGUSR2);
    }
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TWakeRelay wake;
    auto instance = CheckSingleInstance([&] {
        MyLog.AddLog("Another copy was started and has ended; this copy keeps running");
        if (headless) std::cout << "Another copy was started; this copy keeps running" << std::endl;
        wake.Wake();
    });
    if (!instance) {
        std::cout << "ZeltoHttpServer is already running; it has been told so" << std::endl;
        return 0;
    }

#ifdef ZELTO_WITH_GUI
    if (!headless) {
        if (!DisplayAvailable()) {
            std::cerr << "ZeltoHttpServer: there is no display to show the window on (DISPLAY is not set).\n"
                         "Start it on a desktop, or run it without a window: ZeltoHttpServer --headless\n";
            return 1;
        }
        gui::TDesktopOptions desktop;
        desktop.Main.PortOverride = cl.Port;
        desktop.Main.AdapterOverride = cl.Adapter;
        desktop.Main.Service = cl.Service;
        desktop.Main.AllowOriginOverride = cl.AllowOrigin;
        desktop.Main.StreamIntervalOverride = cl.StreamInterval;
        desktop.Main.Mqtt = cl.Mqtt;
        desktop.ScreenshotDir = cl.ScreenshotDir.value_or("");
        return gui::RunDesktop(argc, argv, desktop, wake, stopSignals);
    }
#endif

    TMainOptions options;
    options.PortOverride = cl.Port;
    options.AdapterOverride = cl.Adapter;
    options.Service = cl.Service;
    options.AllowOriginOverride = cl.AllowOrigin;
    options.StreamIntervalOverride = cl.StreamInterval;
    options.Mqtt = cl.Mqtt;
    TfmMain fmMain(options);
    fmMain.OnShowMessage = [](const std::string& text) { std::cerr << text << std::endl; };
    fmMain.OnNotice = [](const std::string& text) { std::cout << text << std::endl; };
    fmMain.FormCreate();
    if (!fmMain.ListenerActive()) {
        // Headless there is no window to keep running for: without a listener the program has no use.
        fmMain.FormDestroy();
        return 1;
    }
    std::cout << fmMain.Caption() << " listening on port " << fmMain.ListenerPort() << std::endl;
    NotifyServiceManager("READY=1\nSTATUS=Listening on port " + std::to_string(fmMain.ListenerPort()));

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::cout << "Stopping" << std::endl;
    NotifyServiceManager("STOPPING=1");
    fmMain.FormDestroy();
    return 0;
}
