// Several routers at once on one download service: one router's re-enumeration holds only its
// own slot.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>

#include "support/session_fixture.hpp"

namespace tapfix::test {
namespace {

// Holds the sender of the search for a re-enumerated router's port until released: the session
// sends it while the router is away and its slot is locked.
class HeldPortSearch : public session::Notifier {
  public:
    void Notify(const session::Notification& notification) override {
        if (notification.kind != session::kNotifyPortSearch) {
            return;
        }
        std::unique_lock lock(mutex_);
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    void AwaitHeld() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return held_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
};

class SlotTest : public SessionFixture {};

TEST_F(SlotTest, ARoutersReenumerationDoesNotHoldUpAnotherSlot) {
    sim::RouterOptions second = RouterOptions();
    second.usb.path = "1-2";
    second.firstPortNumber = 40;
    sim::SimulatedRouter other(std::move(second));
    std::string error;
    ASSERT_TRUE(other.Start(&error)) << error;
    StartRouter();
    service_.Config().highSpeedUsb = 1;
    HeldPortSearch search;
    service_.SetNotifier(&search);

    session::PortContext switching = Context();
    switching.slot = 1;
    switching.usb.path = "1-1";
    auto switched =
        std::async(std::launch::async, [&] { return service_.SwitchToDownloadMode(switching); });
    search.AwaitHeld();
    auto reported = std::async(std::launch::async, [&] {
        std::string version;
        return service_.ReportDeviceVersion(0, other.CurrentPort()->number, version);
    });
    // A bound against a lock that is never released, not a measure of speed.
    const bool answered = reported.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    search.Release();
    EXPECT_TRUE(answered) << "slot 0 waited for slot 1's router to come back";
    EXPECT_TRUE(reported.get());
    EXPECT_TRUE(switched.get());
    other.Stop();
}

}  // namespace
}  // namespace tapfix::test
