#include "gui/main_window.hpp"

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

#include "app/app_fakes.hpp"
#include "gui/window_test_support.hpp"

namespace tapfix::test {
namespace {

using session::Notification;
using session::TextNotification;
using session::ValueNotification;

// A window with a fake rest of the program, as the tests drive it.
class WindowRig {
  public:
    WindowRig() : controller_(window_, control_, clock_, [](std::string_view) {}) {
        channel_.SetHandler([this](const Notification& notification) {
            controller_.HandleNotification(notification);
        });
        window_.Attach(controller_, channel_);
    }

    void Start(bool english) {
        controller_.Initialize(english);
        controller_.WatcherStarted();
        window_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }

    // Sends from a background thread, as the watcher and the worker do, and serves the window's
    // event loop until the sender was let go.
    void SendFromThread(const Notification& notification) {
        senderDone_ = false;
        std::thread sender([this, notification] {
            channel_.Notify(notification);
            senderDone_ = true;
        });
        const bool released = QTest::qWaitFor([this] { return senderDone_.load(); }, kWaitMs);
        sender.join();
        ASSERT_TRUE(released);
    }

    void EnableUpdateThroughThePort() {
        SendFromThread(TextNotification(session::kNotifyPort, 0, "COM7"));
        ASSERT_TRUE(Button(app::kControlUpdateButton)->isEnabled());
    }

    QLabel* Label(int id) const { return qobject_cast<QLabel*>(window_.Control(id)); }
    QPushButton* Button(int id) const { return qobject_cast<QPushButton*>(window_.Control(id)); }
    QProgressBar* Bar() const {
        return qobject_cast<QProgressBar*>(window_.Control(app::kControlProgressBar));
    }
    // The text a control shows.
    QString Shown(int id) const {
        QPushButton* button = Button(id);
        return button != nullptr ? button->text() : Label(id)->text();
    }
    // The whole text of a control, also when it had to be cut to fit.
    QString Text(int id) const {
        QLabel* label = Label(id);
        return label == nullptr || label->toolTip().isEmpty() ? Shown(id) : label->toolTip();
    }

