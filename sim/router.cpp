#include "sim/router.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "platform/port_registry.hpp"

namespace tapfix::sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long the device waits for a host that does not read its answers before dropping them.
constexpr int kWritePatienceMs = 200;
// How often a departing device looks whether the host has taken its last answer.
constexpr int kDepartureCheckMs = 2;
// Far more than a pty takes to hand what the device wrote to the host's queue; the wire's own
// time, so not scaled.
constexpr std::chrono::milliseconds kPtyDelivery{50};
constexpr std::size_t kReadChunk = 4096;
constexpr int kDeviceThreadNice = -10;
// How often a download in progress looks for its host, and how long the host may be away
// (reopening the port) before the router counts it gone.
constexpr int kHostCheckMs = 20;
constexpr milliseconds kHostGoneAfter{2000};

nlohmann::json PortFields(const PortInfo& port) {
    return {{"port", port.number}, {"name", port.displayName}, {"mode", ModeName(port.mode)}};
}

}  // namespace

// The handlers' view of the router; called on the device thread with the lock held.
class SimulatedRouter::Context final : public DeviceContext {
  public:
    explicit Context(SimulatedRouter& router) : router_(router) {}

    DeviceState& State() override { return router_.state_; }
    const DeviceProfile& Profile() const override { return router_.options_.profile; }

    void SendFrame(std::span<const std::uint8_t> payload, Opening opening) override {
        const AnswerFate fate = router_.faults_.NextAnswer();
        if (Silenced(fate)) {
            return;
        }
        if (fate.badCrc) {
            Trace("fault", {{"fault", "badcrc"}, {"answer", router_.faults_.AnswersCounted()}});
        }
        router_.WriteAnswer(EncodeFrame(payload, opening, fate.badCrc));
    }

    void RepeatUntilInput(std::span<const std::uint8_t> payload, Opening opening) override {
        router_.repeating_ = EncodeFrame(payload, opening, false);
        router_.WriteAnswer(*router_.repeating_);
    }

    void SendRaw(std::span<const std::uint8_t> bytes) override {
        if (!Silenced(router_.faults_.NextAnswer())) {
            router_.WriteAnswer(Bytes(bytes.begin(), bytes.end()));
        }
    }

    std::optional<std::uint8_t> InjectedDiagError(std::uint8_t command) const override {
        const auto& errors = router_.options_.faults.diagErrors;
        const auto found = errors.find(command);
        return found == errors.end() ? std::nullopt : std::optional(found->second);
    }

    FaultCounter& Faults() override { return router_.faults_; }

    void Trace(std::string_view event, nlohmann::json fields) override {
        router_.trace_.Record(event, std::move(fields));
    }

    void Reenumerate(DeviceMode next, milliseconds delay, std::string_view reason) override {
        const bool returns = !(reason == "reset" && router_.options_.faults.noPortAfterReset);
        if (!returns) {
            Trace("fault", {{"fault", "noport-after-reset"}});
        }
        // When the router was sent away: its own time until it is back counts from here.
        Trace("reenumerate", {{"reason", reason}, {"delay_ms", delay.count()}});
        const auto now = Clock::now();
        const DeviceProfile& profile = Profile();
        router_.departure_ = Departure{next,
                                       delay,
                                       returns,
                                       std::string(reason),
                                       now + platform::ScaledWait(profile.leaveAfterAnswer),
                                       now + platform::ScaledTimeout(profile.leaveAtLatest)};
    }

    // The handler that asks is still running; the router switches once it has returned.
    void ContinueIn(DeviceMode next) override { router_.continueIn_ = next; }

  private:
    bool Silenced(const AnswerFate& fate) {
        if (fate.silent) {
            Trace("fault", {{"fault", "silent"}, {"answer", router_.faults_.AnswersCounted()}});
        }
        return fate.silent;
    }

    SimulatedRouter& router_;
};

SimulatedRouter::SimulatedRouter(RouterOptions options)
    : options_(std::move(options)), faults_(options_.faults), link_(options_.profile.link) {
    context_ = std::make_unique<Context>(*this);
}

SimulatedRouter::~SimulatedRouter() {
    Stop();
}

bool SimulatedRouter::Start(std::string* error) {
    if (started_) {
        *error = "the simulator is already running";
        return false;
    }
    registry_ = options_.registry;
    if (registry_.empty()) {
        const auto fromEnvironment = platform::PortsDirectory();
        if (!fromEnvironment) {
            *error = "no port registry: set TAPFIX_PORTS_DIR";
            return false;
        }
        registry_ = *fromEnvironment;
    }
    if (!options_.tracePath.empty() && !trace_.OpenFile(options_.tracePath, error)) {
        return false;
    }
    if (!LoadOrCreateState(error)) {
        return false;
    }
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        *error = "cannot create the wake-up descriptor";
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (!Appear(options_.initialMode)) {
            *error = lastError_;
            ::close(wakeFd_);
            wakeFd_ = -1;
            return false;
        }
    }
    started_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
}

