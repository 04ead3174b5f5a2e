#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

#include "fuzz_input.hpp"
#include "link/packet.hpp"
#include "sim/hdlc.hpp"
#include "sim/pty_port.hpp"

namespace tapfix::fuzz {

// A device on a pseudo-terminal that answers the host with a script taken from the fuzzer's
// input and then leaves the bus, so the host never waits out a time-out. Each request gets
// the next turn; a host that only listens gets it once the line has been quiet for 4 ms.
// The host end is a link with the command set installed, opened on the device's port.
class ScriptedDevice {
  public:
    // How the device tells one request from the next: by the frame's closing flag, or (Sahara)
    // by each write of the host.
    enum class Requests { Framed, Raw };
    // One turn: the device's writes, one after another, in answer to one request.
    using Turn = std::vector<Bytes>;

    // A device that speaks first sends turn 0 as soon as the host has the port open.
    ScriptedDevice(Requests requests, std::vector<Turn> turns, bool speaksFirst);
    ~ScriptedDevice();
    ScriptedDevice(const ScriptedDevice&) = delete;
    ScriptedDevice& operator=(const ScriptedDevice&) = delete;

    // False when the pseudo-terminal or the host's open failed (nothing to fuzz then).
    bool Ready() const { return ready_; }
    link::CPacket& Host() { return host_; }

  private:
    void Serve();
    // The whole requests that have arrived (0 after a quiet poll).
    std::size_t RequestsArrived();
    void Play(const Turn& turn);
    void LeaveOnceHostHasRead();

    Requests requests_;
    std::vector<Turn> turns_;
    std::size_t next_ = 0;
    bool speaksFirst_;
    sim::PtyPort port_;
    sim::Deframer deframer_;
    link::CPacket host_;
    bool ready_ = false;
    std::atomic<bool> stopping_{false};
    std::array<int, 2> wake_{-1, -1};
    std::thread server_;
};

}  // namespace tapfix::fuzz
