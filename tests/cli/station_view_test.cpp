// The station's console output: every router's line says whose it is.
#include "cli/station_view.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "../app/app_fakes.hpp"
#include "output_lines.hpp"

namespace tapfix::test {
namespace {

using session::TextNotification;
using session::ValueNotification;

app::StationRouter RouterAt(int slot, std::string usbPath) {
    app::StationRouter router;
    router.slot = slot;
    router.usb.path = std::move(usbPath);
    router.imei = "359876543210984";
    router.running = true;
    return router;
}

// One router's events, as the station's workers send them.
const std::vector<session::Notification>& Events() {
    static const std::vector<session::Notification> events{
        TextNotification(session::kNotifyPort, 2, "COM7"),
        TextNotification(session::kNotifyHint, 2, "Writing image dsp2\n...", true),
        ValueNotification(session::kNotifyProgress, 2, 47),
        ValueNotification(session::kNotifyProgress, 2, 47),
        TextNotification(session::kNotifyLog, 2, "for the log only"),
        ValueNotification(session::kNotifyEnd, 2, 0),
    };
    return events;
}

std::string Feed(cli::ConsoleStyle style) {
    std::ostringstream out;
    InstantClock clock;
    cli::CStationView view(out, style, clock, true);
    for (const session::Notification& event : Events()) {
        view.Observe(event, RouterAt(2, "1-1.4"));
    }
    return out.str();
}

TEST(StationView, LinesBeginWithTheSlotAndTheUsbPlaceAndRepeatNothing) {
    EXPECT_THAT(Lines(Feed(cli::ConsoleStyle::Lines)),
                ::testing::ElementsAre(
                    "[2 1-1.4] port: COM7", "[2 1-1.4] progress: 47% Writing image dsp2 ...",
                    "[2 1-1.4] result: 0 " + std::string(app::EndResultText(0, true))));
}

TEST(StationView, JsonEventsCarrySlotAndUsb) {
    std::vector<std::string> kinds;
    for (const std::string& line : Lines(Feed(cli::ConsoleStyle::Json))) {
        const nlohmann::json event = nlohmann::json::parse(line);
        EXPECT_EQ(event.at("slot"), 2) << line;
        EXPECT_EQ(event.at("usb"), "1-1.4") << line;
        kinds.push_back(event.at("event"));
    }
    EXPECT_THAT(kinds, ::testing::ElementsAre("port", "step", "progress", "log", "end"));
}

TEST(StationView, ATableRowShowsPlaceImeiStepPercentageAndElapsedTime) {
    app::StationRouter router = RouterAt(3, "1-1.2");
    EXPECT_EQ(cli::StationRow(router, "Writing image dsp2.mbn...", 47, std::chrono::seconds(65)),
              "[3 1-1.2]  359876543210984  Writing image dsp2.mbn...      47%  01:05");
    router.running = false;
    router.result = 4;
    router.imei.clear();
    EXPECT_EQ(cli::StationRow(router, "", 90, std::chrono::seconds(3)),
              "[3 1-1.2]  ---------------                               result 4  00:03");
}

}  // namespace
}  // namespace tapfix::test
