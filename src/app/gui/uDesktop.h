#pragma once
// The program with its window: the application object, the main window and its dialogs, the message loop.
#include <signal.h>

#include <string>

#include "app/fMain.h"
#include "app/uDesktopHelpers.h"

namespace zelto::gui {

struct TDesktopOptions {
    TMainOptions Main;
    // With a folder, SIGUSR1 saves a picture of the main window there and SIGUSR2 pictures of the main
    // window and the dialogs (numbered per signal); both signals must be in signalSet.
    std::string ScreenshotDir;
};

// Runs until the tray menu's Exit, or until one of the stop signals (SIGINT, SIGTERM) in signalSet arrives;
// signalSet must be blocked in every thread. A wake-up through wake shows the window. Returns the exit code.
int RunDesktop(int& argc, char** argv, const TDesktopOptions& options, TWakeRelay& wake, const sigset_t& signalSet);

}  // namespace zelto::gui