    FakeControl control_;
    InstantClock clock_;
    gui::CUITapfixDlg window_;
    app::CWindowController controller_;
    // Closed first, so no sender outlives the window.
    app::CNotificationChannel channel_;
    std::atomic<bool> senderDone_{false};
};

class MainWindowTest : public ::testing::Test, protected WindowRig {};

void ExpectTextsOf(const WindowRig& rig, bool english) {
    for (const app::ControlText& entry : app::ControlTexts()) {
        EXPECT_EQ(rig.Shown(entry.control), Ui(english ? entry.englishId : entry.russianId))
            << "control " << entry.control;
    }
    EXPECT_EQ(rig.Shown(app::kControlUpdateButton), english ? "Update" : "Загрузка");
    EXPECT_EQ(rig.Shown(app::kControlLanguageButton), english ? "Russian" : "English");
    EXPECT_EQ(rig.Shown(app::kControlPercent), "0%");
    for (const int value : {app::kControlPortValue, app::kControlVersionValue, app::kControlHint}) {
        EXPECT_EQ(rig.Shown(value), "") << "control " << value;
    }
    EXPECT_EQ(rig.window_.windowTitle(), "DL_QX17_NRD_RU_EUV1.00.00");
}

TEST(MainWindowTexts, StartInTheChosenLanguageAndFlipToTheOther) {
    for (const bool english : {false, true}) {
        SCOPED_TRACE(english ? "English first" : "Russian first");
        WindowRig rig;
        rig.Start(english);
        ExpectTextsOf(rig, english);
        QWidget* language = rig.Button(app::kControlLanguageButton);
        EXPECT_FALSE(language->isEnabled());
        EXPECT_TRUE(language->isHidden());
        EXPECT_FALSE(rig.Button(app::kControlUpdateButton)->isEnabled());

        // Flipping is the language button's job; the button itself stays out of reach.
        rig.controller_.OnLanguageClicked();
        ExpectTextsOf(rig, !english);
    }
}

TEST_F(MainWindowTest, WarningLinesAreRedOnTheWindowsBackground) {
    Start(false);
    const QColor red(255, 40, 0);
    for (const gui::ControlLayout& layout : gui::WindowLayout()) {
        QLabel* label = Label(layout.id);
        if (label == nullptr) {
            continue;
        }
        const bool warning = layout.kind == gui::ControlKind::WarningText;
        EXPECT_EQ(label->palette().color(QPalette::WindowText) == red, warning)
            << "control " << layout.id;
        EXPECT_FALSE(label->autoFillBackground()) << "control " << layout.id;
    }
}

TEST_F(MainWindowTest, ControlsSitWhereTheLayoutPutsThemAndNoTextIsClipped) {
    for (const bool english : {false, true}) {
        SCOPED_TRACE(english ? "English" : "Russian");
        controller_.Initialize(english);
        const gui::PixelRect area = gui::ToPixels(gui::kDialogArea, window_.Units());
        EXPECT_EQ(window_.minimumSize(), QSize(area.width, area.height));
        EXPECT_EQ(window_.maximumSize(), QSize(area.width, area.height));
        for (const gui::ControlLayout& layout : gui::WindowLayout()) {
            const gui::PixelRect want = gui::ToPixels(layout.rect, window_.Units());
            const QRect got = window_.Control(layout.id)->geometry();
            EXPECT_EQ(got.topLeft(), QPoint(want.x, want.y)) << "control " << layout.id;
            EXPECT_EQ(got.height(), want.height) << "control " << layout.id;
            EXPECT_GE(got.width(), want.width) << "control " << layout.id;
            EXPECT_LE(got.right(), area.width) << "control " << layout.id;
            if (QLabel* label = Label(layout.id)) {
                EXPECT_TRUE(label->toolTip().isEmpty()) << "control " << layout.id;
                EXPECT_GE(got.width(), label->fontMetrics().horizontalAdvance(label->text()))
                    << "control " << layout.id;
            }
        }
    }
}

TEST_F(MainWindowTest, DialogUnitsComeFromDejaVuSansAtNinePoints) {
    EXPECT_EQ(QFontInfo(window_.font()).family(), "DejaVu Sans");
    EXPECT_EQ(window_.Units().averageWidth, 7);
    EXPECT_EQ(window_.Units().height, 14);
}

TEST_F(MainWindowTest, AHintTooWideForItsRowIsCutAndShownWholeAsToolTip) {
    Start(false);
    const struct {
        int textId;
        bool cut;
    } cases[] = {{160, false}, {162, true}, {185, true}, {135, false}};
    for (const auto& entry : cases) {
        SendFromThread(
            TextNotification(session::kNotifyHint, 0, std::string(config::UiText(entry.textId))));
        QLabel* hint = Label(app::kControlHint);
        EXPECT_EQ(Text(app::kControlHint), Ui(entry.textId)) << entry.textId;
        EXPECT_EQ(hint->text() == Ui(entry.textId), !entry.cut) << entry.textId;
        EXPECT_TRUE(hint->text().endsWith(QChar(0x2026)) || !entry.cut) << entry.textId;
        EXPECT_GE(hint->width(), hint->fontMetrics().horizontalAdvance(hint->text()))
            << entry.textId;
        EXPECT_LT(hint->geometry().right(), Button(app::kControlUpdateButton)->geometry().left())
            << entry.textId;
    }
}

TEST_F(MainWindowTest, ProgressFromAnotherThreadMovesTheBarAndThePercentOnce) {
    Start(false);
    QSignalSpy moves(Bar(), &QProgressBar::valueChanged);
    for (const int percent : {40, 40, 101, -1}) {
        SendFromThread(ValueNotification(session::kNotifyProgress, 0, percent));
    }
    EXPECT_EQ(moves.count(), 1);
    EXPECT_EQ(Bar()->value(), 40);
    EXPECT_EQ(Text(app::kControlPercent), "40%");
}

TEST(MainWindowEnd, ResultShowsItsTextInABoxAndClosesTheWindowExceptForNoDevice) {
    for (const int result : {0, 1, 2, 3, 4, -1}) {
        SCOPED_TRACE("result " + std::to_string(result));
        WindowRig rig;
        rig.Start(false);
        BoxAnswerer answerer(&rig.senderDone_);
        rig.SendFromThread(ValueNotification(session::kNotifyEnd, 0, result));

        const QString text = FromUtf8(app::EndResultText(result, false));
        ASSERT_EQ(answerer.Boxes().size(), 1u);
        const SeenBox& box = answerer.Boxes().front();
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, "");
        EXPECT_EQ(box.buttons, 1);
        EXPECT_TRUE(box.senderWasWaiting);
        EXPECT_EQ(rig.window_.isVisible(), result == 3);
        EXPECT_EQ(rig.Text(app::kControlHint), text);
    }
}

TEST_F(MainWindowTest, CloseDuringAnUpdateIsRefusedWithABox) {
    Start(false);
    EnableUpdateThroughThePort();
    QTest::mouseClick(Button(app::kControlUpdateButton), Qt::LeftButton);
    ASSERT_EQ(control_.calls, (std::vector<std::string>{"Russian", "StopWatcher", "StartWorker"}));
    EXPECT_FALSE(Button(app::kControlUpdateButton)->isEnabled());
    EXPECT_EQ(Text(app::kControlHint), Ui(137));

    BoxAnswerer answerer;
    EXPECT_FALSE(window_.close());
    EXPECT_TRUE(window_.isVisible());
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_EQ(answerer.Boxes().front().text, Ui(152));
    EXPECT_EQ(answerer.Boxes().front().caption, "");
}

TEST_F(MainWindowTest, ResultArrivingWhileTheRefusalIsOpenStillClosesTheWindow) {
    Start(false);
    EnableUpdateThroughThePort();
    QTest::mouseClick(Button(app::kControlUpdateButton), Qt::LeftButton);
    // The user leaves the refusal open; meanwhile the worker ends and its result box is
    // confirmed on top of it, and only then the refusal.
    std::thread worker;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        if (box->text() == Ui(152) && !worker.joinable()) {
            control_.running = false;
            senderDone_ = false;
            worker = std::thread([this] {
                channel_.Notify(ValueNotification(session::kNotifyEnd, 0, 0));
                senderDone_ = true;
            });
        } else if (box->text() != Ui(152) || senderDone_) {
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        }
    });
    answerer.start(1);
    window_.close();
    answerer.stop();
    worker.join();
    EXPECT_EQ(controller_.LastResult(), 0);
    EXPECT_FALSE(window_.isVisible());
}

