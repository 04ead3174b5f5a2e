#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/clock.hpp"
#include "session/notifier.hpp"

// The main window as a controller that knows no toolkit: the Qt window and the console
// front-end each implement View and feed the controller their user's input and the
// notifications of the background threads.
namespace tapfix::app {

// Controls the controller changes besides the fixed texts of the layout.
enum ControlId : int {
    kControlProgressBar = 1006,
    kControlPortValue = 1013,
    kControlVersionValue = 1015,
    kControlHint = 1016,
    kControlPercent = 1018,
    kControlLanguageButton = 1020,
    kControlUpdateButton = 1021,
};

// A control of the layout that shows a text of the table, by language.
struct ControlText {
    int control;
    int englishId;
    int russianId;
};

// Every control with a text pair, in layout order (the language button is not among them: it
// names the other language).
std::span<const ControlText> ControlTexts();

class View {
  public:
    virtual ~View() = default;
    virtual void SetControlText(int control, std::string_view text) = 0;
    virtual void SetCaption(std::string_view text) = 0;
    // `button` is kControlUpdateButton or kControlLanguageButton.
    virtual void EnableButton(int button, bool enabled) = 0;
    virtual void ShowButton(int button, bool visible) = 0;
    virtual void SetProgress(int percent) = 0;
    // Modal, with an empty caption and one OK button: returns once the user confirmed it.
    virtual void ShowMessage(std::string_view text) = 0;
    // Modal, with Yes and No (No the default): true when the user said yes. A view that
    // cannot ask says no.
    virtual bool AskYesNo(std::string_view question) = 0;
    // Every text of a language has been set: repaint the whole window at once.
    virtual void Redraw() = 0;
    virtual void Close() = 0;
};

// What the window asks of the rest of the program.
class UpdateControl {
  public:
    virtual ~UpdateControl() = default;
    virtual bool UpdateRunning() const = 0;
    // Stops the device watcher for good; true when it was still watching.
    virtual bool StopWatcher() = 0;
    virtual void StartWorker() = 0;
    // Leaves the router as an update leaves it (reopen the link, after-download steps), off the
    // window's thread: true when that has begun, and the controller's DeviceFinished follows.
    virtual bool FinishDevice() = 0;
    // The session's step texts follow the window's language.
    virtual void LanguageChanged(bool english) = 0;
};

using DebugSink = std::function<void(std::string_view)>;

class CWindowController {
  public:
    enum class State { Starting, Waiting, Updating, Ended, Closing };
    // Longer notification texts are cut to this many UTF-16 units before they are shown.
    static constexpr std::size_t kTextUnits = 255;

    CWindowController(View& view, UpdateControl& control, platform::Clock& clock,
                      DebugSink debugOutput);

    // The window's first state: the language's texts, empty values, "Update" disabled, the
    // language button hidden and disabled.
    void Initialize(bool english);
    // The texts of success and of a general failure (English ids; the Russian ones follow)
    // when "Update" starts another task than the update.
    void SetEndTexts(int successId, int failureId) {
        successText_ = successId;
        failureText_ = failureId;
    }
    // Start-up has finished and the watcher runs.
    void WatcherStarted();

    void HandleNotification(const session::Notification& notification);
    void OnUpdateClicked();
    void OnLanguageClicked();
    // Runs the close handling; true when the window closed. With a router attached the window
    // first restarts it, saying so, and closes once that is done (a second request closes it
    // at once).
    bool OnCloseRequested();
    // The router the close handling restarts is done with.
    void DeviceFinished();
    // Enter and Escape are taken away from the dialog, so neither closes the window.
    static bool SwallowsKey(int key);

    State CurrentState() const { return state_; }
    bool UpdateEnabled() const { return updateEnabled_; }
    bool English() const { return english_; }
    // The last end result shown, if any.
    std::optional<int> LastResult() const { return lastResult_; }
    // The answer to the last question notification, once: a sender reads it after its
    // synchronous send has returned (the handling happened before). No when none was asked.
    bool TakeAnswer() { return std::exchange(answer_, false); }
    std::string_view Text(int englishId, int russianId) const;

  private:
    void ApplyTexts();
    void ShowProgress(int percent);
    void ShowHint(std::string_view text);
    void ShowVersion(std::string_view text);
    void ShowPort(std::string_view text);
    // A hint while the router is looked for stays until its version is read: the next empty
    // version must not wipe why its port cannot be opened.
    void ShowWaitingHint(std::string_view text);
    // "Ready" once a version is shown, else the waiting hint or "Searching…".
    std::string_view WaitingHint() const;
    void EnableUpdate(bool enabled);
    void EndUpdate(int result);
    void CloseNow();

    View& view_;
    UpdateControl& control_;
    platform::Clock& clock_;
    DebugSink debugOutput_;
    State state_ = State::Starting;
    bool english_ = false;
    int lastPercent_ = 0;
    bool updateEnabled_ = false;
    bool versionShown_ = false;
    bool closed_ = false;
    std::string waitingHint_;
    std::optional<int> lastResult_;
    bool answer_ = false;
    int successText_ = 179;
    int failureText_ = 175;
};

// The window's text for an end result, by language.
std::string_view EndResultText(int result, bool english);

}  // namespace tapfix::app
