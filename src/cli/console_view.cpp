#include "cli/console_view.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "platform/utf16.hpp"

namespace tapfix::cli {
namespace {

constexpr std::size_t kBarCells = 20;
constexpr std::size_t kDefaultWidth = 80;
// The instruction lines of the window end before its first label.
constexpr int kFirstLabelControl = 1012;

// The window's values and their line labels, which are also their --json event names.
struct ValueLabel {
    int control;
    std::string_view label;
};

constexpr ValueLabel kValueLabels[] = {
    {app::kControlPortValue, "port"},
    {app::kControlVersionValue, "version"},
    {app::kControlHint, "hint"},
};

std::size_t TerminalWidth() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return kDefaultWidth;
}

}  // namespace

std::string SingleLine(std::string_view text) {
    std::string line(text);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return line;
}

std::string FormatProgressLine(int percent, std::string_view step, platform::Milliseconds elapsed,
                               std::size_t width) {
    const int shown = std::clamp(percent, 0, 100);
    const std::size_t filled = static_cast<std::size_t>(shown) * kBarCells / 100;
    const long seconds = static_cast<long>(elapsed.count() / 1000);
    char figures[48];
    std::snprintf(figures, sizeof figures, "] %3d%%  %02ld:%02ld", shown, seconds / 60,
                  seconds % 60);
    std::string line =
        "[" + std::string(filled, '#') + std::string(kBarCells - filled, '.') + figures;
    if (!step.empty() && line.size() + 2 < width) {
        line += "  ";
        line += platform::CutToUtf16Units(step, width - line.size());
    }
    return line;
}

std::string IsoTime(std::chrono::system_clock::time_point time) {
    const auto since = time.time_since_epoch();
    const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    const long milliseconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03ldZ", milliseconds);
    return text;
}

std::string JsonLine(const nlohmann::ordered_json& object) {
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

CConsoleView::CConsoleView(std::ostream& out, ConsoleStyle style, platform::Clock& clock)
    : out_(out), style_(style), clock_(clock) {}

void CConsoleView::SetControlText(int control, std::string_view text) {
    std::string& stored = texts_[control];
    if (stored == text) {
        return;
    }
    stored = text;
    for (const ValueLabel& value : kValueLabels) {
        if (value.control != control) {
            continue;
        }
        if (style_ == ConsoleStyle::Json) {
            const std::string_view field = control == app::kControlHint ? "text" : value.label;
            PrintEvent(value.label, {{field, stored}});
        } else {
            PrintLine(std::string(value.label) + ": " + stored);
        }
    }
}

std::string_view CConsoleView::Value(int control) const {
    const auto found = texts_.find(control);
    return found == texts_.end() ? std::string_view() : std::string_view(found->second);
}

void CConsoleView::SetCaption(std::string_view text) {
    caption_ = text;
}

void CConsoleView::EnableButton(int, bool) {}

void CConsoleView::SetProgress(int percent) {
    percent_ = percent;
    if (style_ == ConsoleStyle::Terminal) {
        DrawBar();
    } else if (style_ == ConsoleStyle::Lines) {
        PrintLine("progress: " + std::to_string(percent) + "%");
    } else {
        PrintEvent("progress", {{"percent", percent}});
    }
}

void CConsoleView::ShowMessage(std::string_view text) {
    if (style_ == ConsoleStyle::Json) {
        if (pendingResult_) {
            FlushHeldEnd();
            heldEnd_.emplace(*pendingResult_, text);
        } else {
            PrintEvent("message", {{"text", text}});
        }
    } else if (pendingResult_) {
        ClearBar();
        PrintLine("result: " + std::to_string(*pendingResult_) + " " + std::string(text));
    } else {
        PrintLine("message: " + std::string(text));
    }
    pendingResult_.reset();
}

bool CConsoleView::AskYesNo(std::string_view question) {
    if (style_ == ConsoleStyle::Json) {
        PrintEvent("question", {{"text", question}, {"yes", false}});
    } else {
        PrintLine("question: " + std::string(question));
        PrintLine(
            "answer: no (--yes never confirms saved data; --resume IMEI names the copy "
            "to write back)");
    }
    return false;
}

void CConsoleView::Redraw() {
    if (style_ == ConsoleStyle::Json) {
        return;
    }
    PrintLine(caption_);
    for (const app::ControlText& entry : app::ControlTexts()) {
        if (entry.control < kFirstLabelControl) {
            PrintLine("  " + texts_[entry.control]);
        }
    }
}

void CConsoleView::Observe(const session::Notification& notification) {
    if (notification.kind == session::kNotifyEnd) {
        pendingResult_ = notification.value;
    }
    const bool step = notification.kind == session::kNotifyHint && notification.debugOnly;
    if (step) {
        step_ = platform::PrintableText(SingleLine(notification.text));
        if (barShown_) {
            DrawBar();
        }
    }
    const bool log =
        notification.kind == session::kNotifyLog || notification.kind == session::kNotifyLog2;
    if (style_ == ConsoleStyle::Json && (step || log)) {
        PrintEvent(step ? "step" : "log", {{"text", notification.text}});
    }
}

void CConsoleView::UpdateStarted() {
    updateStart_ = clock_.Now();
    if (style_ == ConsoleStyle::Terminal) {
        DrawBar();
    }
}

void CConsoleView::Tick() {
    if (barShown_) {
        DrawBar();
    }
}

void CConsoleView::Say(std::string_view text) {
    if (style_ == ConsoleStyle::Json) {
        PrintEvent("note", {{"text", text}});
    } else {
        PrintLine(text);
    }
}

void CConsoleView::Finish(int exitStatus) {
    if (style_ != ConsoleStyle::Json) {
        return;
    }
    nlohmann::ordered_json fields{{"exitStatus", exitStatus}};
    if (heldEnd_) {
        fields["result"] = heldEnd_->first;
        fields["text"] = heldEnd_->second;
        heldEnd_.reset();
    }
    PrintEvent("result", std::move(fields));
}

void CConsoleView::FlushHeldEnd() {
    if (heldEnd_) {
        const auto [result, text] = *std::exchange(heldEnd_, std::nullopt);
        PrintEvent("message", {{"text", text}, {"result", result}});
    }
}

void CConsoleView::PrintEvent(std::string_view event, const nlohmann::ordered_json& fields) {
    nlohmann::ordered_json line{{"time", IsoTime(std::chrono::system_clock::now())},
                                {"event", event}};
    line.update(fields);
    PrintLine(JsonLine(line));
}

void CConsoleView::PrintLine(std::string_view line) {
    const bool redraw = barShown_;
    ClearBar();
    // Versions and step texts come from the router: none of its bytes may drive the terminal,
    // and none of its line breaks may fake a line.
    out_ << platform::PrintableText(SingleLine(line)) << '\n';
    if (redraw) {
        DrawBar();
    }
    out_.flush();
}

void CConsoleView::DrawBar() {
    const auto elapsed =
        updateStart_
            ? std::chrono::duration_cast<platform::Milliseconds>(clock_.Now() - *updateStart_)
            : platform::Milliseconds(0);
    std::string line = FormatProgressLine(percent_, step_, elapsed, TerminalWidth() - 1);
    // Steps come by the hundred (one per NV item): the terminal hears only of changes.
    if (barShown_ && line == drawnBar_) {
        return;
    }
    out_ << "\r\033[K" << line;
    out_.flush();
    drawnBar_ = std::move(line);
    barShown_ = true;
}

void CConsoleView::ClearBar() {
    if (barShown_) {
        out_ << "\r\033[K";
        barShown_ = false;
    }
}

}  // namespace tapfix::cli
