#include "app/notification_channel.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace tapfix::test {
namespace {

using app::CNotificationChannel;
using namespace std::chrono_literals;

session::Notification Text(std::string text) {
    return session::TextNotification(session::kNotifyLog, 0, std::move(text));
}

// Serves until `count` notifications were handled (or the channel stops delivering).
void ServeUntil(CNotificationChannel& channel, const std::vector<std::string>& handled,
                std::size_t count) {
    for (int round = 0; round < 2000 && handled.size() < count; ++round) {
        channel.WaitAndServe(10ms);
    }
}

TEST(NotificationChannel, SenderWaitsUntilTheFrontEndHandledItsNotification) {
    CNotificationChannel channel;
    std::vector<std::string> handled;
    std::atomic<bool> senderReturned{false};
    std::vector<bool> senderBlockedWhileHandled;
    channel.SetHandler([&](const session::Notification& notification) {
        senderBlockedWhileHandled.push_back(!senderReturned);
        handled.push_back(notification.text);
    });
    std::thread sender([&] {
        channel.Notify(Text("first"));
        channel.Notify(Text("second"));
        senderReturned = true;
    });
    ServeUntil(channel, handled, 2);
    sender.join();
    EXPECT_EQ(handled, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(senderBlockedWhileHandled, (std::vector<bool>{true, true}));
    EXPECT_TRUE(senderReturned);
}

TEST(NotificationChannel, WakeUpHookRunsOnTheSendersThreadForEveryNotification) {
    CNotificationChannel channel;
    std::vector<std::string> handled;
    std::atomic<int> wakeUps{0};
    std::thread::id wokenFrom;
    channel.SetHandler([&](const session::Notification& n) { handled.push_back(n.text); });
    channel.SetWakeUp([&] {
        wokenFrom = std::this_thread::get_id();
        ++wakeUps;
    });
    std::thread::id senderId;
    std::thread sender([&] {
        senderId = std::this_thread::get_id();
        channel.Notify(Text("a"));
        channel.Notify(Text("b"));
    });
    ServeUntil(channel, handled, 2);
    sender.join();
    EXPECT_EQ(wakeUps, 2);
    EXPECT_EQ(wokenFrom, senderId);
}

TEST(NotificationChannel, WakeUpReplacedWhileASenderRunsIsNotCalledOnceTheReplacementReturned) {
    // A console loop takes its hook away before the pipe the hook writes to is closed.
    CNotificationChannel channel;
    std::vector<std::string> handled;
    std::promise<void> hookEntered;
    std::promise<void> replaced;
    std::shared_future<void> replacedSeen = replaced.get_future().share();
    std::atomic<bool> calledAfterReplacement{false};
    channel.SetHandler([&](const session::Notification& n) { handled.push_back(n.text); });
    channel.SetWakeUp([&] {
        hookEntered.set_value();
        calledAfterReplacement = replacedSeen.wait_for(100ms) == std::future_status::ready;
    });
    std::thread sender([&] { channel.Notify(Text("while replaced")); });
    hookEntered.get_future().wait();
    std::thread replacer([&] {
        channel.SetWakeUp({});
        replaced.set_value();
    });
    ServeUntil(channel, handled, 1);
    sender.join();
    replacer.join();
    EXPECT_EQ(handled, std::vector<std::string>{"while replaced"});
    EXPECT_FALSE(calledAfterReplacement);
}

TEST(NotificationChannel, NotificationFromTheServingThreadIsHandledAtOnce) {
    CNotificationChannel channel;
    std::vector<std::string> handled;
    bool woken = false;
    channel.SetHandler([&](const session::Notification& n) { handled.push_back(n.text); });
    channel.SetWakeUp([&] { woken = true; });
    channel.Notify(Text("inline"));
    EXPECT_EQ(handled, std::vector<std::string>{"inline"});
    EXPECT_FALSE(woken);
    EXPECT_FALSE(channel.ServePending());
}

TEST(NotificationChannel, NotificationNoLongerWantedIsDroppedAndItsSenderReleased) {
    CNotificationChannel channel;
    std::vector<std::string> handled;
    std::atomic<bool> stopped{false};
    channel.SetHandler([&](const session::Notification& n) {
        handled.push_back(n.text);
        stopped = true;
    });
    std::thread sender([&] {
        channel.Send(Text("before the stop"), [&] { return !stopped; });
        channel.Send(Text("after the stop"), [&] { return !stopped; });
        channel.Notify(Text("unconditional"));
    });
    ServeUntil(channel, handled, 2);
    sender.join();
    EXPECT_EQ(handled, (std::vector<std::string>{"before the stop", "unconditional"}));
}

TEST(NotificationChannel, CloseReleasesWaitingSendersAndLaterSendsReturnUnhandled) {
    CNotificationChannel channel;
    std::atomic<int> handled{0};
    std::atomic<bool> queued{false};
    channel.SetHandler([&](const session::Notification&) { ++handled; });
    channel.SetWakeUp([&] { queued = true; });
    std::thread sender([&] {
        channel.Notify(Text("never handled"));
        channel.Notify(Text("after close"));
    });
    while (!queued) {
        std::this_thread::yield();
    }
    channel.Close();
    sender.join();
    channel.Notify(Text("inline after close"));
    EXPECT_EQ(handled, 0);
    EXPECT_FALSE(channel.ServePending());
}

}  // namespace
}  // namespace tapfix::test
