#include "app/station.hpp"

#include <algorithm>

#include "app/update_worker.hpp"
#include "link/port_discovery.hpp"

namespace tapfix::app {
namespace {

using namespace std::chrono_literals;

// The watcher's cycle, as the single router's watcher looks.
constexpr platform::Milliseconds kLookInterval = 2000ms;
// Looks without anything new before a station with nothing left to do may end.
constexpr int kQuietLooksForIdle = 2;
// How long a router that just appeared (or restarts after its update) may take to answer.
constexpr platform::Milliseconds kAnswerWait = 60000ms;
constexpr platform::Milliseconds kAnswerPoll = 1000ms;
constexpr auto kRouterNames = link::RouterPortNames::DiagOrDownload;

}  // namespace

CStation::CStation(session::CDownloadService& service, const SharedState& settings,
                   platform::Clock& clock)
    : service_(service), settings_(settings), clock_(clock) {}

CStation::~CStation() {
    Stop();
}

void CStation::Start(const StationOptions& options) {
    options_ = options;
    watcher_ = std::thread([this] { WatchLoop(); });
}

void CStation::StopWatching() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    stopping_.notify_all();
}

void CStation::Stop() {
    StopWatching();
    if (watcher_.joinable()) {
        watcher_.join();
    }
    for (std::thread& worker : workers_) {
        if (worker.joinable()) {
            worker.join();
        }
    }
}

bool CStation::UpdatesRunning() const {
    std::lock_guard lock(mutex_);
    return std::any_of(entries_.begin(), entries_.end(),
                       [](const Entry& entry) { return entry.router.updating; });
}

bool CStation::Idle() const {
    std::lock_guard lock(mutex_);
    // A router that left before it answered was never taken on: it has no result to wait for.
    const bool noneRuns = std::none_of(entries_.begin(), entries_.end(),
                                       [](const Entry& entry) { return entry.router.running; });
    return looked_ && noneRuns && quietLooks_ >= kQuietLooksForIdle;
}

std::vector<StationRouter> CStation::Routers() const {
    std::lock_guard lock(mutex_);
    std::vector<StationRouter> routers;
    for (const Entry& entry : entries_) {
        routers.push_back(entry.router);
    }
    return routers;
}

std::optional<StationRouter> CStation::RouterOnSlot(int slot) const {
    std::lock_guard lock(mutex_);
    if (slot < 0 || slot >= kSlotCount || !slotEntries_[static_cast<std::size_t>(slot)]) {
        return std::nullopt;
    }
    return entries_[*slotEntries_[static_cast<std::size_t>(slot)]].router;
}

void CStation::WatchLoop() {
    std::unique_lock lock(mutex_);
    while (!stopped_) {
        lock.unlock();
        const platform::PortList ports = platform::ListPorts();
        Look(ports);
        lock.lock();
        // The wait is the clock's, so that scaled runs look as often as their router moves.
        const platform::TimePoint until = clock_.Now() + platform::ScaledWait(kLookInterval);
        while (!stopped_ && clock_.Now() < until) {
            stopping_.wait_for(lock, std::chrono::milliseconds(10));
        }
    }
}

void CStation::Look(const platform::PortList& ports) {
    if (!ports.available) {
        return;
    }
    std::lock_guard lock(mutex_);
    for (Entry& entry : entries_) {
        entry.seenThisLook = false;
    }
    bool tookOn = false;
    for (const platform::PortInfo& port : ports.ports) {
        const std::optional<platform::PortInfo> router =
            link::FindRouterPort(platform::PortList{true, {}, {port}}, {}, kRouterNames);
        if (!router || !router->usb.Known() || !Allowed(*router)) {
            continue;
        }
        Entry* entry = EntryAt(router->usb);
        if (entry == nullptr) {
            entry = &entries_.emplace_back();
            entry->router.usb = router->usb;
        }
        entry->seenThisLook = true;
        const bool waiting = !entry->router.running &&
                             (!entry->router.result.has_value() || !entry->presentSinceEnd);
        if (!waiting) {
            continue;
        }
        if (const std::optional<int> slot = FreeSlot()) {
            TakeOn(*entry, *router, *slot);
            tookOn = true;
        }
    }
    for (Entry& entry : entries_) {
        // Gone, if only for a restart: what shows up there next is looked at anew.
        entry.presentSinceEnd = entry.presentSinceEnd && entry.seenThisLook;
    }
    quietLooks_ = tookOn ? 0 : quietLooks_ + 1;
    looked_ = true;
}

bool CStation::Allowed(const platform::PortInfo& port) {
    if (options_.ports.empty()) {
        return true;
    }
    const bool named = std::find(options_.ports.begin(), options_.ports.end(), port.number) !=
                       options_.ports.end();
    const bool known = std::any_of(allowed_.begin(), allowed_.end(), [&](const auto& usb) {
        return link::BelongsToRouter(port, usb);
    });
    if (named && !known) {
        // The router leaves the named port at its first re-enumeration: its place stays named.
        allowed_.push_back(port.usb);
    }
    return named || known;
}

CStation::Entry* CStation::EntryAt(const platform::UsbLocation& usb) {
    for (Entry& entry : entries_) {
        if (entry.router.usb == usb) {
            return &entry;
        }
    }
    return nullptr;
}

std::optional<int> CStation::FreeSlot() const {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const auto& index = slotEntries_[static_cast<std::size_t>(slot)];
        if (!index || !entries_[*index].router.running) {
            return slot;
        }
    }
    return std::nullopt;
}