TEST_F(MainWindowTest, StartUpBoxesCarryTheProgramsNameAndTheWindowsOwnNone) {
    BoxAnswerer answerer;
    window_.ShowMessage("The program has been running. Cannot open it again!");
    Start(false);
    window_.ShowMessage("later");
    ASSERT_EQ(answerer.Boxes().size(), 2u);
    EXPECT_FALSE(QApplication::applicationName().isEmpty());
    EXPECT_EQ(answerer.Boxes()[0].caption, QApplication::applicationName());
    EXPECT_EQ(answerer.Boxes()[1].caption, "");
}

// A hurried Enter or Escape must not write another router's data: only "Yes" says yes.
TEST_F(MainWindowTest, TheQuestionBoxSaysYesOnlyThroughItsYesButton) {
    Start(false);
    using Answer = std::function<void(QMessageBox&)>;
    const std::vector<std::pair<Answer, bool>> cases = {
        {[](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); }, false},
        {[](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }, false},
        {[](QMessageBox& box) { QTest::mouseClick(box.button(QMessageBox::No), Qt::LeftButton); },
         false},
        {[](QMessageBox& box) { QTest::mouseClick(box.button(QMessageBox::Yes), Qt::LeftButton); },
         true},
    };
    for (const auto& [answer, yes] : cases) {
        QString asked;
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, [&, &answer = answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box != nullptr && box->isVisible()) {
                asked = box->text();
                answer(*box);
            }
        });
        answerer.start(1);
        EXPECT_EQ(window_.AskYesNo("Write back the data saved from the router with IMEI 1?"), yes);
        answerer.stop();
        EXPECT_EQ(asked, "Write back the data saved from the router with IMEI 1?");
    }
}

TEST_F(MainWindowTest, CloseWhileWaitingStopsTheWatcherAndFinishesTheRouter) {
    Start(false);
    EXPECT_TRUE(window_.close());
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(control_.calls, (std::vector<std::string>{"Russian", "StopWatcher", "FinishDevice"}));
}

TEST_F(MainWindowTest, EnterAndEscapeNeitherPressUpdateNorCloseTheWindow) {
    Start(false);
    EnableUpdateThroughThePort();
    QPushButton* update = Button(app::kControlUpdateButton);
    update->setFocus();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(update, key);
        QTest::keyClick(&window_, key);
    }
    EXPECT_TRUE(window_.isVisible());
    EXPECT_EQ(control_.calls, std::vector<std::string>{"Russian"});
    // Other keys still reach the button.
    QTest::keyClick(update, Qt::Key_Space);
    EXPECT_EQ(control_.calls.back(), "StartWorker");
}

}  // namespace
}  // namespace tapfix::test
