#include "scripted_device.hpp"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "device/command_set.hpp"
#include "platform/clock.hpp"
#include "scratch_folder.hpp"

namespace tapfix::fuzz {
namespace {

using namespace std::chrono_literals;

constexpr int kPortNumber = 1;
constexpr int kPollMs = 2;
constexpr std::size_t kQuietPollsBeforeSpeaking = 2;
constexpr int kWritePatienceMs = 200;
// A host that does not take the last answer is not waited for longer than this.
constexpr auto kLeavePatience = 200ms;

// One private port registry for the process; the host finds the device's port there.
const std::filesystem::path& Registry() {
    static const std::filesystem::path registry = [] {
        const std::filesystem::path folder = ScratchFolder() / "ports";
        std::filesystem::create_directory(folder);
        ::setenv("TAPFIX_PORTS_DIR", folder.c_str(), 1);
        // Time-outs keep their 200 ms floor; the settle intervals shrink to 1 ms.
        platform::SetTimeScale(0.001);
        return folder;
    }();
    return registry;
}

}  // namespace

ScriptedDevice::ScriptedDevice(Requests requests, std::vector<Turn> turns, bool speaksFirst)
    : requests_(requests), turns_(std::move(turns)), speaksFirst_(speaksFirst) {
    std::string error;
    if (::pipe2(wake_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        wake_ = {-1, -1};
    }
    if (!port_.Appear(Registry(), kPortNumber, "Fuzz Diagnostics 9025", {}, &error)) {
        std::fprintf(stderr, "no scripted device: %s\n", error.c_str());
        return;
    }
    device::AttachCommandSet(host_);
    ready_ = host_.OpenPort(kPortNumber);
    if (ready_) {
        server_ = std::thread([this] { Serve(); });
    }
}

ScriptedDevice::~ScriptedDevice() {
    stopping_ = true;
    // Wakes the server from its poll at once (it would notice within one poll anyway).
    [[maybe_unused]] const ssize_t woken = ::write(wake_[1], "", 1);
    if (server_.joinable()) {
        server_.join();
    }
    host_.ClosePort();
    port_.Leave();
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void ScriptedDevice::Serve() {
    if (speaksFirst_ && next_ < turns_.size()) {
        Play(turns_[next_++]);
    }
    std::size_t quietPolls = 0;
    while (!stopping_ && next_ < turns_.size()) {
        std::size_t requests = RequestsArrived();
        quietPolls = requests == 0 ? quietPolls + 1 : 0;
        // Answers that follow raw data or another answer come unasked; a host that waits
        // for one gets the next turn once the line has been quiet for a while.
        if (quietPolls == kQuietPollsBeforeSpeaking) {
            requests = 1;
            quietPolls = 0;
        }
        for (; requests > 0 && next_ < turns_.size(); --requests) {
            Play(turns_[next_++]);
        }
    }
    LeaveOnceHostHasRead();
}

std::size_t ScriptedDevice::RequestsArrived() {
    pollfd entries[] = {{port_.MasterFd(), POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(entries, 2, kPollMs) <= 0 || (entries[0].revents & POLLIN) == 0) {
        return 0;
    }
    std::uint8_t chunk[4096];
    const std::size_t got = port_.Read(chunk);
    if (requests_ == Requests::Raw) {
        return got > 0 ? 1 : 0;
    }
    deframer_.Push({chunk, got});
    std::size_t frames = 0;
    while (deframer_.Next()) {
        ++frames;
    }
    return frames;
}

void ScriptedDevice::Play(const Turn& turn) {
    for (const Bytes& write : turn) {
        port_.Write(write, kWritePatienceMs);
    }
}

// Leaving at once could take the last answer from the host's queue before it was read.
void ScriptedDevice::LeaveOnceHostHasRead() {
    const auto deadline = std::chrono::steady_clock::now() + kLeavePatience;
    while (!stopping_ && port_.BytesUnreadByHost() > 0 &&
           std::chrono::steady_clock::now() < deadline) {
        platform::SystemClock().Sleep(1ms);
    }
    port_.Leave();
}

}  // namespace tapfix::fuzz