void CStation::TakeOn(Entry& entry, const platform::PortInfo& port, int slot) {
    const auto index = static_cast<std::size_t>(&entry - entries_.data());
    entry.router.slot = slot;
    entry.router.portNumber = port.number;
    entry.router.running = true;
    entry.router.started = clock_.Now();
    slotEntries_[static_cast<std::size_t>(slot)] = index;
    std::thread& worker = workers_[static_cast<std::size_t>(slot)];
    if (worker.joinable()) {
        worker.join();  // the slot's last worker has ended: the slot was free
    }
    worker = std::thread([this, index] { RunRouter(index); });
}

void CStation::RunRouter(std::size_t index) {
    SharedState shared;
    shared.workFolder = settings_.workFolder;
    shared.packageBuildId = settings_.packageBuildId;
    shared.allowDowngrade = settings_.allowDowngrade;
    session::PortContext& context = shared.context;
    {
        std::lock_guard lock(mutex_);
        const StationRouter& router = entries_[index].router;
        context.slot = router.slot;
        context.usb = router.usb;
        context.portNumber = router.portNumber;
    }
    context.imageFolder = settings_.workFolder;
    context.nvRoot = settings_.workFolder;
    // Whatever the slot's last router left in the session's tables is not this one's.
    service_.ForgetDevice(context.slot);
    const std::optional<DeviceFacts> facts = AwaitAnswer(context);
    if (!facts) {
        Log(context.slot, "the router left before it answered");
        Finish(index, std::nullopt, {});
        return;
    }
    bool updated = false;
    bool updating = false;
    {
        std::lock_guard lock(mutex_);
        updated = AlreadyUpdated(entries_[index], *facts);
        entries_[index].router.imei = facts->imei;
        entries_[index].router.portNumber = context.portNumber;
        // A station told to end starts nothing more.
        updating = !updated && !stopped_;
        entries_[index].router.updating = updating;
    }
    if (!updating) {
        if (updated) {
            Log(context.slot, "the router restarted after its update: nothing more to do");
        }
        Finish(index, std::nullopt, facts->imei);
        return;
    }
    service_.Notify(session::TextNotification(session::kNotifyPort, context.slot,
                                              "COM" + std::to_string(context.portNumber)));
    service_.Notify(
        session::TextNotification(session::kNotifyVersion, context.slot, facts->version));
    CUpdateWorker worker(service_, shared, clock_);
    Finish(index, worker.RunUpdateWorker(*facts), facts->imei);
}

std::optional<DeviceFacts> CStation::AwaitAnswer(session::PortContext& context) {
    const platform::TimePoint end = clock_.Now() + platform::ScaledWait(kAnswerWait);
    DeviceFacts facts;
    while (!stopped_) {
        const std::optional<platform::PortInfo> port =
            link::FindRouterPort(platform::ListPorts(), context.usb, kRouterNames);
        if (port && service_.ReopenLink(context.slot, port->number)) {
            context.portNumber = port->number;
            facts = ReadDeviceFacts(service_.Link(context.slot));
            facts.portOpened = true;
            facts.downloadMode = link::IsDownloadModePort(*port);
            if (ReadyForUpdate(facts)) {
                return facts;
            }
        }
        if (clock_.Now() >= end) {
            // A router that never said what it is gets what the worker makes of its silence.
            return port ? std::optional<DeviceFacts>(facts) : std::nullopt;
        }
        clock_.Sleep(platform::ScaledWait(kAnswerPoll));
    }
    return std::nullopt;
}

bool CStation::AlreadyUpdated(const Entry& entry, const DeviceFacts& facts) const {
    // A router resumed blank said no IMEI before its update: the one that comes back at its
    // place is taken for it (it was restored to the data its copy proved to be its own).
    return entry.router.result == kResultSuccess &&
           (entry.router.imei.empty() || facts.imei == entry.router.imei);
}

void CStation::Finish(std::size_t index, std::optional<int> result, const std::string& imei) {
    std::lock_guard lock(mutex_);
    Entry& entry = entries_[index];
    entry.router.running = false;
    entry.router.updating = false;
    entry.router.ended = clock_.Now();
    if (result) {
        entry.router.result = result;
        entry.router.imei = imei;
        entry.resultSlot = entry.router.slot;
    }
    // The summary names the slot that gave the result, not one that only looked again.
    entry.router.slot = entry.resultSlot;
    // A router that left without a result counts as found by nobody.
    entry.presentSinceEnd = true;
    quietLooks_ = 0;
}

void CStation::Log(int slot, const std::string& text) {
    service_.LogLine(slot, text);
}

std::string StationLabel(int slot, const std::optional<StationRouter>& router) {
    const std::string place = router && !router->usb.path.empty() ? router->usb.path
                              : router                            ? router->usb.serial
                                                                  : std::string("-");
    return "[" + std::to_string(slot) + " " + place + "]";
}

int StationExitStatus(const std::vector<StationRouter>& routers) {
    constexpr int kAnyFailure = 4;
    bool found = false;
    for (const StationRouter& router : routers) {
        if (router.result && *router.result != kResultSuccess) {
            return kAnyFailure;
        }
        found = found || router.result.has_value();
    }
    return found ? kResultSuccess : kResultNoDevice;
}

}  // namespace tapfix::app