bool SimulatedRouter::LoadOrCreateState(std::string* error) {
    std::lock_guard lock(mutex_);
    if (!options_.statePath.empty() && std::filesystem::exists(options_.statePath)) {
        return sim::LoadState(options_.statePath, &state_, error);
    }
    state_ = DefaultDeviceState(options_.defaults);
    return options_.statePath.empty() || sim::SaveState(options_.statePath, state_, error);
}

bool SimulatedRouter::Stop() {
    if (!started_) {
        return true;
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(wakeFd_);
    wakeFd_ = -1;
    started_ = false;
    std::lock_guard lock(mutex_);
    if (port_.Present()) {
        Leave("stopped");
    }
    arrival_.reset();
    const std::string previousError = lastError_;
    SaveLocked();
    return lastError_ == previousError;
}

void SimulatedRouter::Run() {
    // The link model holds the thread for microseconds at a time; the 50 µs a sleeping thread
    // may oversleep by default would add to every hold.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
    // A router has a processor of its own, so work on the host never stretches the gap
    // inside a split answer or the pace of its acknowledgements. Where the host allows it,
    // the device thread gets the larger share of a busy machine; where not, it runs as is.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kDeviceThreadNice);
    std::array<pollfd, 2> fds{};
    for (;;) {
        int timeout = 0;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            timeout = PollTimeoutMs();
            fds[0] = {wakeFd_, POLLIN, 0};
            fds[1] = {port_.MasterFd(), POLLIN, 0};
        }
        const nfds_t count = fds[1].fd >= 0 ? 2 : 1;
        if (::poll(fds.data(), count, timeout) > 0 && count == 2 &&
            (fds[1].revents & POLLIN) != 0) {
            ServeInput();
        }
        std::lock_guard lock(mutex_);
        SendDeferredPieces();
        RepeatAnswer();
        WatchHost();
        AdvanceTransitions();
    }
}

void SimulatedRouter::WatchHost() {
    if (!options_.powerCycleOnHostLoss || !handler_ || !handler_->Downloading()) {
        hostSeen_ = false;
        hostGoneSince_.reset();
        return;
    }
    const auto now = Clock::now();
    if (port_.HeldByHost()) {
        hostSeen_ = true;
        hostGoneSince_.reset();
        return;
    }
    if (!hostSeen_) {
        return;
    }
    if (!hostGoneSince_) {
        hostGoneSince_ = now;
    }
    if (now - *hostGoneSince_ >= platform::ScaledTimeout(kHostGoneAfter)) {
        PowerCycle();
    }
}

void SimulatedRouter::PowerCycle() {
    trace_.Record("power_cycle", {{"mode", ModeName(handler_->Mode())}});
    handler_->PowerCycle(*context_);
    hostSeen_ = false;
    hostGoneSince_.reset();
    departure_.reset();
    Leave("power cycle");
    SaveLocked();
    arrival_ = Arrival{DeviceMode::Normal,
                       Clock::now() + platform::ScaledWait(options_.profile.rebootTime)};
}

int SimulatedRouter::PollTimeoutMs() const {
    if (repeating_) {
        return 1;
    }
    const auto until = [](LinkSchedule::TimePoint at) {
        const auto left = std::chrono::ceil<milliseconds>(at - Clock::now());
        return static_cast<int>(std::clamp<milliseconds::rep>(left.count(), 0, 1000));
    };
    int timeout = deferred_.empty() ? -1 : until(deferred_.front().due);
    const auto sooner = [&timeout](int other) {
        timeout = timeout < 0 ? other : std::min(timeout, other);
    };
    if (options_.powerCycleOnHostLoss && handler_ && handler_->Downloading()) {
        sooner(kHostCheckMs);
    }
    if (departure_) {
        sooner(kDepartureCheckMs);
    } else if (arrival_) {
        sooner(until(arrival_->at));
    }
    return timeout;
}

void SimulatedRouter::ServeInput() {
    std::array<std::uint8_t, kReadChunk> chunk{};
    std::size_t got = 0;
    LinkSchedule::TimePoint arrives;
    {
        std::lock_guard lock(mutex_);
        got = port_.Read(chunk);
        if (got == 0) {
            return;
        }
        arrives = link_.FromHost(got, Clock::now(), hostBytesWaiting_);
    }
    HoldUntil(arrives);
    std::lock_guard lock(mutex_);
    repeating_.reset();
    // The answer's latency runs from the bytes' arrival on the wire, not from the moment the
    // thread woke up after it.
    inputArrived_ = arrives;
    if (handler_) {
        handler_->OnBytes(std::span(chunk).first(got), *context_);
        ApplyContinuation();
    }
}

