#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "app/application.hpp"
#include "app/window_controller.hpp"
#include "config/package.hpp"
#include "gui/main_window.hpp"
#include "gui/window_test_support.hpp"
#include "support/session_fixture.hpp"

namespace tapfix::test {
namespace {

constexpr int kUpdateWaitMs = 180000;

// The whole program in the window's event loop: start-up from a package file, the watcher
// finding the simulated router, "Update", the worker's session, the end box and the close.
class WindowUpdateTest : public SessionFixture {
  protected:
    WindowUpdateTest() : application_(window_) {
        window_.Attach(application_.Controller(), application_.Channel());
        options_.package = dir_.Path() / "package";
        options_.workFolder = dir_.Path() / "window-work";
        std::string error;
        EXPECT_TRUE(config::WritePackage({}, work_, options_.package, error)) << error;
    }

    QWidget* Control(int id) const { return window_.Control(id); }

    gui::CUITapfixDlg window_;
    app::CUpdateApplication application_;
    app::StartupOptions options_;
};

TEST_F(WindowUpdateTest, UpdatesTheRouterRefusesToCloseMeanwhileAndClosesAfterTheResult) {
    StartRouter();
    ASSERT_EQ(application_.Start(options_), app::CUpdateApplication::StartOutcome::Running);
    window_.show();
    // The watcher shows the version, then the port.
    const auto* port = qobject_cast<QLabel*>(Control(app::kControlPortValue));
    ASSERT_TRUE(QTest::qWaitFor([port] { return !port->text().isEmpty(); }, kWaitMs));
    EXPECT_EQ(port->text(), QString("COM%1").arg(Context().portNumber));
    EXPECT_EQ(qobject_cast<QLabel*>(Control(app::kControlHint))->text(), Ui(160));
    QWidget* update = Control(app::kControlUpdateButton);
    ASSERT_TRUE(update->isEnabled());

    BoxAnswerer answerer;
    QTest::mouseClick(update, Qt::LeftButton);
    EXPECT_FALSE(window_.close());
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window_.isVisible(); }, kUpdateWaitMs));
    application_.Shutdown();

    ASSERT_EQ(answerer.Boxes().size(), 2u);
    EXPECT_EQ(answerer.Boxes()[0].text, Ui(152));
    EXPECT_EQ(answerer.Boxes()[1].text, FromUtf8(app::EndResultText(0, false)));
    EXPECT_EQ(application_.Controller().LastResult(), 0);
    EXPECT_EQ(qobject_cast<QProgressBar*>(Control(app::kControlProgressBar))->value(), 100);
    EXPECT_EQ(qobject_cast<QLabel*>(Control(app::kControlPercent))->text(), "100%");
}

}  // namespace
}  // namespace tapfix::test
