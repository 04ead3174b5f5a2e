#include "app/window_controller.hpp"

#include <algorithm>
#include <iterator>
#include <string>

#include "config/ui_text.hpp"
#include "platform/utf16.hpp"

namespace tapfix::app {
namespace {

using namespace std::chrono_literals;

constexpr ControlText kControlTexts[] = {
    {1000, 102, 103}, {1001, 104, 105}, {1002, 106, 107}, {1003, 108, 109}, {1004, 110, 111},
    {1005, 112, 113}, {1007, 114, 115}, {1008, 116, 117}, {1009, 118, 119}, {1010, 120, 121},
    {1011, 122, 123}, {1012, 124, 125}, {1014, 126, 127}, {1017, 128, 129}, {1021, 130, 131},
};

constexpr int kTextSearching = 134;
constexpr int kTextDownloading = 136;
constexpr int kTextStillRunning = 151;
constexpr int kTextReady = 159;
constexpr int kResultNoDevice = 3;
constexpr int kKeyEnter = 13;
constexpr int kKeyEscape = 27;

struct EndText {
    int result;
    int englishId;
};

// Results without an entry show the general failure text.
constexpr EndText kEndTexts[] = {{0, 179}, {1, 161}, {2, 165}, {3, 184},
                                 {5, 200}, {6, 202}, {7, 218}};
constexpr int kEndTextOther = 175;

// A result without a text of its own: the update's (or the task's) general failure.
bool IsGeneralFailure(int result) {
    return std::none_of(std::begin(kEndTexts), std::end(kEndTexts),
                        [result](const EndText& entry) { return entry.result == result; });
}

std::string_view Shown(std::string_view text) {
    return platform::CutToUtf16Units(text, CWindowController::kTextUnits);
}

}  // namespace

std::span<const ControlText> ControlTexts() {
    return kControlTexts;
}

std::string_view EndResultText(int result, bool english) {
    int englishId = kEndTextOther;
    for (const EndText& entry : kEndTexts) {
        if (entry.result == result) {
            englishId = entry.englishId;
        }
    }
    return config::LoadUiText(englishId, englishId + 1, english);
}

CWindowController::CWindowController(View& view, UpdateControl& control, platform::Clock& clock,
                                     DebugSink debugOutput)
    : view_(view), control_(control), clock_(clock), debugOutput_(std::move(debugOutput)) {}

std::string_view CWindowController::Text(int englishId, int russianId) const {
    return config::LoadUiText(englishId, russianId, english_);
}

void CWindowController::Initialize(bool english) {
    english_ = english;
    lastPercent_ = 0;
    EnableUpdate(false);
    view_.ShowButton(kControlLanguageButton, false);
    view_.EnableButton(kControlLanguageButton, false);
    control_.LanguageChanged(english_);
    ApplyTexts();
}

void CWindowController::WatcherStarted() {
    if (state_ == State::Starting) {
        state_ = State::Waiting;
    }
}

void CWindowController::ApplyTexts() {
    view_.SetControlText(kControlPortValue, "");
    view_.SetControlText(kControlVersionValue, "");
    view_.SetControlText(kControlHint, "");
    view_.SetControlText(kControlPercent, "0%");
    view_.SetCaption(config::UiText(config::kTextCaption));
    for (const ControlText& entry : kControlTexts) {
        view_.SetControlText(entry.control, Text(entry.englishId, entry.russianId));
    }
    view_.SetControlText(
        kControlLanguageButton,
        config::UiText(english_ ? config::kTextRussianName : config::kTextEnglishName));
    view_.Redraw();
}

void CWindowController::HandleNotification(const session::Notification& notification) {
    switch (notification.kind) {
        case session::kNotifyProgress:
            ShowProgress(notification.value);
            break;
        case session::kNotifyHint:
            if (notification.debugOnly) {
                debugOutput_(notification.text);
            } else if (state_ == State::Waiting) {
                ShowWaitingHint(Shown(notification.text));
            } else {
                ShowHint(Shown(notification.text));
            }
            break;
        case session::kNotifyLog:
        case session::kNotifyLog2:
            debugOutput_(notification.text);
            break;
        case session::kNotifyVersion:
            ShowVersion(Shown(notification.text));
            break;
        case session::kNotifyPort:
            ShowPort(Shown(notification.text));
            break;
        case session::kNotifyEnd:
            EndUpdate(notification.value);
            break;
        case session::kNotifyQuestion:
            debugOutput_("question: " + notification.text);
            answer_ = view_.AskYesNo(notification.text);
            debugOutput_(answer_ ? "answer: yes" : "answer: no");
            break;
        default:
            break;
    }
}

void CWindowController::ShowProgress(int percent) {
    if (percent < 0 || percent > 100 || percent == lastPercent_) {
        return;
    }
    lastPercent_ = percent;
    view_.SetControlText(kControlPercent, std::to_string(percent) + "%");
    view_.SetProgress(percent);
}

void CWindowController::ShowHint(std::string_view text) {
    view_.SetControlText(kControlHint, text);
}

void CWindowController::ShowVersion(std::string_view text) {
    view_.SetControlText(kControlVersionValue, text);
    versionShown_ = !text.empty();
    ShowHint(WaitingHint());
    EnableUpdate(!text.empty());
}

void CWindowController::ShowWaitingHint(std::string_view text) {
    waitingHint_ = text;
    ShowHint(text.empty() ? WaitingHint() : text);
}

std::string_view CWindowController::WaitingHint() const {
    if (versionShown_) {
        return Text(kTextReady, kTextReady + 1);
    }
    return waitingHint_.empty() ? Text(kTextSearching, kTextSearching + 1)
                                : std::string_view(waitingHint_);
}

void CWindowController::ShowPort(std::string_view text) {
    view_.SetControlText(kControlPortValue, text);
    if (!text.empty()) {
        EnableUpdate(true);
    }
}

void CWindowController::EnableUpdate(bool enabled) {
    // One update per run: once it has started nothing enables the button again.
    if (enabled && state_ != State::Starting && state_ != State::Waiting) {
        return;
    }
    updateEnabled_ = enabled;
    view_.EnableButton(kControlUpdateButton, enabled);
}

void CWindowController::EndUpdate(int result) {
    lastResult_ = result;
    if (state_ == State::Updating) {
        state_ = State::Ended;
    }
    const std::string_view text = result == 0                ? Text(successText_, successText_ + 1)
                                  : IsGeneralFailure(result) ? Text(failureText_, failureText_ + 1)
                                                             : EndResultText(result, english_);
    debugOutput_("end result " + std::to_string(result) + ": " + std::string(text));
    ShowHint(text);
    view_.ShowMessage(text);
    if (result == kResultNoDevice) {
        return;
    }
    clock_.Sleep(platform::ScaledWait(500ms));
    OnCloseRequested();
}

void CWindowController::OnUpdateClicked() {
    if (!updateEnabled_ || state_ != State::Waiting) {
        return;
    }
    control_.StopWatcher();
    state_ = State::Updating;
    view_.EnableButton(kControlLanguageButton, false);
    EnableUpdate(false);
    ShowHint(Text(kTextDownloading, kTextDownloading + 1));
    control_.StartWorker();
}

void CWindowController::OnLanguageClicked() {
    english_ = !english_;
    control_.LanguageChanged(english_);
    ApplyTexts();
}

bool CWindowController::OnCloseRequested() {
    if (state_ == State::Closing) {
        // Asked again while the router restarts: the user does not want to wait for it.
        CloseNow();
        return true;
    }
    // Refused from "Update" until the end result was shown: the flag alone would leave the
    // after-download steps open to a close.
    if (control_.UpdateRunning() || state_ == State::Updating) {
        view_.ShowMessage(Text(kTextStillRunning, kTextStillRunning + 1));
        return false;
    }
    const bool watching = control_.StopWatcher();
    state_ = State::Closing;
    EnableUpdate(false);
    if (watching && control_.FinishDevice()) {
        ShowHint(config::PairText(config::kTextRestarting, english_));
        return false;
    }
    CloseNow();
    return true;
}

void CWindowController::DeviceFinished() {
    if (state_ == State::Closing) {
        CloseNow();
    }
}

void CWindowController::CloseNow() {
    if (!closed_) {
        closed_ = true;
        view_.Close();
    }
}

bool CWindowController::SwallowsKey(int key) {
    return key == kKeyEnter || key == kKeyEscape;
}

}  // namespace tapfix::app