void SimulatedRouter::ApplyContinuation() {
    while (continueIn_ && handler_) {
        const DeviceMode next = *continueIn_;
        continueIn_.reset();
        trace_.Record("mode", {{"from", ModeName(handler_->Mode())}, {"to", ModeName(next)}});
        handler_ = CreateModeHandler(next, options_.profile);
        current_->mode = next;
        portChanged_.notify_all();
        handler_->OnAttach(*context_);
    }
}

void SimulatedRouter::RepeatAnswer() {
    if (repeating_ && deferred_.empty() && port_.Present() && port_.BytesUnreadByHost() == 0) {
        WriteAnswer(*repeating_);
    }
}

// The wire's own pace, in microseconds and unscaled: no wait of the device's, so not the clock's.
void SimulatedRouter::HoldUntil(LinkSchedule::TimePoint due) {
    std::this_thread::sleep_until(due);
    hostBytesWaiting_ = port_.HostBytesWaiting();
}

void SimulatedRouter::AdvanceTransitions() {
    const auto now = Clock::now();
    if (departure_ && port_.Present()) {
        // The rest of a split answer still to come keeps the router on the bus.
        const bool hostHasAnswer =
            departure_->AnswerTaken(port_.BytesUnreadByHost() > 0, now) && deferred_.empty();
        if ((now >= departure_->earliest && hostHasAnswer) || now >= departure_->latest) {
            const Departure departure = *departure_;
            departure_.reset();
            Leave(departure.reason);
            SaveLocked();
            if (departure.returns) {
                arrival_ = Arrival{departure.next, now + platform::ScaledWait(departure.delay)};
            }
        }
    }
    if (arrival_ && now >= arrival_->at) {
        const DeviceMode mode = arrival_->mode;
        arrival_.reset();
        Appear(mode);
    }
}

bool SimulatedRouter::Departure::AnswerTaken(bool unread, platform::TimePoint now) {
    answerArrived = answerArrived || unread;
    // A host that reads at once may take the answer between two looks of the device thread;
    // past the pty's delivery time an empty queue means it did.
    const bool delivered = answerArrived || now - answerSentAt >= kPtyDelivery;
    return !unread && (!answerSent || delivered);
}

int SimulatedRouter::ChoosePortNumber(DeviceMode mode) const {
    // Like a USB host, the same interface gets its number back; another mode of the device
    // is another interface and never takes that number.
    const auto known = portNumbers_.find(mode);
    if (known != portNumbers_.end() &&
        platform::LowestFreePortNumber(registry_, known->second) == known->second) {
        return known->second;
    }
    int number = platform::LowestFreePortNumber(registry_, options_.firstPortNumber);
    const auto reserved = [&](int n) {
        return std::any_of(portNumbers_.begin(), portNumbers_.end(), [&](const auto& entry) {
            return entry.first != mode && entry.second == n;
        });
    };
    while (reserved(number)) {
        number = platform::LowestFreePortNumber(registry_, number + 1);
    }
    return number;
}

bool SimulatedRouter::Appear(DeviceMode mode) {
    if (mode == DeviceMode::Normal && state_.blank) {
        // Nothing bootable in the flash: the boot stage waits for a download.
        trace_.Record("no_firmware", {{"mode", ModeName(DeviceMode::Download)}});
        mode = DeviceMode::Download;
    }
    auto handler = CreateModeHandler(mode, options_.profile);
    const int number = ChoosePortNumber(mode);
    std::string error;
    if (!port_.Appear(registry_, number, handler->PortDescription(), options_.usb, &error)) {
        lastError_ = error;
        trace_.Record("port_error", {{"mode", ModeName(mode)}, {"error", error}});
        return false;
    }
    portNumbers_[mode] = number;
    handler_ = std::move(handler);
    current_ = PortInfo{number, port_.DisplayName(), mode};
    trace_.Record("port_added", PortFields(*current_));
    portChanged_.notify_all();
    if (options_.portListener) {
        options_.portListener(*current_, true);
    }
    inputArrived_ = Clock::now();
    handler_->OnAttach(*context_);
    ApplyContinuation();
    return true;
}

