// The window's tests run without a display, at one device pixel per pixel, in the window's font.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "gui/main_window.hpp"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_SCALE_FACTOR", "1", 1);
    QApplication application(argc, argv);
    QApplication::setFont(tapfix::gui::DialogFont());
    // A window the tests close must not end the event loops of the next tests.
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
