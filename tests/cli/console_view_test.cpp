#include "cli/console_view.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "../app/app_fakes.hpp"
#include "app/update_worker.hpp"
#include "cli/console_loop.hpp"
#include "config/ui_text.hpp"
#include "output_lines.hpp"

namespace tapfix::test {
namespace {

using namespace std::chrono_literals;
using session::TextNotification;
using session::ValueNotification;

// The console view behind the real controller, fed as the application feeds them.
class ConsoleViewTest : public ::testing::Test {
  protected:
    explicit ConsoleViewTest(cli::ConsoleStyle style = cli::ConsoleStyle::Lines)
        : view_(out_, style, clock_),
          controller_(view_, control_, clock_, [](std::string_view) {}) {}

    void Start(bool english) {
        controller_.Initialize(english);
        controller_.WatcherStarted();
    }
    void Send(const session::Notification& notification) {
        view_.Observe(notification);
        controller_.HandleNotification(notification);
    }
    // The output since the last call.
    std::vector<std::string> Printed() {
        const std::string all = out_.str();
        const std::string fresh = all.substr(consumed_);
        consumed_ = all.size();
        return Lines(fresh);
    }

    std::ostringstream out_;
    std::size_t consumed_ = 0;
    InstantClock clock_;
    FakeControl control_;
    cli::CConsoleView view_;
    app::CWindowController controller_;
};

TEST_F(ConsoleViewTest, WindowBecomesLinesAndTheMessageBoxTheResultLine) {
    Start(true);
    const std::vector<std::string> intro = Printed();
    ASSERT_GE(intro.size(), 12u);
    EXPECT_EQ(intro[0], "DL_QX17_NRD_RU_EUV1.00.00");
    EXPECT_EQ(intro[1], "  " + std::string(config::UiText(102)));

    Send(TextNotification(session::kNotifyVersion, 0, "M9615A-CEFWMAZM-2.0.1017V1"));
    Send(TextNotification(session::kNotifyPort, 0, "COM7"));
    // The watcher repeats itself every cycle; the console says each change once.
    Send(TextNotification(session::kNotifyVersion, 0, "M9615A-CEFWMAZM-2.0.1017V1"));
    Send(TextNotification(session::kNotifyPort, 0, "COM7"));
    EXPECT_EQ(Printed(), (std::vector<std::string>{
                             "version: M9615A-CEFWMAZM-2.0.1017V1",
                             "hint: " + std::string(config::UiText(159)),
                             "port: COM7",
                         }));

    controller_.OnUpdateClicked();
    Send(TextNotification(session::kNotifyHint, 0, "Writing image dsp2.mbn...", true));
    Send(ValueNotification(session::kNotifyProgress, 0, 1));
    Send(ValueNotification(session::kNotifyProgress, 0, 1));
    Send(ValueNotification(session::kNotifyProgress, 0, 57));
    control_.running = false;
    Send(ValueNotification(session::kNotifyEnd, 0, 0));
    EXPECT_EQ(Printed(), (std::vector<std::string>{
                             "hint: Downloading…",
                             "progress: 1%",
                             "progress: 57%",
                             "hint: " + std::string(config::UiText(179)),
                             "result: 0 " + std::string(config::UiText(179)),
                         }));
    EXPECT_TRUE(view_.Closed());
}

TEST_F(ConsoleViewTest, ControlBytesFromTheRouterNeverReachTheTerminal) {
    Start(true);
    Printed();
    Send(TextNotification(session::kNotifyVersion, 0, "V1\x1b]0;owned\x07\x1b[2J"));
    EXPECT_THAT(Printed(), ::testing::Contains("version: V1?]0;owned??[2J"));
}

TEST_F(ConsoleViewTest, LineBreaksInARoutersTextNeverFakeALine) {
    Start(true);
    Printed();
    Send(TextNotification(session::kNotifyVersion, 0, "V1\nresult: 0 done\r\nport: COM9"));
    EXPECT_THAT(Printed(), ::testing::Contains("version: V1 result: 0 done  port: COM9"));
}

TEST_F(ConsoleViewTest, OtherMessagesAreNotResults) {
    Start(false);
    Printed();
    controller_.HandleNotification(TextNotification(session::kNotifyPort, 0, "COM3"));
    controller_.OnUpdateClicked();
    EXPECT_FALSE(controller_.OnCloseRequested());
    EXPECT_THAT(Printed(), ::testing::Contains("message: " + std::string(config::UiText(152))));
}

// Nobody answers a console: the question is printed with its refusal, the answer is no, and
// the run ends with the result that asks for --resume.
TEST_F(ConsoleViewTest, AQuestionIsPrintedAndRefusedAndTheRunEndsWaitingForResume) {
    Start(true);
    controller_.HandleNotification(TextNotification(session::kNotifyPort, 0, "COM3"));
    controller_.OnUpdateClicked();
    Printed();
    const std::string question =
        "Write back the data saved from the router with IMEI "
        "359876543210984 on 2026-12-09 10:11 UTC? Only say yes if "
        "this is the same router.";
    Send(TextNotification(session::kNotifyQuestion, 0, question));
    EXPECT_FALSE(controller_.TakeAnswer());
    control_.running = false;
    Send(ValueNotification(session::kNotifyEnd, 0, app::kResultOwnerUnconfirmed));
    EXPECT_EQ(Printed(),
              (std::vector<std::string>{
                  "question: " + question,
                  "answer: no (--yes never confirms saved data; --resume IMEI names the copy to "
                  "write back)",
                  "hint: " + std::string(config::UiText(200)),
                  "result: 5 " + std::string(config::UiText(200))}));
}

class JsonConsoleViewTest : public ConsoleViewTest {
  protected:
    JsonConsoleViewTest() : ConsoleViewTest(cli::ConsoleStyle::Json) {}
};

// What the window shows, each change once, with its time; the notifications' own kinds stay
// inside; the end result comes last, whatever is said after its box.
TEST_F(JsonConsoleViewTest, EventsFollowTheWindowAndTheResultIsTheLastLine) {
    Start(true);
    EXPECT_TRUE(Printed().empty());
    Send(TextNotification(session::kNotifyPort, 0, "COM7"));
    Send(TextNotification(session::kNotifyVersion, 0, "V1"));
    Send(TextNotification(session::kNotifyPort, 0, "COM7"));
    Send(ValueNotification(session::kNotifyPortSearch, 0, 7));
    controller_.OnUpdateClicked();
    Send(TextNotification(session::kNotifyHint, 0, "step", true));
    Send(ValueNotification(session::kNotifyProgress, 0, 42));
    Send(ValueNotification(session::kNotifyProgress, 0, 42));
    control_.running = false;
    Send(ValueNotification(session::kNotifyEnd, 0, 2));
    Send(TextNotification(session::kNotifyLog, 0, "a late line"));
    view_.Finish(2);
    std::vector<nlohmann::json> events;
    for (const std::string& line : Printed()) {
        events.push_back(nlohmann::json::parse(line));
        EXPECT_THAT(events.back().value("time", ""),
                    ::testing::MatchesRegex("[0-9-]+T[0-9:]+\\.[0-9][0-9][0-9]Z"));
        events.back().erase("time");
    }
    using Json = nlohmann::json;
    EXPECT_EQ(
        events,
        (std::vector<Json>{
            {{"event", "port"}, {"port", "COM7"}},
            {{"event", "version"}, {"version", "V1"}},
            {{"event", "hint"}, {"text", config::UiText(159)}},
            {{"event", "hint"}, {"text", config::UiText(136)}},
            {{"event", "step"}, {"text", "step"}},
            {{"event", "progress"}, {"percent", 42}},
            {{"event", "hint"}, {"text", config::UiText(165)}},
            {{"event", "log"}, {"text", "a late line"}},
            {{"event", "result"}, {"exitStatus", 2}, {"result", 2}, {"text", config::UiText(165)}},
        }));
}

TEST(ConsoleProgressLine, BarPercentElapsedAndStepFitTheWidth) {
    struct Case {
        int percent;
        std::string_view step;
        platform::Milliseconds elapsed;
        std::size_t width;
        std::string expected;
    };
    const Case cases[] = {
        {0, "", 0ms, 80, "[....................]   0%  00:00"},
        {42, "Writing image dsp2.mbn...", 65'000ms, 80,
         "[########............]  42%  01:05  Writing image dsp2.mbn..."},
        {100, "done", 3'600'000ms, 80, "[####################] 100%  60:00  done"},
        {55, "Writing image efs2.mbn...", 1'500ms, 49,
         "[###########.........]  55%  00:01  Writing image"},
        {7, "Запись образа", 0ms, 41, "[#...................]   7%  00:00  Запис"},
        {130, "", 0ms, 80, "[####################] 100%  00:00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cli::FormatProgressLine(c.percent, c.step, c.elapsed, c.width), c.expected);
    }
}

TEST(ConsoleExitStatus, FollowsTheEndResult) {
    const std::pair<std::optional<int>, int> cases[] = {
        {0, 0},
        {1, 1},
        {2, 2},
        {3, 3},
        {5, 5},
        {6, 6},
        {7, 7},
        {-1, 4},
        {4, 4},
        {8, 4},
        {std::nullopt, 4},
    };
    for (const auto& [result, status] : cases) {
        EXPECT_EQ(cli::ExitStatusFor(result), status) << result.value_or(-100);
    }
}

}  // namespace
}  // namespace tapfix::test
