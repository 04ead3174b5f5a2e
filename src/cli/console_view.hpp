#pragma once

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "app/window_controller.hpp"
#include "platform/clock.hpp"
#include "session/notifier.hpp"

namespace tapfix::cli {

enum class ConsoleStyle {
    Lines,     // "port: COM7", "progress: 42%", "result: 0 ..." (output to a file or a pipe)
    Terminal,  // the same lines, with a progress bar that redraws itself
    Json,      // one JSON event per change of the window, the result last (see the README)
};

// The window as lines on a console. The message box becomes the result line. Every text is
// printed on one line: a line break inside a router's text must not fake a line of ours.
class CConsoleView : public app::View {
  public:
    CConsoleView(std::ostream& out, ConsoleStyle style, platform::Clock& clock);

    void SetControlText(int control, std::string_view text) override;
    void SetCaption(std::string_view text) override;
    void EnableButton(int button, bool enabled) override;
    void ShowButton(int, bool) override {}
    void SetProgress(int percent) override;
    void ShowMessage(std::string_view text) override;
    // Nobody answers a console that runs on its own: it prints the question and says no, so
    // a saved copy is written back only when --resume names it.
    bool AskYesNo(std::string_view question) override;
    void Redraw() override;
    void Close() override { closed_ = true; }

    // Every notification, just before the controller handles it.
    void Observe(const session::Notification& notification);
    // The update has started: the elapsed time counts from here.
    void UpdateStarted();
    // Redraws the progress bar's elapsed time.
    void Tick();
    // A line of the console's own (a refused Ctrl-C, how to start the update).
    void Say(std::string_view text);
    // The program ends with this exit status: --json prints its result event, the last line.
    void Finish(int exitStatus);
    bool Closed() const { return closed_; }
    // The text a control shows now.
    std::string_view Value(int control) const;

  private:
    void PrintLine(std::string_view line);
    // One --json line: its time, the event's name, then its fields.
    void PrintEvent(std::string_view event, const nlohmann::ordered_json& fields);
    // An end result's box is held for the result event; one that a later end result follows
    // (no router, then an update) is printed as a message.
    void FlushHeldEnd();
    void PrintValue(std::string_view label, int control, std::string_view text);
    void DrawBar();
    void ClearBar();

    std::ostream& out_;
    const ConsoleStyle style_;
    platform::Clock& clock_;
    std::map<int, std::string> texts_;
    std::string caption_;
    std::string step_;
    std::string drawnBar_;
    int percent_ = 0;
    bool barShown_ = false;
    bool closed_ = false;
    // The end result whose message box is due.
    std::optional<int> pendingResult_;
    // --json: the last end result's box, held for the result event.
    std::optional<std::pair<int, std::string>> heldEnd_;
    std::optional<platform::TimePoint> updateStart_;
};

// "[#########...........]  42%  Writing image dsp2.mbn...  01:05", no longer than `width`.
std::string FormatProgressLine(int percent, std::string_view step, platform::Milliseconds elapsed,
                               std::size_t width);

// Line breaks inside a text become spaces: one text, one line.
std::string SingleLine(std::string_view text);

// ISO 8601 in UTC with milliseconds: "2026-12-09T12:34:56.789Z".
std::string IsoTime(std::chrono::system_clock::time_point time);
// A JSON object as one line; bytes that are not UTF-8 are replaced.
std::string JsonLine(const nlohmann::ordered_json& object);

}  // namespace tapfix::cli
