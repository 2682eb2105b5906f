// main of the widget tests: one application object on the offscreen platform, no display needed, with the
// program's font. "--dpi=N" runs the tests on a screen of N DPI (96 without it).
#include <cstdlib>
#include <string>

#include <QApplication>
#include <gtest/gtest.h>

#include "app/gui/uFormScale.h"

int main(int argc, char** argv) {
    std::string dpi = "96";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--dpi=", 0) == 0) dpi = arg.substr(6);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The screen's DPI as the program's fonts meet it, without Qt scaling the window as a whole.
    setenv("QT_FONT_DPI", dpi.c_str(), 1);
    setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName("ZeltoHttpServer");
    QApplication::setFont(zelto::gui::ProgramFont());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
