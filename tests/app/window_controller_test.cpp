#include "app/window_controller.hpp"

#include <gtest/gtest.h>

#include "app_fakes.hpp"
#include "config/ui_text.hpp"

namespace tapfix::test {
namespace {

using app::CWindowController;
using session::Notification;
using session::TextNotification;
using session::ValueNotification;

std::string Ui(int id) {
    return std::string(config::UiText(id));
}

class WindowControllerTest : public ::testing::Test {
  protected:
    WindowControllerTest()
        : controller_(view_, control_, clock_,
                      [this](std::string_view text) { debugLines_.emplace_back(text); }) {
        controller_.Initialize(false);
        controller_.WatcherStarted();
    }

    void Send(const Notification& notification) { controller_.HandleNotification(notification); }
    void Progress(int percent) { Send(ValueNotification(session::kNotifyProgress, 0, percent)); }
    void Version(std::string text) {
        Send(TextNotification(session::kNotifyVersion, 0, std::move(text)));
    }
    void Port(std::string text) {
        Send(TextNotification(session::kNotifyPort, 0, std::move(text)));
    }
    void End(int result) { Send(ValueNotification(session::kNotifyEnd, 0, result)); }
    bool UpdateButton() const { return view_.Enabled(app::kControlUpdateButton); }

    FakeView view_;
    FakeControl control_;
    InstantClock clock_;
    std::vector<std::string> debugLines_;
    CWindowController controller_;
};

TEST_F(WindowControllerTest, StartsWithTheLanguagesTextsEmptyValuesAndBothButtonsOff) {
    for (const bool english : {false, true}) {
        SCOPED_TRACE(english ? "English" : "Russian");
        FakeView view;
        FakeControl control;
        CWindowController controller(view, control, clock_, [](std::string_view) {});
        controller.Initialize(english);
        for (const app::ControlText& entry : app::ControlTexts()) {
            EXPECT_EQ(view.Text(entry.control), Ui(english ? entry.englishId : entry.russianId))
                << "control " << entry.control;
        }
        EXPECT_EQ(view.caption, "DL_QX17_NRD_RU_EUV1.00.00");
        EXPECT_EQ(view.Text(app::kControlUpdateButton), english ? "Update" : "Загрузка");
        EXPECT_EQ(view.Text(app::kControlLanguageButton), english ? "Russian" : "English");
        EXPECT_EQ(view.Text(app::kControlPercent), "0%");
        for (const int value :
             {app::kControlPortValue, app::kControlVersionValue, app::kControlHint}) {
            EXPECT_EQ(view.Text(value), "") << "control " << value;
        }
        EXPECT_FALSE(view.Enabled(app::kControlUpdateButton));
        EXPECT_FALSE(view.Enabled(app::kControlLanguageButton));
        EXPECT_FALSE(view.Visible(app::kControlLanguageButton));
        EXPECT_EQ(view.redraws, 1);
        EXPECT_EQ(control.calls, std::vector<std::string>{english ? "English" : "Russian"});
    }
}

TEST_F(WindowControllerTest, ProgressMovesOnlyOnNewValuesInsideZeroToHundred) {
    struct Case {
        std::vector<int> sent;
        std::vector<int> shown;
        std::string percentText;
    };
    const Case cases[] = {
        {{42, 42}, {42}, "42%"},
        {{101}, {}, "0%"},
        {{-1}, {}, "0%"},
        {{0}, {}, "0%"},
        {{10, 101, 10}, {10}, "10%"},
        {{1, 16, 16, 90, 100}, {1, 16, 90, 100}, "100%"},
    };
    for (const Case& c : cases) {
        FakeView view;
        FakeControl control;
        CWindowController controller(view, control, clock_, [](std::string_view) {});
        controller.Initialize(false);
        for (const int percent : c.sent) {
            controller.HandleNotification(ValueNotification(session::kNotifyProgress, 0, percent));
        }
        EXPECT_EQ(view.progress, c.shown) << ::testing::PrintToString(c.sent);
        EXPECT_EQ(view.Text(app::kControlPercent), c.percentText);
    }
}

TEST_F(WindowControllerTest, VersionAndPortDecideTheUpdateButtonAndTheHint) {
    Version("M9615A-CEFWMAZM-2.0.1017V1");
    EXPECT_TRUE(UpdateButton());
    EXPECT_EQ(view_.Text(app::kControlVersionValue), "M9615A-CEFWMAZM-2.0.1017V1");
    EXPECT_EQ(view_.Text(app::kControlHint), Ui(160));

    Version("");
    EXPECT_FALSE(UpdateButton());
    EXPECT_EQ(view_.Text(app::kControlHint), Ui(135));

    Port("COM7");
    EXPECT_TRUE(UpdateButton());
    EXPECT_EQ(view_.Text(app::kControlPortValue), "COM7");
    // An empty port does not take the button away again.
    Port("");
    EXPECT_TRUE(UpdateButton());
    EXPECT_EQ(view_.Text(app::kControlHint), Ui(135));
}

// Why the port cannot be opened must survive the watcher's empty version of every cycle.
TEST_F(WindowControllerTest, WaitingHintStaysUntilTheVersionIsReadOrItIsTakenBack) {
    const auto hint = [this] { return view_.Text(app::kControlHint); };
    Send(TextNotification(session::kNotifyHint, 0, "port held"));
    Version("");
    EXPECT_EQ(hint(), "port held");
    Send(TextNotification(session::kNotifyHint, 0, ""));
    EXPECT_EQ(hint(), Ui(135));
    Send(TextNotification(session::kNotifyHint, 0, "port held again"));
    Version("V1");
    EXPECT_EQ(hint(), Ui(160));
    Send(TextNotification(session::kNotifyHint, 0, ""));
    EXPECT_EQ(hint(), Ui(160));
    Version("");
    EXPECT_EQ(hint(), Ui(135));
}

TEST_F(WindowControllerTest, LogTextsAndDebugOnlyHintsReachTheDebugOutputOnly) {
    Version("V1");
    const std::map<int, std::string> before = view_.texts;
    Send(TextNotification(session::kNotifyHint, 0, "step one", true));
    Send(TextNotification(session::kNotifyLog, 0, "line three"));
    Send(TextNotification(session::kNotifyLog2, 0, "line ten"));
    Send(ValueNotification(session::kNotifyPortSearch, 0, 7));
    EXPECT_EQ(view_.texts, before);
    EXPECT_EQ(debugLines_, (std::vector<std::string>{"step one", "line three", "line ten"}));

    Send(TextNotification(session::kNotifyHint, 0, "shown hint"));
    EXPECT_EQ(view_.Text(app::kControlHint), "shown hint");
    EXPECT_EQ(debugLines_.size(), 3u);
}

TEST_F(WindowControllerTest, TextsLongerThan255UnitsAreCutOnScreenButLoggedWhole) {
    const std::string latin(300, 'x');
    std::string cyrillic;
    for (int i = 0; i < 300; ++i) {
        cyrillic += "ж";
    }
    Send(TextNotification(session::kNotifyHint, 0, latin));
    EXPECT_EQ(view_.Text(app::kControlHint), std::string(255, 'x'));
    Version(cyrillic);
    EXPECT_EQ(view_.Text(app::kControlVersionValue), cyrillic.substr(0, 255 * 2));
    Send(TextNotification(session::kNotifyLog, 0, latin));
    EXPECT_EQ(debugLines_.back(), latin);
}

TEST_F(WindowControllerTest, EndResultsShowTheirTextAndCloseExceptForNoDevice) {
    struct Case {
        int result;
        int russianId;
        bool closes;
    };
    const Case cases[] = {{0, 180, true},  {1, 162, true}, {2, 166, true},
                          {3, 185, false}, {5, 201, true}, {6, 203, true},
                          {-1, 176, true}, {4, 176, true}, {99, 176, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        FakeView view;
        FakeControl control;
        InstantClock clock;
        CWindowController controller(view, control, clock, [](std::string_view) {});
        controller.Initialize(false);
        controller.WatcherStarted();
        controller.HandleNotification(TextNotification(session::kNotifyPort, 0, "COM7"));
        controller.OnUpdateClicked();
        control.running = false;
        controller.HandleNotification(ValueNotification(session::kNotifyEnd, 0, c.result));
        EXPECT_EQ(view.messages, std::vector<std::string>{Ui(c.russianId)});
        EXPECT_EQ(view.Text(app::kControlHint), Ui(c.russianId));
        EXPECT_EQ(view.closes, c.closes ? 1 : 0);
        EXPECT_EQ(clock.Slept(), c.closes ? platform::ScaledWait(std::chrono::milliseconds(500))
                                          : platform::Milliseconds(0));
        EXPECT_EQ(controller.LastResult(), c.result);
        // The stopped watcher is not asked to finish the router a second time.
        EXPECT_EQ(std::count(control.calls.begin(), control.calls.end(), "FinishDevice"), 0);
        EXPECT_FALSE(view.Enabled(app::kControlUpdateButton));
    }
}

// The worker's question whether a saved copy is this router's: asked whole in the window, the
// answer handed back once, nothing else on screen changed, both logged.
TEST_F(WindowControllerTest, AQuestionIsAskedWholeAndItsAnswerTakenOnce) {
    view_.yesTo = {2};
    const std::string question = "Write back the data saved from the router with IMEI " +
                                 std::string(300, '1') +
                                 "? Only say yes if this is the same router.";
    for (const bool yes : {false, true}) {
        Send(TextNotification(session::kNotifyQuestion, 0, question));
        EXPECT_EQ(controller_.TakeAnswer(), yes);
        EXPECT_FALSE(controller_.TakeAnswer()) << "an answer is taken once";
    }
    EXPECT_EQ(view_.questions, (std::vector<std::string>{question, question}));
    EXPECT_TRUE(view_.messages.empty());
    EXPECT_EQ(view_.Text(app::kControlHint), "");
    EXPECT_EQ(debugLines_, (std::vector<std::string>{"question: " + question, "answer: no",
                                                     "question: " + question, "answer: yes"}));
}

TEST_F(WindowControllerTest, NoDeviceWhileWaitingKeepsTheWindowAndTheButtonAsTheyWere) {
    Port("COM7");
    End(3);
    EXPECT_EQ(view_.closes, 0);
    EXPECT_TRUE(UpdateButton());
    EXPECT_EQ(controller_.CurrentState(), CWindowController::State::Waiting);
    EXPECT_EQ(view_.messages, std::vector<std::string>{Ui(185)});
}

TEST_F(WindowControllerTest, UpdateStopsTheWatcherFirstAndNothingEnablesTheButtonAgain) {
    controller_.OnUpdateClicked();
    EXPECT_TRUE(control_.calls.size() == 1) << "a disabled button does nothing";

    Port("COM7");
    controller_.OnUpdateClicked();
    EXPECT_EQ(control_.calls, (std::vector<std::string>{"Russian", "StopWatcher", "StartWorker"}));
    EXPECT_EQ(view_.Text(app::kControlHint), Ui(137));
    EXPECT_FALSE(UpdateButton());
    EXPECT_FALSE(view_.Enabled(app::kControlLanguageButton));

    Port("COM7");
    Version("V2");
    EXPECT_FALSE(UpdateButton());
    controller_.OnUpdateClicked();
    EXPECT_EQ(control_.calls.size(), 3u);
}

TEST_F(WindowControllerTest, CloseIsRefusedFromUpdateUntilTheResultWasShown) {
    Port("COM7");
    controller_.OnUpdateClicked();
    EXPECT_FALSE(controller_.OnCloseRequested());
    // The worker has cleared its flag but still finishes the router.
    control_.running = false;
    EXPECT_FALSE(controller_.OnCloseRequested());
    EXPECT_EQ(view_.messages, (std::vector<std::string>{Ui(152), Ui(152)}));
    EXPECT_EQ(view_.closes, 0);
    End(0);
    EXPECT_EQ(view_.closes, 1);
}

// With a router attached the window says it restarts it and closes once that is done, or at
// once when asked a second time; either way once.
TEST_F(WindowControllerTest, CloseWhileWatchingFinishesTheRouterOnce) {
    enum class Then { Nothing, Finished, CloseAgain };
    struct Case {
        bool attached;
        Then then;
        int closesBefore;
    };
    for (const Case& c : {Case{false, Then::Nothing, 1}, Case{true, Then::Finished, 0},
                          Case{true, Then::CloseAgain, 0}}) {
        FakeView view;
        FakeControl control;
        control.routerAttached = c.attached;
        CWindowController controller(view, control, clock_, [](std::string_view) {});
        controller.Initialize(false);
        controller.WatcherStarted();
        EXPECT_EQ(controller.OnCloseRequested(), !c.attached);
        EXPECT_EQ(view.closes, c.closesBefore);
        EXPECT_EQ(view.Text(app::kControlHint), c.attached ? "Перезапуск роутера…" : "");
        if (c.then == Then::CloseAgain) {
            EXPECT_TRUE(controller.OnCloseRequested());
        }
        controller.DeviceFinished();
        EXPECT_TRUE(controller.OnCloseRequested());
        EXPECT_EQ(control.calls,
                  (std::vector<std::string>{"Russian", "StopWatcher", "FinishDevice"}));
        EXPECT_EQ(view.closes, 1);
        EXPECT_TRUE(view.messages.empty());
    }
}

TEST_F(WindowControllerTest, LanguageFlipEmptiesTheValuesAndResetsThePercentOnly) {
    Port("COM7");
    Version("V1");
    Progress(30);
    controller_.OnLanguageClicked();
    EXPECT_TRUE(controller_.English());
    EXPECT_EQ(control_.calls.back(), "English");
    EXPECT_EQ(view_.Text(app::kControlPortValue), "");
    EXPECT_EQ(view_.Text(app::kControlVersionValue), "");
    EXPECT_EQ(view_.Text(app::kControlHint), "");
    EXPECT_EQ(view_.Text(app::kControlPercent), "0%");
    EXPECT_EQ(view_.progress, std::vector<int>{30});
    EXPECT_EQ(view_.Text(1000), Ui(102));
    EXPECT_EQ(view_.Text(app::kControlLanguageButton), "Russian");
    EXPECT_TRUE(UpdateButton());
    // The percentage last shown is still remembered: the same value does not redraw.
    Progress(30);
    EXPECT_EQ(view_.progress, std::vector<int>{30});

    controller_.OnLanguageClicked();
    EXPECT_EQ(view_.Text(1000), Ui(103));
    EXPECT_EQ(view_.redraws, 3);
}

TEST(WindowControllerKeys, EnterAndEscapeAreSwallowed) {
    const std::pair<int, bool> keys[] = {
        {13, true}, {27, true}, {32, false}, {9, false}, {10, false}};
    for (const auto& [key, swallowed] : keys) {
        EXPECT_EQ(CWindowController::SwallowsKey(key), swallowed) << key;
    }
}

}  // namespace
}  // namespace tapfix::test
