// The program's main block: the command line, the single-instance rule, then the main window's start-up,
// a run until SIGINT or SIGTERM, and its shutdown.
#include <csignal>
#include <iostream>

#include <pthread.h>

#include "app/fMain.h"
#include "app/uCommandLine.h"
#include "app/uOneInstance.h"
#include "log/uLog.h"
#include "platform/uVersion.h"

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

    // SIGINT and SIGTERM are taken by sigwait below; blocked before any thread starts, so every thread
    // inherits the mask and none of them is interrupted.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // Runs headless whatever --headless says until the desktop shell is part of the program.
    auto instance = CheckSingleInstance([] {
        MyLog.AddLog("Another copy was started and has ended; this copy keeps running");
        std::cout << "Another copy was started; this copy keeps running" << std::endl;
    });
    if (!instance) {
        std::cout << "ZeltoHttpServer is already running; it has been told so" << std::endl;
        return 0;
    }

    TMainOptions options;
    options.PortOverride = cl.Port;
    options.AdapterOverride = cl.Adapter;
    TfmMain fmMain(options);
    fmMain.OnShowMessage = [](const std::string& text) { std::cerr << text << std::endl; };
    fmMain.FormCreate();
    if (!fmMain.ListenerActive()) {
        // Headless there is no window to keep running for: without a listener the program has no use.
        fmMain.FormDestroy();
        return 1;
    }
    std::cout << fmMain.Caption() << " listening on port " << fmMain.ListenerPort() << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::cout << "Stopping" << std::endl;
    fmMain.FormDestroy();
    return 0;
}
