#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/clock.hpp"
#include "session/notifier.hpp"

namespace tapfix::app {

// Carries notifications from the watcher and the worker to the front-end's thread. A sender
// waits until the front-end has handled its notification (an end message box included), as a
// window message sent synchronously would make it wait. Any event loop can serve the channel:
// the wake-up hook, called on the sender's thread, tells the loop there is work and must not
// call back into the channel (a Qt window queues a call to ServePending on its own thread; a
// terminal loop may block in WaitAndServe instead). A notification sent on the serving thread
// itself is handled at once.
class CNotificationChannel : public session::Notifier {
  public:
    using Handler = std::function<void(const session::Notification&)>;
    using StillWanted = std::function<bool()>;

    // The constructing thread is the serving thread.
    CNotificationChannel();
    ~CNotificationChannel() override;
    CNotificationChannel(const CNotificationChannel&) = delete;
    CNotificationChannel& operator=(const CNotificationChannel&) = delete;

    // Set before any sender runs.
    void SetHandler(Handler handler) { handler_ = std::move(handler); }
    // May change while senders run (a front-end's loop starts after the watcher): once this
    // returns, the former hook is neither running nor called again.
    void SetWakeUp(std::function<void()> wakeUp);

    void Notify(const session::Notification& notification) override;
    // As Notify; `stillWanted`, asked on the serving thread just before handling, drops the
    // notification when it answers false (its sender was stopped meanwhile).
    void Send(const session::Notification& notification, StillWanted stillWanted);
    // Runs `task` on the serving thread, in turn with the notifications; the caller waits as a
    // sender does.
    void Run(std::function<void()> task);

    // On the serving thread: handles every notification that is waiting. False when none was.
    bool ServePending();
    // On the serving thread: waits up to `timeout` for a notification, then serves.
    bool WaitAndServe(platform::Milliseconds timeout);
    // Releases every waiting sender without handling its notification; later sends return at
    // once. For the end of the program.
    void Close();

  private:
    // A notification and its test, or a task (`notification` null).
    struct Item {
        const session::Notification* notification;
        StillWanted stillWanted;
        std::function<void()> task;
        bool done = false;
    };

    bool Closed();
    bool ServeOne();
    void Deliver(Item item);
    void Handle(const Item& item);

    const std::thread::id servingThread_;
    Handler handler_;
    std::function<void()> wakeUp_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item*> queue_;
    bool closed_ = false;
};

}  // namespace tapfix::app
