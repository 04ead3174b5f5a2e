#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sim/device_state.hpp"
#include "sim/hdlc.hpp"

namespace tapfix::sim {

// What the router is running, and so what its USB port is called: its normal software, its
// boot stage (download mode: the boot loader or Sahara, as the profile says) or the flash
// programmer the boot stage was given. The programmer runs on the boot stage's port.
enum class DeviceMode { Normal, Download, Programmer };

// The protocol of the boot stage.
enum class BootProtocol { Dmss, Sahara };

// The USB link's pace, for benchmarks; all zero (the default) is as fast as the machine.
// Not scaled by TAPFIX_TIME_SCALE: it models the wire, not the device. LinkSchedule paces by it.
struct LinkModel {
    // From a request's arrival to its answer leaving (once per answer, however many frames).
    std::chrono::microseconds latency{0};
    // One wire for both directions; 0 is unlimited.
    double bytesPerSecond = 0;
    // Answers leave in packets of this many bytes (0: whole) with this gap between them.
    std::size_t packetSize = 0;
    std::chrono::microseconds packetGap{0};

    // How long `bytes` take on the wire at the rate.
    std::chrono::nanoseconds WireTime(std::size_t bytes) const;
};

std::string_view ModeName(DeviceMode mode);

// Device timings before TAPFIX_TIME_SCALE, and behaviour knobs that are not kept in the
// state file. The timings are a router's, estimated from what it goes through; none is there to
// make the host look fast or slow, and tapfix-sim can set each (README, "Programs").
struct DeviceProfile {
    // The port leaves once the host has read the answer that caused it, but not before
    // the first and not later than the second of these: the router lets the answer's USB
    // transfer complete and then restarts its USB side, about 0.1 s; an answer the host never
    // reads is given up after 2 s.
    std::chrono::milliseconds leaveAfterAnswer{100};
    std::chrono::milliseconds leaveAtLatest{2000};
    // From leaving the bus to the port of the next mode appearing. After a reset the new
    // firmware boots: the modem's boot chain and the Linux system on the application processor
    // until the diagnostics interface runs, about 8 s. After the switch the boot stage comes:
    // the chip restarts into its download mode, is enumerated again (USB 2.0: 100 ms connect
    // debounce, a 10-50 ms bus reset, 10 ms recovery, then descriptors) and the serial driver
    // binds; 1 to 3 s on these routers, modelled at the slow end.
    std::chrono::milliseconds rebootTime{8000};
    std::chrono::milliseconds downloaderTime{3000};
    // The programmer started by a jump or after Sahara's done runs on the boot stage's port,
    // unless it re-enumerates as a router with high-speed USB does: it then leaves the bus and
    // comes back as a new device, on a new port number, this long after leaving. It runs from
    // RAM at once; the time is its USB controller's set-up and a new enumeration, about 1 s.
    bool programmerReenumerates = false;
    std::chrono::milliseconds programmerStartTime{1000};
    // "Busy" answers the on-board backup service gives before its result.
    unsigned onboardBusyPolls = 2;

    BootProtocol boot = BootProtocol::Dmss;
    // The programmers of the firmware package ("narmprg.bin" for the boot loader,
    // "armprg.bin" for Sahara); the boot stage runs only what equals them. Empty: anything
    // with a programmer image header runs.
    Bytes dmssProgrammer;
    Bytes saharaProgrammer;
    // The image id Sahara asks for: 7, or 13 on devices that announce a pending image.
    std::uint32_t saharaImageId = 7;
    LinkModel link;
};

// Reads "narmprg.bin" and "armprg.bin" of a firmware folder into the profile; false with a
// reason when either cannot be read.
bool LoadProgrammers(const std::filesystem::path& folder, DeviceProfile& profile,
                     std::string* error);

class FaultCounter;

// What a mode handler may do to the device and its port. Handlers run on the router's
// thread with the state lock held, so they use State() freely.
class DeviceContext {
  public:
    virtual ~DeviceContext() = default;
    virtual DeviceState& State() = 0;
    virtual const DeviceProfile& Profile() const = 0;
    // Sends one answer framed (faults of the plan apply: silence, bad FCS, split).
    virtual void SendFrame(std::span<const std::uint8_t> payload, Opening opening) = 0;
    // Sends one answer framed, again each time the host has read it, until the host sends
    // something or the port goes (a device stuck in a loop).
    virtual void RepeatUntilInput(std::span<const std::uint8_t> payload, Opening opening) = 0;
    // Sends one unframed answer (Sahara); silence and split apply.
    virtual void SendRaw(std::span<const std::uint8_t> bytes) = 0;
    // The error byte the fault plan forces on this DIAG command, if any.
    virtual std::optional<std::uint8_t> InjectedDiagError(std::uint8_t command) const = 0;
    // The counted faults of the plan (boot-loader writes, transfer units, images).
    virtual FaultCounter& Faults() = 0;
    virtual void Trace(std::string_view event, nlohmann::json fields) = 0;
    // Leaves the bus once the host has read the last answer and comes back in `next` after
    // `delay` (scaled), possibly under another port number. `reason` names it in the trace;
    // "reset" is subject to the no-port-after-reset fault.
    virtual void Reenumerate(DeviceMode next, std::chrono::milliseconds delay,
                             std::string_view reason) = 0;
    // Goes on in another mode on the same port (a programmer started without re-enumerating),
    // once the current handler has returned; input after that point reaches the new handler.
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
    // A download is under way: a host that goes away now leaves the flash half-written.
    virtual bool Downloading() const { return false; }
    // The power is cut and comes back: what the state keeps of the work in progress. The
    // router then boots what its flash holds.
    virtual void PowerCycle(DeviceContext& context) { (void)context; }
};

// The one place that maps a mode to its handler.
std::unique_ptr<ModeHandler> CreateModeHandler(DeviceMode mode, const DeviceProfile& profile);

// The boot stage hands over to the programmer it accepted: on its own port, or by
// re-enumerating, as the profile says. The boot stage's handler hears nothing after this.
void HandOverToProgrammer(DeviceContext& context);

}  // namespace tapfix::sim
