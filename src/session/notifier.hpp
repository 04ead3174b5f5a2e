#pragma once

#include <string>
#include <utility>

// What the download session tells its front-end. The session knows no window: whoever drives
// it implements Notifier, and each call returns only once the front-end has handled the
// notification (the sender waits, as a window message sent synchronously would make it).
namespace tapfix::session {

enum NotificationKind : int {
    kNotifyProgress = 0,    // value: percent
    kNotifyHint = 1,        // text; debugOnly: for the log, never the hint line
    kNotifyLog = 3,         // text, for the log only
    kNotifyPortSearch = 5,  // value: the port number being looked for (ignored by the window)
    kNotifyVersion = 7,     // text: the device's version, empty when unknown
    kNotifyPort = 8,        // text: "COM%d", or empty
    kNotifyEnd = 9,         // value: the end result
    kNotifyLog2 = 10,       // text, for the log only
    kNotifyQuestion = 11,   // text: a yes/no question for the user (the worker's, never a step's)
};

struct Notification {
    int kind = kNotifyLog;
    int slot = 0;
    std::string text;  // UTF-8
    int value = 0;
    bool debugOnly = false;
};

inline Notification TextNotification(int kind, int slot, std::string text, bool debugOnly = false) {
    Notification notification;
    notification.kind = kind;
    notification.slot = slot;
    notification.text = std::move(text);
    notification.debugOnly = debugOnly;
    return notification;
}

inline Notification ValueNotification(int kind, int slot, int value) {
    Notification notification;
    notification.kind = kind;
    notification.slot = slot;
    notification.value = value;
    return notification;
}

class Notifier {
  public:
    virtual ~Notifier() = default;
    virtual void Notify(const Notification& notification) = 0;
};

}  // namespace tapfix::session
