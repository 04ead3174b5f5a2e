#include "app/notification_channel.hpp"

namespace tapfix::app {

CNotificationChannel::CNotificationChannel() : servingThread_(std::this_thread::get_id()) {}

CNotificationChannel::~CNotificationChannel() {
    Close();
}

void CNotificationChannel::Notify(const session::Notification& notification) {
    Send(notification, {});
}

void CNotificationChannel::Send(const session::Notification& notification,
                                StillWanted stillWanted) {
    Deliver(Item{&notification, std::move(stillWanted), {}});
}

void CNotificationChannel::Run(std::function<void()> task) {
    Deliver(Item{nullptr, {}, std::move(task)});
}

void CNotificationChannel::Deliver(Item item) {
    if (std::this_thread::get_id() == servingThread_) {
        if (!Closed()) {
            Handle(item);
        }
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        queue_.push_back(&item);
        // Under the lock, so that SetWakeUp never pulls a hook away while it runs.
        if (wakeUp_) {
            wakeUp_();
        }
    }
    changed_.notify_all();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&item] { return item.done; });
}

void CNotificationChannel::SetWakeUp(std::function<void()> wakeUp) {
    std::lock_guard lock(mutex_);
    wakeUp_ = std::move(wakeUp);
}

bool CNotificationChannel::Closed() {
    std::lock_guard lock(mutex_);
    return closed_;
}

bool CNotificationChannel::ServePending() {
    bool served = false;
    while (ServeOne()) {
        served = true;
    }
    return served;
}

bool CNotificationChannel::WaitAndServe(platform::Milliseconds timeout) {
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [this] { return !queue_.empty() || closed_; });
    }
    return ServePending();
}

void CNotificationChannel::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        for (Item* item : queue_) {
            item->done = true;
        }
        queue_.clear();
    }
    changed_.notify_all();
}

bool CNotificationChannel::ServeOne() {
    Item* item = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            return false;
        }
        item = queue_.front();
        queue_.pop_front();
    }
    // The sender stays blocked until `done`, so the item outlives the handler.
    Handle(*item);
    {
        std::lock_guard lock(mutex_);
        item->done = true;
    }
    changed_.notify_all();
    return true;
}

void CNotificationChannel::Handle(const Item& item) {
    if (item.task) {
        item.task();
        return;
    }
    if (item.stillWanted && !item.stillWanted()) {
        return;
    }
    if (handler_) {
        handler_(*item.notification);
    }
}

}  // namespace tapfix::app
