#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.hpp"
#include "sim/device_state.hpp"
#include "sim/faults.hpp"
#include "sim/link_schedule.hpp"
#include "sim/mode_handler.hpp"
#include "sim/pty_port.hpp"
#include "sim/trace.hpp"

namespace tapfix::sim {

struct PortInfo {
    int number = 0;
    std::string displayName;
    DeviceMode mode = DeviceMode::Normal;
};

struct RouterOptions {
    // The port registry; empty means TAPFIX_PORTS_DIR.
    std::filesystem::path registry;
    // Ports take the lowest free number from here on.
    int firstPortNumber = 7;
    // Where the router is plugged in, registered with every port it shows: a router keeps its
    // socket (and its serial number) across every re-enumeration. By default the first port of
    // the first bus, without a serial number, as many routers have none.
    platform::UsbLocation usb{.path = "1-1", .serial = ""};
    // Loaded at start (created with defaults when missing) and saved whenever the device
    // reboots and at stop; empty keeps the state in memory only.
    std::filesystem::path statePath;
    std::filesystem::path tracePath;
    FaultPlan faults;
    DeviceProfile profile;
    DefaultsOptions defaults;
    DeviceMode initialMode = DeviceMode::Normal;
    // When the host goes away in the middle of a download (the updater killed, its port
    // closed), the router's power is cut and comes back, as a user replugs it.
    bool powerCycleOnHostLoss = false;
    // Told on the device thread about every port that appears (true) or goes (false).
    std::function<void(const PortInfo& port, bool present)> portListener;
};

// The simulated router: a device thread that owns the port and the mode handler, and the
// state it keeps across power cycles. Everything a handler touches is guarded by one lock,
// which the accessors below take too.
class SimulatedRouter {
  public:
    explicit SimulatedRouter(RouterOptions options);
    ~SimulatedRouter();
    SimulatedRouter(const SimulatedRouter&) = delete;
    SimulatedRouter& operator=(const SimulatedRouter&) = delete;

    // Loads the state, shows the first port and starts answering. False with a reason.
    bool Start(std::string* error);
    // Leaves the bus and saves the state; false (with the reason in LastError) when the save
    // failed. Safe to call twice.
    bool Stop();

    std::optional<PortInfo> CurrentPort() const;
    // Waits until the port situation satisfies the predicate (nullopt: no port present).
    bool WaitFor(const std::function<bool(const std::optional<PortInfo>&)>& predicate,
                 std::chrono::milliseconds timeout) const;
    bool WaitForPort(DeviceMode mode, std::chrono::milliseconds timeout,
                     PortInfo* port = nullptr) const;

    DeviceState Snapshot() const;
    void Modify(const std::function<void(DeviceState&)>& change);
    bool SaveState(std::string* error) const;
    std::vector<nlohmann::json> TraceRecords() const { return trace_.Records(); }
    // What the modelled link alone needed for the traffic so far (LinkSchedule::Needed).
    std::chrono::nanoseconds LinkTimeNeeded() const;
    // The bytes the modelled link carried so far, both directions (LinkSchedule::Carried).
    std::uint64_t LinkBytesCarried() const;
    std::string LastError() const;

  private:
    class Context;
    struct Departure {
        DeviceMode next;
        std::chrono::milliseconds delay;
        bool returns;
        std::string reason;
        platform::TimePoint earliest;
        platform::TimePoint latest;
        // A pty delivers what the device wrote a moment later: an empty host queue means the
        // answer was read only once it has been seen there, or once it has surely arrived.
        bool answerSent = false;
        bool answerArrived = false;
        platform::TimePoint answerSentAt{};

        // Whether the host has taken the answer, its input queue holding `unread` bytes now.
        bool AnswerTaken(bool unread, platform::TimePoint now);
    };
    struct Arrival {
        DeviceMode mode;
        platform::TimePoint at;
    };

    bool LoadOrCreateState(std::string* error);
    void Run();
    int PollTimeoutMs() const;
    void ServeInput();
    void AdvanceTransitions();
    // Sends the repeating answer again once the host has read it.
    void RepeatAnswer();
    // Power-cycles the router once the host has been gone from a download for a while.
    void WatchHost();
    void PowerCycle();
    bool Appear(DeviceMode mode);
    void Leave(const std::string& reason);
    int ChoosePortNumber(DeviceMode mode) const;
    void SaveLocked();
    void WriteAnswer(const Bytes& bytes);
    // Writes one piece once the modelled link has carried it; returns when it arrived.
    LinkSchedule::TimePoint SendPiece(std::span<const std::uint8_t> piece,
                                      LinkSchedule::TimePoint readyAt,
                                      LinkSchedule::TimePoint waitedSince);
    // Queues the answer's bytes from `from` on, to leave at `due`.
    void DeferFrom(const Bytes& bytes, std::size_t from, LinkSchedule::TimePoint due);
    // Writes the pieces whose time has come.
    void SendDeferredPieces();
    // Runs the mode a handler asked to continue in.
    void ApplyContinuation();
    // Holds the device thread until the modelled link has carried what is due by then, and
    // notes whether the host's next bytes were already waiting.
    void HoldUntil(LinkSchedule::TimePoint due);

    const RouterOptions options_;
    Trace trace_;
    mutable std::mutex mutex_;
    mutable std::condition_variable portChanged_;
    DeviceState state_;
    std::unique_ptr<ModeHandler> handler_;
    std::optional<DeviceMode> continueIn_;
    std::unique_ptr<Context> context_;
    PtyPort port_;
    std::optional<PortInfo> current_;
    std::map<DeviceMode, int> portNumbers_;
    std::optional<Departure> departure_;
    std::optional<Arrival> arrival_;
    // An answer the device keeps sending until the host speaks.
    std::optional<Bytes> repeating_;
    // Pieces of answers that leave later, in order: the second halves of split answers and the
    // answers the device gave after them.
    struct Deferred {
        Bytes bytes;
        LinkSchedule::TimePoint due;
    };
    std::deque<Deferred> deferred_;
    FaultCounter faults_;
    LinkSchedule link_;
    // When the input the handler is answering arrived; answers leave the latency after it.
    LinkSchedule::TimePoint inputArrived_{};
    bool hostBytesWaiting_ = false;
    // The host has held the port of the download under way; since when it has not.
    bool hostSeen_ = false;
    std::optional<platform::TimePoint> hostGoneSince_;
    std::string lastError_;
    std::filesystem::path registry_;
    bool stopping_ = false;
    bool started_ = false;
    int wakeFd_ = -1;
    std::thread thread_;
};

}  // namespace tapfix::sim
