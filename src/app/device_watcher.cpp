#include "app/device_watcher.hpp"

#include <algorithm>

#include "config/helper_programs.hpp"
#include "link/port_discovery.hpp"

namespace tapfix::app {
namespace {

using namespace std::chrono_literals;

constexpr int kMissesBeforeHelp = 2;
// How soon a stopped watcher notices it in the middle of a wait.
constexpr platform::Milliseconds kStopCheck = 10ms;

}  // namespace

void CDeviceWatcher::StoppableClock::Sleep(platform::Milliseconds duration) {
    const platform::TimePoint end = clock_.Now() + duration;
    for (platform::TimePoint now = clock_.Now(); now < end && !stopped_; now = clock_.Now()) {
        clock_.Sleep(std::min(std::chrono::ceil<platform::Milliseconds>(end - now), kStopCheck));
    }
}

CDeviceWatcher::CDeviceWatcher(session::CDownloadService& service, SharedState& shared,
                               CNotificationChannel& channel, platform::Clock& clock)
    : service_(service), shared_(shared), channel_(channel), clock_(clock, stopped_) {}

CDeviceWatcher::~CDeviceWatcher() {
    Stop();
    Join();
}

void CDeviceWatcher::Start() {
    slot_ = shared_.context.slot;
    alive_ = true;
    thread_ = std::thread([this] { RunDeviceWatcher(); });
}

bool CDeviceWatcher::Stop() {
    const bool first = !stopped_.exchange(true);
    // Only the first stop interrupts: a later one may come while the worker has the link.
    link::CPacket& link = service_.Link(slot_);
    if (first) {
        link.InterruptExchanges();
    }
    // Taken only to wait for the traffic in progress; once released the watcher sees the stop
    // before it touches the device again.
    std::lock_guard lock(traffic_);
    if (first) {
        link.ResumeExchanges();
    }
    return first && alive_;
}

void CDeviceWatcher::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

DeviceFacts CDeviceWatcher::Facts() const {
    std::lock_guard lock(factsMutex_);
    return facts_;
}

template <typename Traffic>
bool CDeviceWatcher::WithDevice(Traffic&& traffic) {
    {
        std::lock_guard lock(traffic_);
        if (stopped_) {
            return false;
        }
        service_.SetNotifier(&held_);
        traffic();
        service_.SetNotifier(&channel_);
    }
    // Log lines even from a stopped watcher: they tell what it did.
    for (const session::Notification& notification : held_.Take()) {
        channel_.Notify(notification);
    }
    return true;
}

int CDeviceWatcher::RunDeviceWatcher() {
    alive_ = true;
    while (!shared_.updateRunning && !stopped_) {
        const std::optional<int> port = FindPort();
        if (stopped_) {
            break;
        }
        if (!port) {
            ForgetVersions();
            clock_.Sleep(platform::ScaledWait(1000ms));
            ++misses_;
        }
        if (misses_ > kMissesBeforeHelp) {
            MissedCycles();
        }
        std::optional<PortOpenFailure> failure;
        if (port && !WithDevice([&] { failure = ReadDevice(*port); })) {
            break;
        }
        LogPortChange(port);
        // A new reason goes before the empty version and a reason taken back after the read
        // one: either way "Searching…" never flashes in between.
        const std::optional<std::string> hint = ChangedOpenFailureHint(failure);
        if (hint && !hint->empty()) {
            Send(session::TextNotification(session::kNotifyHint, slot_, *hint));
        }
        Send(session::TextNotification(session::kNotifyVersion, slot_, Facts().version));
        Send(session::TextNotification(session::kNotifyPort, slot_,
                                       port ? "COM" + std::to_string(*port) : std::string()));
        if (hint && hint->empty()) {
            Send(session::TextNotification(session::kNotifyHint, slot_, ""));
        }
        clock_.Sleep(platform::ScaledWait(2000ms));
    }
    alive_ = false;
    return 0;
}

std::optional<int> CDeviceWatcher::FindPort() {
    std::optional<int> found;
    WithDevice([&] {
        if (const auto port = FindFollowedPort()) {
            shared_.context.portNumber = port->number;
            shared_.context.usb = port->usb;
            found = port->number;
            downloadMode_ = link::IsDownloadModePort(*port);
        }
    });
    return found;
}

// The followed router's port while it is there. Once it has left, whichever router shows up
// is another one (or the same one replugged), and what was learnt of the last one goes.
std::optional<platform::PortInfo> CDeviceWatcher::FindFollowedPort() {
    const platform::PortList ports = platform::ListPorts();
    constexpr auto kNames = link::RouterPortNames::DiagOrDownload;
    if (followed_) {
        if (auto port = link::FindRouterPort(ports, followed_->usb, kNames)) {
            return port;
        }
        if (!ports.available) {
            return std::nullopt;
        }
        followed_.reset();
        service_.ForgetDevice(slot_);
    }
    auto port = link::FindRouterPort(ports, {}, kNames);
    if (port) {
        followed_ = FollowedRouter{port->usb, {}};
    }
    return port;
}

void CDeviceWatcher::NoteImei(const std::string& imei) {
    if (!followed_ || imei.empty()) {
        return;
    }
    if (!followed_->imei.empty() && followed_->imei != imei) {
        service_.ForgetDevice(slot_);
    }
    followed_->imei = imei;
}

std::optional<PortOpenFailure> CDeviceWatcher::ReadDevice(int port) {
    link::CPacket& link = service_.Link(slot_);
    if (!service_.ReopenLink(slot_, port)) {
        // A version read before is no longer this port's: "Ready" would mislead.
        ForgetVersions();
        return PortOpenFailure{link.OpenErrno(), link.OpenDevice(), link.OpenFailure()};
    }
    DeviceFacts read = ReadDeviceFacts(link);
    read.portOpened = true;
    read.downloadMode = downloadMode_;
    NoteImei(read.imei);
    std::lock_guard lock(factsMutex_);
    facts_ = std::move(read);
    return std::nullopt;
}

void CDeviceWatcher::LogPortChange(std::optional<int> port) {
    if (port != loggedPort_) {
        loggedPort_ = port;
        Log(port ? "router port found: COM" + std::to_string(*port) : "router port gone");
    }
}

std::optional<std::string> CDeviceWatcher::ChangedOpenFailureHint(
    const std::optional<PortOpenFailure>& failure) {
    const std::string reason = failure ? failure->reason : "";
    if (reason == shownFailure_) {
        return std::nullopt;
    }
    shownFailure_ = reason;
    const bool english = service_.Language().Language() == config::UiLanguage::English;
    return failure ? PortOpenHint(*failure, HoldersOf(*failure), english) : std::string();
}

void CDeviceWatcher::ForgetVersions() {
    // The IMEI stays: only a router that answers replaces it.
    std::lock_guard lock(factsMutex_);
    facts_.portOpened = false;
    facts_.version.clear();
    facts_.buildId.clear();
}

void CDeviceWatcher::MissedCycles() {
    const config::LogSink log = [this](std::string_view text) { Log(text); };
    if (!driversInstalled_) {
        driversInstalled_ = true;
        config::RunDriverInstaller("setup.exe", log);
        config::RunDriverInstaller("setupOLD.exe", log);
    }
    if (!timeoutReported_ && WatchTimeElapsed()) {
        timeoutReported_ = true;
        misses_ = kNoDeviceResult;
        Send(session::ValueNotification(session::kNotifyEnd, slot_, misses_));
    }
    config::RunModeSwitch(clock_, log);
    misses_ = 0;
}

bool CDeviceWatcher::WatchTimeElapsed() {
    const platform::TimePoint now = clock_.Now();
    if (!watchStart_) {
        watchStart_ = now;
    }
    return now - *watchStart_ >= platform::ScaledWait(180s);
}

void CDeviceWatcher::Send(const session::Notification& notification) {
    // Whatever a stopped watcher still had to say is dropped: after "Update" it must not
    // enable the button again.
    channel_.Send(notification, [this] { return !stopped_; });
}

void CDeviceWatcher::Log(std::string_view text) {
    Send(session::TextNotification(session::kNotifyLog, slot_, std::string(text)));
}

}  // namespace tapfix::app
