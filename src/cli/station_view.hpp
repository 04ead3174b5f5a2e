#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/station.hpp"
#include "cli/console_view.hpp"
#include "platform/clock.hpp"
#include "session/notifier.hpp"

namespace tapfix::cli {

// The station on a console: each router's events as lines that begin with its slot and USB
// location ("[2 1-1.4] progress: 47% ..."); on a terminal a table of the routers (location,
// IMEI, step, percentage, elapsed) that redraws itself below them; with --json one event per
// line carrying "slot" and "usb".
class CStationView {
  public:
    CStationView(std::ostream& out, ConsoleStyle style, platform::Clock& clock, bool english);

    // A notification of the router on its slot (none when the slot has no router yet).
    void Observe(const session::Notification& notification,
                 const std::optional<app::StationRouter>& router);
    // A line of the console's own.
    void Say(std::string_view text);
    // On a terminal: the table of the routers, drawn anew.
    void DrawTable(const std::vector<app::StationRouter>& routers);
    // Each router's result, and the exit status (--json: the result event, the last line).
    void Finish(const std::vector<app::StationRouter>& routers, int exitStatus);

  private:
    struct SlotState {
        int percent = -1;
        std::string step;
    };
    void PrintRouterLine(const std::string& label, std::string_view text);
    void PrintEvent(std::string_view event, const std::optional<app::StationRouter>& router,
                    int slot, nlohmann::ordered_json fields);
    void PrintLine(std::string_view line);
    void ClearTable();
    std::string ResultText(int result) const;

    std::ostream& out_;
    const ConsoleStyle style_;
    platform::Clock& clock_;
    const bool english_;
    std::array<SlotState, app::CStation::kSlotCount> slots_{};
    // The table's rows as last drawn, so that lines go above it.
    std::vector<std::string> drawn_;
};

// One row of the table: "[2 1-1.4]  359876543210984  Writing dsp2...   47%  01:05".
std::string StationRow(const app::StationRouter& router, std::string_view step, int percent,
                       platform::Milliseconds elapsed);

}  // namespace tapfix::cli
