// main of the widget tests: one application object on the offscreen platform, no display needed.
#include <cstdlib>

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName("ZeltoHttpServer");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
