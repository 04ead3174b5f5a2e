#pragma once

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/window_controller.hpp"
#include "platform/clock.hpp"

namespace tapfix::test {

// Sleeps return at once and move the clock on; safe from any thread.
class InstantClock final : public platform::Clock {
  public:
    platform::TimePoint Now() const override {
        return platform::TimePoint(std::chrono::microseconds(elapsedUs_.load()));
    }
    void Sleep(platform::Milliseconds duration) override {
        elapsedUs_ += std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
    }
    platform::Milliseconds Slept() const {
        return std::chrono::duration_cast<platform::Milliseconds>(
            std::chrono::microseconds(elapsedUs_.load()));
    }

  private:
    std::atomic<long long> elapsedUs_{0};
};

// Remembers what the controller showed.
class FakeView final : public app::View {
  public:
    void SetControlText(int control, std::string_view text) override { texts[control] = text; }
    void SetCaption(std::string_view text) override { caption = text; }
    void EnableButton(int button, bool enabled) override { enabled_[button] = enabled; }
    void ShowButton(int button, bool visible) override { visible_[button] = visible; }
    void SetProgress(int percent) override { progress.push_back(percent); }
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
    // Answers yes to the questions whose number (from 1) is in `yesTo`.
    bool AskYesNo(std::string_view question) override {
        questions.emplace_back(question);
        return std::find(yesTo.begin(), yesTo.end(), questions.size()) != yesTo.end();
    }
    void Redraw() override { ++redraws; }
    void Close() override { ++closes; }

    bool Enabled(int button) const { return enabled_.count(button) && enabled_.at(button); }
    bool Visible(int button) const { return visible_.count(button) && visible_.at(button); }
    std::string Text(int control) const {
        return texts.count(control) ? texts.at(control) : std::string();
    }

    std::map<int, std::string> texts;
    std::string caption;
    std::vector<int> progress;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<std::size_t> yesTo;
    int redraws = 0;
    int closes = 0;

  private:
    std::map<int, bool> enabled_;
    std::map<int, bool> visible_;
};

// The rest of the program as the window sees it; records the calls in order.
class FakeControl final : public app::UpdateControl {
  public:
    bool UpdateRunning() const override { return running; }
    bool StopWatcher() override {
        calls.push_back("StopWatcher");
        const bool was = watching;
        watching = false;
        return was;
    }
    void StartWorker() override {
        calls.push_back("StartWorker");
        running = true;
    }
    bool FinishDevice() override {
        calls.push_back("FinishDevice");
        return routerAttached;
    }
    void LanguageChanged(bool english) override {
        calls.push_back(english ? "English" : "Russian");
    }

    bool running = false;
    bool watching = true;
    // FinishDevice restarts a router in the background.
    bool routerAttached = false;
    std::vector<std::string> calls;
};

}  // namespace tapfix::test
