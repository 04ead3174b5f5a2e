#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>

#include "support/session_fixture.hpp"

namespace tapfix::session {
namespace {

using test::SessionFixture;

TEST_F(SessionFixture, HintsAreForTheLogAndProgressCarriesItsValue) {
    service_.LogHint(0, "hint");
    service_.LogLine(0, "line");
    service_.NotifyProgress(0, 42);
    const auto recorded = notifier_.Recorded();
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[0].kind, kNotifyHint);
    EXPECT_TRUE(recorded[0].debugOnly);
    EXPECT_EQ(recorded[1].kind, kNotifyLog);
    EXPECT_EQ(recorded[1].text, "line");
    EXPECT_EQ(recorded[2].kind, kNotifyProgress);
    EXPECT_EQ(recorded[2].value, 42);
}

TEST_F(SessionFixture, TheReferencePackageLoadsIntoTheService) {
    EXPECT_TRUE(service_.Config().loaded);
    EXPECT_EQ(service_.Config().nvOption, 2);
    EXPECT_FALSE(service_.Config().files.empty());
    EXPECT_FALSE(service_.Text("ID_HINT_START").empty());
}

// Why a port did not open reaches the log, once per reason: the watcher reopens the port every
// few seconds and must not fill the log while another program holds it.
TEST_F(SessionFixture, APortThatDoesNotOpenIsExplainedOncePerReason) {
    struct Attempt {
        bool heldByAnother;
        bool portPresent;
        bool opens;
        std::size_t explained;  // log lines so far
    };
    constexpr Attempt kAttempts[] = {
        {true, true, false, 1}, {true, true, false, 1},   {false, true, true, 1},
        {true, true, false, 2}, {false, false, false, 3}, {false, false, false, 3},
    };
    StartRouter();
    const int port = Context().portNumber;
    const std::filesystem::path device = dir_.Path() / "ports" / ("COM" + std::to_string(port));
    const auto explained = [&] {
        const auto lines = notifier_.Texts(kNotifyLog);
        return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [](auto& line) {
            return line.starts_with("Cannot open the port: ");
        }));
    };
    for (const Attempt& attempt : kAttempts) {
        service_.Link(0).ClosePort();
        const int holder = attempt.heldByAnother ? ::open(device.c_str(), O_RDWR | O_NOCTTY) : -1;
        if (attempt.heldByAnother) {
            ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        }
        EXPECT_EQ(service_.ReopenLink(0, attempt.portPresent ? port : port + 50), attempt.opens);
        EXPECT_EQ(explained(), attempt.explained);
        if (holder >= 0) {
            ::close(holder);
        }
    }
    const auto lines = notifier_.Texts(kNotifyLog);
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](auto& line) { return line.find("is held by") != std::string::npos; }),
              lines.end());
}

}  // namespace
}  // namespace tapfix::session
