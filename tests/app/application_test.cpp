#include "app/application.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "app_fakes.hpp"
#include "config/package.hpp"
#include "config/signing_keys.hpp"
#include "reference/firmware.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::test {
namespace {

using app::CUpdateApplication;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// Sets an environment variable for the test's life.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* previous = std::getenv(name)) {
            previous_ = previous;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (previous_) {
            ::setenv(name_, previous_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> previous_;
};

// Start-up from a package side file, with no router and a private runtime folder.
class StartupTest : public ::testing::Test {
  protected:
    StartupTest()
        : ports_("TAPFIX_PORTS_DIR", (dir_.Path() / "ports").string()),
          runtime_("XDG_RUNTIME_DIR", (dir_.Path() / "runtime").string()) {
        std::filesystem::create_directories(dir_.Path() / "ports");
        reference::ReferenceFirmwareOptions firmware;
        firmware.output = dir_.Path() / "firmware";
        std::string error;
        EXPECT_TRUE(reference::GenerateReferenceFirmware(firmware, error)) << error;
        options_.package = Pack();
        options_.workFolder = dir_.Path() / "work";
        options_.program = "tapfix-test 9.9";
        options_.arguments = {"--yes", "--lang", "en"};
    }

    std::filesystem::path Pack() {
        const std::filesystem::path package = dir_.Path() / ("package" + std::to_string(packs_++));
        std::string error;
        EXPECT_TRUE(config::WritePackage({}, dir_.Path() / "firmware", package, error)) << error;
        return package;
    }

    TempDir dir_;
    ScopedVariable ports_;
    ScopedVariable runtime_;
    app::StartupOptions options_;
    FakeView view_;
    InstantClock clock_;
    int packs_ = 0;
};

TEST_F(StartupTest, StartsWatchingWithThePackageUnpackedAndClosesOnRequest) {
    CUpdateApplication application(view_, clock_);
    ASSERT_EQ(application.Start(options_), CUpdateApplication::StartOutcome::Running)
        << ::testing::PrintToString(view_.messages);
    EXPECT_EQ(application.Controller().CurrentState(), app::CWindowController::State::Waiting);
    EXPECT_EQ(view_.Text(app::kControlUpdateButton), "Загрузка");
    EXPECT_TRUE(std::filesystem::exists(options_.workFolder / "dsp2.mbn"));
    EXPECT_TRUE(std::filesystem::exists(options_.workFolder / "download.xml"));
    EXPECT_EQ(application.WorkFolder(), options_.workFolder / "");

    EXPECT_TRUE(application.Controller().OnCloseRequested());
    EXPECT_EQ(view_.closes, 1);
    application.Shutdown();
    // Every run's log opens with what a report needs, in this order.
    std::ifstream log(options_.workFolder / "tapfix.log");
    const std::string text((std::istreambuf_iterator<char>(log)), {});
    std::size_t at = 0;
    for (const std::string& expected :
         {std::string("==== tapfix-test 9.9 starts"), std::string("options: --yes --lang en"),
          "work folder: " + (options_.workFolder / "").string(),
          "package: " + options_.package.string(),
          std::string("the package's dsp2.mbn names M9615A-")}) {
        at = text.find(expected, at);
        EXPECT_NE(at, std::string::npos) << expected << " in\n" << text;
    }
}

TEST_F(StartupTest, PartialTextFileIsTakenAndTheLogNamesTheKeysItLacks) {
    std::ofstream(dir_.Path() / "texts.ini") << "[Download_String_Table]\nID_HINT_START=Go\n";
    options_.textFile = dir_.Path() / "texts.ini";
    CUpdateApplication application(view_, clock_);
    ASSERT_EQ(application.Start(options_), CUpdateApplication::StartOutcome::Running);
    application.Shutdown();
    std::ifstream log(options_.workFolder / "tapfix.log");
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_THAT(text, HasSubstr("texts.ini lacks 43 keys; they keep their built-in texts: "));
    EXPECT_THAT(text, HasSubstr("ID_HINT_THREAD"));
    EXPECT_THAT(text, Not(HasSubstr("ID_HINT_START")));
}

// With another work folder too, and with or without a runtime folder: one copy per user.
TEST_F(StartupTest, SecondCopyIsRefusedWhileTheFirstRunsAndNamesIt) {
    for (const bool runtimeFolder : {true, false}) {
        ScopedVariable runtime("XDG_RUNTIME_DIR",
                               runtimeFolder ? (dir_.Path() / "runtime").string() : "");
        ScopedVariable state("XDG_STATE_HOME", (dir_.Path() / "state").string());
        CUpdateApplication first(view_, clock_);
        ASSERT_EQ(first.Start(options_), CUpdateApplication::StartOutcome::Running);
        FakeView secondView;
        CUpdateApplication second(secondView, clock_);
        app::StartupOptions elsewhere = options_;
        elsewhere.workFolder = dir_.Path() / "other-work";
        EXPECT_EQ(second.Start(elsewhere), CUpdateApplication::StartOutcome::AlreadyRunning);
        ASSERT_EQ(secondView.messages.size(), 1U);
        EXPECT_THAT(secondView.messages[0],
                    StartsWith("The program has been running. Cannot open it again!\n"));
        EXPECT_THAT(secondView.messages[0], HasSubstr("(pid " + std::to_string(::getpid())));
        EXPECT_EQ(secondView.redraws, 0) << "refused before the window showed anything";
        first.Shutdown();
    }
    EXPECT_TRUE(std::filesystem::exists(dir_.Path() / "state" / "tapfix"));
}

TEST_F(StartupTest, FailureSaysWhatFailedUnderTheFixedText) {
    struct Case {
        const char* what;
        std::function<void(app::StartupOptions&)> spoil;
        const char* named;
    };
    const Case cases[] = {
        {"package file missing",
         [&](app::StartupOptions& o) { o.package = dir_.Path() / "absent.pkg"; }, "absent.pkg"},
        {"work folder is a file",
         [&](app::StartupOptions& o) {
             std::ofstream(dir_.Path() / "plain") << "x";
             o.workFolder = dir_.Path() / "plain";
         },
         "work folder"},
        {"configuration cannot be parsed",
         [&](app::StartupOptions& o) {
             std::ofstream(dir_.Path() / "firmware" / "download.xml") << "<DOWNLOADBL><broken";
             o.package = Pack();
         },
         "download.xml"},
        {"configuration without settings",
         [&](app::StartupOptions& o) {
             std::ofstream(dir_.Path() / "firmware" / "download.xml") << "<OTHER></OTHER>";
             o.package = Pack();
         },
         "no DOWNLOADBL settings"},
        {"text file that is no text table",
         [&](app::StartupOptions& o) {
             std::ofstream(dir_.Path() / "texts.ini") << "[Other]\nID_HINT_START=x\n";
             o.textFile = dir_.Path() / "texts.ini";
         },
         "texts.ini is not a text table"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app::StartupOptions options = options_;
        c.spoil(options);
        FakeView view;
        CUpdateApplication application(view, clock_);
        EXPECT_EQ(application.Start(options), CUpdateApplication::StartOutcome::Failed);
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_THAT(view.messages[0], StartsWith("11111111111111111111111111111!\n"));
        EXPECT_THAT(view.messages[0], HasSubstr(c.named));
        EXPECT_EQ(application.Controller().CurrentState(), app::CWindowController::State::Starting);
    }
}

TEST_F(StartupTest, PackageWithoutTheTrustedSignatureIsRefusedBeforeTheRouterIsWatched) {
    config::SigningKey key;
    std::string error;
    ASSERT_TRUE(config::GenerateSigningKey("publisher", key, error)) << error;
    ASSERT_TRUE(config::WriteKeyPair(dir_.Path() / "publisher", key, error)) << error;
    const ScopedVariable keys("TAPFIX_KEYS_PATH", dir_.Path().string());
    for (const bool allowUnsigned : {false, true}) {
        app::StartupOptions options = options_;
        options.allowUnsigned = allowUnsigned;
        FakeView view;
        CUpdateApplication application(view, clock_);
        const auto outcome = application.Start(options);
        if (allowUnsigned) {
            EXPECT_EQ(outcome, CUpdateApplication::StartOutcome::Running);
            continue;
        }
        EXPECT_EQ(outcome, CUpdateApplication::StartOutcome::Failed);
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_THAT(view.messages[0], StartsWith("11111111111111111111111111111!\n"
                                                 "the package is not signed"));
        EXPECT_FALSE(std::filesystem::exists(options.workFolder / "dsp2.mbn"));
    }
}

// The router's port as listed, its registry link pointed at `target`.
void PointPortAt(const std::filesystem::path& registry, const std::filesystem::path& target) {
    std::error_code ec;
    std::filesystem::remove(registry / "COM3", ec);
    std::filesystem::create_symlink(target, registry / "COM3", ec);
}

// The watcher once sent "Cannot open the port" while it held the device, and "Update" or a
// close, waiting on the window's thread for the device, never served it: both froze for good.
// Here the open fails each cycle for another reason (no file, then not a tty) and the user
// acts while the window's thread handles exactly that line.
TEST_F(StartupTest, UpdateAndCloseTakeEffectAtOnceWhileThePortFailsForChangingReasons) {
    const std::filesystem::path ports = dir_.Path() / "ports";
    std::ofstream(ports / "COM3.name") << "Qualcomm HS-USB Diagnostics 9025 (COM3)\n";
    std::ofstream(dir_.Path() / "plain") << "not a tty";
    const std::filesystem::path targets[] = {dir_.Path() / "absent", dir_.Path() / "plain"};
    const std::pair<const char*, std::function<void(app::CWindowController&)>> cases[] = {
        {"Update", [](app::CWindowController& c) { c.OnUpdateClicked(); }},
        {"close", [](app::CWindowController& c) { c.OnCloseRequested(); }},
    };
    // A freeze ends the program (SIGALRM) instead of hanging the test run.
    ::alarm(120);
    for (const auto& [action, act] : cases) {
        SCOPED_TRACE(action);
        FakeView view;
        CUpdateApplication application(view, platform::SystemClock());
        std::optional<std::chrono::steady_clock::duration> took;
        std::size_t turn = 0;
        PointPortAt(ports, targets[0]);
        application.SetObserver([&](const session::Notification& n) {
            if (n.text.find("Cannot open the port") == std::string::npos) {
                return;
            }
            PointPortAt(ports, targets[++turn % 2]);
            if (!took && application.Controller().UpdateEnabled()) {
                const auto start = std::chrono::steady_clock::now();
                act(application.Controller());
                took = std::chrono::steady_clock::now() - start;
            }
        });
        ASSERT_EQ(application.Start(options_), CUpdateApplication::StartOutcome::Running);
        while (view.closes == 0) {
            application.Channel().WaitAndServe(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(took.has_value());
        EXPECT_LE(*took, std::chrono::milliseconds(500));
    }
    ::alarm(0);
}

}  // namespace
}  // namespace tapfix::test
