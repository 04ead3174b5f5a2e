#pragma once

#include <optional>
#include <string_view>

#include "app/application.hpp"
#include "cli/console_view.hpp"
#include "cli/station_view.hpp"

namespace tapfix::cli {

struct ConsoleLoopOptions {
    // Press "Update" as soon as it is enabled.
    bool yes = false;
    // Someone at a terminal can re-plug the router and press Enter: "no device" does not end
    // the run, as it leaves the window open.
    bool interactive = false;
};

// Said when nobody can press Enter and --yes was not given.
inline constexpr std::string_view kYesNeeded =
    "standard input is not a terminal or has ended: give --yes to start the update without "
    "Enter";

// Serves the application on this thread until its window closes: notifications, Enter for
// "Update", Ctrl-C as the window's close request. Returns the exit status.
int RunConsole(app::CUpdateApplication& application, CConsoleView& view,
               const ConsoleLoopOptions& options);

// Serves the application's station on this thread until Ctrl-C (refused while an update is
// being written) or, with `exitWhenIdle`, until every router found has its result and no
// other was plugged in. Returns the station's exit status.
int RunStation(app::CUpdateApplication& application, CStationView& view, bool exitWhenIdle);

// 0 success, 1 version mismatch, 2 bad IMEI, 3 no device, 5 saved data waits for --resume,
// 6 a half-flashed router whose data is not in this work folder, 4 anything else (no result
// included).
int ExitStatusFor(std::optional<int> result);

}  // namespace tapfix::cli
