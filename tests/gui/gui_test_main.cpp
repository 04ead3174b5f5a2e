// The window's tests run without a display, at one device pixel per pixel, in the window's font,
// with a runtime folder of their own (the single-instance lock lives there).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "gui/main_window.hpp"
#include "support/temp_dir.hpp"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const tapfix::test::TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_SCALE_FACTOR", "1", 1);
    QApplication application(argc, argv);
    QApplication::setFont(tapfix::gui::DialogFont());
    // A window the tests close must not end the event loops of the next tests.
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
