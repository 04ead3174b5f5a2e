#include "cli/station_view.hpp"

#include <chrono>
#include <cstdio>

#include "app/window_controller.hpp"
#include "platform/utf16.hpp"

namespace tapfix::cli {
namespace {

// Wide enough for a step like "Writing image nandprgcombined.mbn...".
constexpr std::size_t kStepWidth = 28;

std::string UsbOf(const std::optional<app::StationRouter>& router) {
    if (!router) {
        return "";
    }
    return router->usb.path.empty() ? router->usb.serial : router->usb.path;
}

std::string Elapsed(platform::Milliseconds elapsed) {
    const long seconds = static_cast<long>(elapsed.count() / 1000);
    char text[48];
    std::snprintf(text, sizeof text, "%02ld:%02ld", seconds / 60, seconds % 60);
    return text;
}

}  // namespace

std::string StationRow(const app::StationRouter& router, std::string_view step, int percent,
                       platform::Milliseconds elapsed) {
    std::string shownStep(step.substr(0, kStepWidth));
    shownStep.resize(kStepWidth, ' ');
    char figures[32];
    std::snprintf(figures, sizeof figures, "%4d%%  ", percent < 0 ? 0 : percent);
    std::string row = app::StationLabel(router.slot, router) + "  ";
    row += (router.imei.empty() ? std::string(15, '-') : router.imei) + "  " + shownStep + " ";
    if (router.result && !router.running) {
        return row + "result " + std::to_string(*router.result) + "  " + Elapsed(elapsed);
    }
    return row + figures + Elapsed(elapsed);
}

CStationView::CStationView(std::ostream& out, ConsoleStyle style, platform::Clock& clock,
                           bool english)
    : out_(out), style_(style), clock_(clock), english_(english) {}

void CStationView::Observe(const session::Notification& notification,
                           const std::optional<app::StationRouter>& router) {
    const int slot = notification.slot;
    if (slot < 0 || slot >= app::CStation::kSlotCount) {
        return;
    }
    SlotState& state = slots_[static_cast<std::size_t>(slot)];
    const std::string label = app::StationLabel(slot, router);
    const std::string text = platform::PrintableText(SingleLine(notification.text));
    const bool json = style_ == ConsoleStyle::Json;
    switch (notification.kind) {
        case session::kNotifyProgress:
            if (notification.value == state.percent) {
                return;
            }
            state.percent = notification.value;
            if (json) {
                PrintEvent("progress", router, slot, {{"percent", state.percent}});
            } else if (style_ == ConsoleStyle::Lines) {
                PrintRouterLine(label,
                                "progress: " + std::to_string(state.percent) + "% " + state.step);
            }
            return;
        case session::kNotifyHint:
            if (notification.debugOnly) {
                state.step = text;
            }
            if (json) {
                PrintEvent(notification.debugOnly ? "step" : "hint", router, slot,
                           {{"text", notification.text}});
            } else if (!notification.debugOnly) {
                PrintRouterLine(label, "hint: " + text);
            }
            return;
        case session::kNotifyLog:
        case session::kNotifyLog2:
            if (json) {
                PrintEvent("log", router, slot, {{"text", notification.text}});
            }
            return;
        case session::kNotifyPort:
        case session::kNotifyVersion: {
            const char* name = notification.kind == session::kNotifyPort ? "port" : "version";
            if (json) {
                PrintEvent(name, router, slot, {{name, notification.text}});
            } else {
                PrintRouterLine(label, std::string(name) + ": " + text);
            }
            state = SlotState{};
            return;
        }
        case session::kNotifyEnd:
            if (json) {
                PrintEvent(
                    "end", router, slot,
                    {{"result", notification.value}, {"text", ResultText(notification.value)}});
            } else {
                PrintRouterLine(label, "result: " + std::to_string(notification.value) + " " +
                                           ResultText(notification.value));
            }
            return;
        default:
            return;
    }
}

void CStationView::Say(std::string_view text) {
    if (style_ == ConsoleStyle::Json) {
        PrintEvent("note", std::nullopt, -1, {{"text", text}});
    } else {
        PrintLine(text);
    }
}

void CStationView::DrawTable(const std::vector<app::StationRouter>& routers) {
    if (style_ != ConsoleStyle::Terminal) {
        return;
    }
    ClearTable();
    const platform::TimePoint now = clock_.Now();
    for (const app::StationRouter& router : routers) {
        const SlotState& state = slots_[static_cast<std::size_t>(router.slot)];
        const platform::TimePoint end = router.running ? now : router.ended;
        drawn_.push_back(
            StationRow(router, router.running ? state.step : "", state.percent,
                       std::chrono::duration_cast<platform::Milliseconds>(end - router.started)));
    }
    for (const std::string& row : drawn_) {
        out_ << row << '\n';
    }
    out_.flush();
}

void CStationView::Finish(const std::vector<app::StationRouter>& routers, int exitStatus) {
    if (style_ == ConsoleStyle::Json) {
        nlohmann::ordered_json each = nlohmann::ordered_json::array();
        for (const app::StationRouter& router : routers) {
            if (router.result) {
                each.push_back({{"slot", router.slot},
                                {"usb", UsbOf(router)},
                                {"imei", router.imei},
                                {"result", *router.result}});
            }
        }
        PrintEvent("result", std::nullopt, -1, {{"exitStatus", exitStatus}, {"routers", each}});
        return;
    }
    for (const app::StationRouter& router : routers) {
        if (router.result) {
            PrintLine("summary: " + app::StationLabel(router.slot, router) + " " +
                      (router.imei.empty() ? std::string("-") : router.imei) + " result " +
                      std::to_string(*router.result) + " " + ResultText(*router.result));
        }
    }
}

void CStationView::PrintRouterLine(const std::string& label, std::string_view text) {
    PrintLine(label + " " + std::string(text));
}

void CStationView::PrintEvent(std::string_view event,
                              const std::optional<app::StationRouter>& router, int slot,
                              nlohmann::ordered_json fields) {
    nlohmann::ordered_json line{{"time", IsoTime(std::chrono::system_clock::now())},
                                {"event", event}};
    if (slot >= 0) {
        line["slot"] = slot;
        line["usb"] = UsbOf(router);
    }
    line.update(fields);
    PrintLine(JsonLine(line));
}

void CStationView::PrintLine(std::string_view line) {
    ClearTable();
    out_ << platform::PrintableText(SingleLine(line)) << '\n';
    out_.flush();
}

void CStationView::ClearTable() {
    if (drawn_.empty()) {
        return;
    }
    // Up to the table's first row, then everything below it goes.
    out_ << "\x1b[" << drawn_.size() << "F\x1b[J";
    drawn_.clear();
}

std::string CStationView::ResultText(int result) const {
    return std::string(app::EndResultText(result, english_));
}

}  // namespace tapfix::cli