void SimulatedRouter::Leave(const std::string& reason) {
    const PortInfo leaving = *current_;
    nlohmann::json fields = PortFields(leaving);
    fields["reason"] = reason;
    port_.Leave();
    repeating_.reset();
    deferred_.clear();
    handler_.reset();
    continueIn_.reset();
    current_.reset();
    trace_.Record("port_removed", std::move(fields));
    portChanged_.notify_all();
    if (options_.portListener) {
        options_.portListener(leaving, false);
    }
}

// An answer leaves whole, or in two halves (split fault), or in packets (link model), each
// piece written once the link has carried it. A split answer's second half waits its gap on
// the device's schedule, not on the device thread, so the device stays responsive for any gap;
// answers given meanwhile follow it in order.
void SimulatedRouter::WriteAnswer(const Bytes& bytes) {
    const FaultPlan& plan = options_.faults;
    const LinkModel& link = options_.profile.link;
    if (departure_) {
        departure_->answerSent = true;
        departure_->answerSentAt = Clock::now();
    }
    const std::size_t half = plan.split && bytes.size() >= 2 ? bytes.size() / 2 : bytes.size();
    if (!deferred_.empty()) {
        const LinkSchedule::TimePoint after = deferred_.back().due;
        deferred_.push_back({Bytes(bytes.begin(), bytes.begin() + static_cast<long>(half)), after});
        DeferFrom(bytes, half, after + plan.splitGap);
        return;
    }
    const std::size_t piece = half < bytes.size() || link.packetSize == 0 ? half : link.packetSize;
    LinkSchedule::TimePoint waitedSince = inputArrived_;
    LinkSchedule::TimePoint readyAt = inputArrived_ + link.latency;
    for (std::size_t at = 0; at < half; at += piece) {
        waitedSince = SendPiece(std::span(bytes).subspan(at, std::min(piece, half - at)), readyAt,
                                waitedSince);
        readyAt = waitedSince + link.packetGap;
    }
    DeferFrom(bytes, half, waitedSince + plan.splitGap);
}

void SimulatedRouter::DeferFrom(const Bytes& bytes, std::size_t from, LinkSchedule::TimePoint due) {
    if (from < bytes.size()) {
        deferred_.push_back({Bytes(bytes.begin() + static_cast<long>(from), bytes.end()), due});
    }
}

LinkSchedule::TimePoint SimulatedRouter::SendPiece(std::span<const std::uint8_t> piece,
                                                   LinkSchedule::TimePoint readyAt,
                                                   LinkSchedule::TimePoint waitedSince) {
    const auto arrives = link_.ToHost(piece.size(), readyAt, waitedSince);
    HoldUntil(arrives);
    port_.Write(piece, kWritePatienceMs);
    return arrives;
}

void SimulatedRouter::SendDeferredPieces() {
    while (!deferred_.empty() && Clock::now() >= deferred_.front().due) {
        const Deferred next = std::move(deferred_.front());
        deferred_.pop_front();
        if (port_.Present()) {
            SendPiece(next.bytes, next.due, next.due);
        }
    }
}

void SimulatedRouter::SaveLocked() {
    std::string error;
    if (!options_.statePath.empty() && !sim::SaveState(options_.statePath, state_, &error)) {
        lastError_ = error;
        trace_.Record("state_error", {{"error", error}});
    }
}

std::optional<PortInfo> SimulatedRouter::CurrentPort() const {
    std::lock_guard lock(mutex_);
    return current_;
}

bool SimulatedRouter::WaitFor(const std::function<bool(const std::optional<PortInfo>&)>& predicate,
                              milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return portChanged_.wait_for(lock, timeout, [&] { return predicate(current_); });
}

bool SimulatedRouter::WaitForPort(DeviceMode mode, milliseconds timeout, PortInfo* port) const {
    std::unique_lock lock(mutex_);
    const bool present = portChanged_.wait_for(
        lock, timeout, [&] { return current_.has_value() && current_->mode == mode; });
    if (present && port != nullptr) {
        *port = *current_;
    }
    return present;
}

DeviceState SimulatedRouter::Snapshot() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void SimulatedRouter::Modify(const std::function<void(DeviceState&)>& change) {
    std::lock_guard lock(mutex_);
    change(state_);
}

bool SimulatedRouter::SaveState(std::string* error) const {
    if (options_.statePath.empty()) {
        *error = "no state file";
        return false;
    }
    std::lock_guard lock(mutex_);
    return sim::SaveState(options_.statePath, state_, error);
}

std::chrono::nanoseconds SimulatedRouter::LinkTimeNeeded() const {
    std::lock_guard lock(mutex_);
    return link_.Needed();
}

std::uint64_t SimulatedRouter::LinkBytesCarried() const {
    std::lock_guard lock(mutex_);
    return link_.Carried();
}

std::string SimulatedRouter::LastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

}  // namespace tapfix::sim
