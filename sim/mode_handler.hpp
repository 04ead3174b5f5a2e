#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sim/device_state.hpp"
#include "sim/hdlc.hpp"

namespace tapfix::sim {

// What the router is running, and so what its USB port is called. Further stages of the
// download side (boot loader, Sahara, flash programmer) join here as their handlers appear.
enum class DeviceMode { Normal, Download };

std::string_view ModeName(DeviceMode mode);

// Device timings before TAPFIX_TIME_SCALE, and behaviour knobs that are not kept in the
// state file.
struct DeviceProfile {
    // The port leaves once the host has read the answer that caused it, but not before
    // the first and not later than the second of these.
    std::chrono::milliseconds leaveAfterAnswer{100};
    std::chrono::milliseconds leaveAtLatest{2000};
    // From leaving the bus to the port of the next mode appearing.
    std::chrono::milliseconds rebootTime{8000};
    std::chrono::milliseconds downloaderTime{3000};
    // "Busy" answers the on-board backup service gives before its result.
    unsigned onboardBusyPolls = 2;
};

// What a mode handler may do to the device and its port. Handlers run on the router's
// thread with the state lock held, so they use State() freely.
class DeviceContext {
  public:
    virtual ~DeviceContext() = default;
    virtual DeviceState& State() = 0;
    virtual const DeviceProfile& Profile() const = 0;
    // Sends one answer framed (faults of the plan apply: silence, bad FCS, split).
    virtual void SendFrame(std::span<const std::uint8_t> payload, Opening opening) = 0;
    // Sends one unframed answer (Sahara); silence and split apply.
    virtual void SendRaw(std::span<const std::uint8_t> bytes) = 0;
    // The error byte the fault plan forces on this DIAG command, if any.
    virtual std::optional<std::uint8_t> InjectedDiagError(std::uint8_t command) const = 0;
    virtual void Trace(std::string_view event, nlohmann::json fields) = 0;
    // Leaves the bus once the host has read the last answer and comes back in `next` after
    // `delay` (scaled), possibly under another port number. `reason` names it in the trace;
    // "reset" is subject to the no-port-after-reset fault.
    virtual void Reenumerate(DeviceMode next, std::chrono::milliseconds delay,
                             std::string_view reason) = 0;
    // Goes on in another mode on the same port (a programmer started without re-enumerating).
    virtual void ContinueIn(DeviceMode next) = 0;
};

// One behaviour of the device on its port. A new handler is made every time the mode's port
// appears, so whatever a handler holds lasts one boot.
class ModeHandler {
  public:
    virtual ~ModeHandler() = default;
    virtual DeviceMode Mode() const = 0;
    // The port's display name without " (COMn)".
    virtual std::string PortDescription() const = 0;
    // The port has just appeared (a device that speaks first speaks here).
    virtual void OnAttach(DeviceContext& context) { (void)context; }
    // Bytes from the host, in whatever chunks the line delivered them.
    virtual void OnBytes(std::span<const std::uint8_t> bytes, DeviceContext& context) = 0;
};

// The one place that maps a mode to its handler.
std::unique_ptr<ModeHandler> CreateModeHandler(DeviceMode mode);

}  // namespace tapfix::sim
