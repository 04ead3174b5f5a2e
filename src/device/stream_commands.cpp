#include "device/stream_commands.hpp"

#include <algorithm>
#include <chrono>
#include <string_view>

#include "device/loader_exchange.hpp"
#include "device/quiet_wait.hpp"
#include "device/stream_protocol.hpp"

namespace tapfix::device {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kWriteFailure = "Write a Block of Data to Memory Failed, Since %s";
constexpr int kWriteTries = 5;
constexpr auto kWritePause = 1000ms;

// How much of the response record an accepted ready answer clears.
constexpr std::size_t kAnswerRecordSize = 1032;

// The extension answers are waited for by polls of the port, with a 10 ms pause after a
// poll that brought no such answer. Reads may block briefly themselves, so the wait is also
// bounded by the time its polls stand for.
class AnswerPolls {
  public:
    AnswerPolls(platform::Clock& clock, std::size_t polls)
        : clock_(clock),
          left_(polls),
          deadline_(clock.Now() + platform::ScaledTimeout(kPause * static_cast<long>(polls))) {}

    bool Next() {
        if (left_ == 0 || clock_.Now() >= deadline_) {
            return false;
        }
        --left_;
        return true;
    }
    void Pause() { clock_.Sleep(platform::ScaledInterval(kPause)); }

  private:
    static constexpr auto kPause = 10ms;
    platform::Clock& clock_;
    std::size_t left_;
    platform::TimePoint deadline_;
};

bool PutWriteRequest(link::CPacket& packet, std::span<const std::uint8_t> data,
                     std::uint32_t address) {
    packet.SetMode(link::MODE_STREAM);
    packet.Request()[0] = stream::kWrite;
    return loader::PutBlock(packet, address, data, kWriteFailure);
}

}  // namespace

bool StreamHello(link::CPacket& packet, std::string& flashId) {
    flashId.clear();
    loader::Begin(packet, link::MODE_STREAM, stream::kHello);
    std::ranges::fill(packet.HelloText(), 0);
    packet.SetHelloLength(0);
    if (!packet.Transact(1, 15000)) {
        return false;
    }
    if (packet.Response()[0] != stream::kHelloAnswer) {
        packet.SetLastError("the programmer did not answer the hello");
        return false;
    }
    const auto text = packet.HelloText().first(packet.HelloLength());
    flashId.assign(text.begin(), text.end());
    return true;
}

bool StreamSecurityMode(link::CPacket& packet, std::uint8_t mode) {
    loader::Begin(packet, link::MODE_STREAM, stream::kSecurityMode);
    packet.Request()[loader::kArgumentOffset] = mode;
    return loader::ExchangeStream(packet, 15000, "Cannot go into security, Since %s");
}

bool StreamPartitionTable(link::CPacket& packet, std::span<const std::uint8_t> table,
                          std::uint32_t overrideFlag) {
    constexpr std::string_view kFailure = "Cannot download partition, Since %s";
    loader::Begin(packet, link::MODE_STREAM, stream::kPartitionTable);
    packet.SetOverrideFlag(overrideFlag);
    if (!loader::PutCommandData(packet, table, kFailure)) {
        return false;
    }
    if (packet.Transact(3, 20000)) {
        return true;
    }
    // Asked for, or the device answered that it keeps its own table unless overridden: the
    // rebuilt request now carries the override.
    if (packet.OverrideFlag() != 0 && packet.Transact(3, 20000)) {
        return true;
    }
    return packet.FailWith(kFailure);
}

bool StreamOpenMultiImage(link::CPacket& packet, std::uint8_t imageType,
                          std::span<const std::uint8_t> header) {
    constexpr std::string_view kFailure = "Cannot open multi-image, Since %s";
    loader::Begin(packet, link::MODE_STREAM, stream::kOpenMultiImage);
    packet.Request()[loader::kArgumentOffset] = imageType;
    return loader::PutCommandData(packet, header, kFailure) &&
           loader::Exchange(packet, 3, 20000, kFailure);
}

bool StreamWrite(link::CPacket& packet, std::span<const std::uint8_t> data, std::uint32_t address,
                 platform::Clock& clock) {
    for (int attempt = 1; attempt <= kWriteTries; ++attempt) {
        packet.ResetBuffers();
        if (!PutWriteRequest(packet, data, address)) {
            return false;
        }
        if (loader::ExchangeStream(packet, 8000, kWriteFailure)) {
            return true;
        }
        if (attempt < kWriteTries) {
            clock.Sleep(platform::ScaledWait(kWritePause));
        }
    }
    return false;
}

std::size_t BuildStreamWriteFrame(link::CPacket& packet, std::span<const std::uint8_t> data,
                                  std::uint32_t address) {
    if (!PutWriteRequest(packet, data, address)) {
        return 0;
    }
    return packet.BuildFrame(0);
}

bool StreamNop(link::CPacket& packet) {
    loader::Begin(packet, link::MODE_STREAM, stream::kNop);
    return packet.Transact(1, 15000);
}

bool StreamReset(link::CPacket& packet) {
    loader::Begin(packet, link::MODE_STREAM, stream::kReset);
    return packet.Transact(3, 10000);
}

bool StreamClose(link::CPacket& packet) {
    loader::Begin(packet, link::MODE_STREAM, stream::kClose);
    return packet.TransactStream(10000);
}

bool DrainStreamAnswers(link::CPacket& packet) {
    packet.SetMode(link::MODE_STREAM);
    return packet.DrainFrames();
}

// The ready answer may take as long as the programmer needs to prepare the flash (erasing a
// partition before its first unit): the wait ends on silence, not after a count of polls.
bool WaitAnswerOk(link::CPacket& packet, std::uint8_t code, platform::Clock& clock) {
    packet.SetMode(link::MODE_STREAM);
    const auto record = packet.Response();
    QuietWait wait(clock, kProgrammerQuiet, kProgrammerPatience);
    bool ready = false;
    while (!ready && wait.Waiting()) {
        packet.ReceiveFrame();
        if (!packet.ReceivedBytes().empty()) {
            wait.Progress();
        }
        if (record[0] != code) {
            wait.Pause();
            continue;
        }
        ready = record[1] == 1;
        // Another status is not the ready answer; the next poll follows at once.
        record[0] = 0;
    }
    std::fill_n(record.begin(), kAnswerRecordSize, 0);
    return ready;
}

bool WaitAnswerStatus(link::CPacket& packet, std::uint8_t code, unsigned seconds,
                      UnitStatus& status, platform::Clock& clock) {
    packet.SetMode(link::MODE_STREAM);
    const auto record = packet.Response();
    AnswerPolls polls(clock, static_cast<std::size_t>(seconds) * 1000);
    status = UnitStatus::None;
    bool answered = false;
    while (polls.Next()) {
        packet.ReceiveFrame();
        if (record[0] != code) {
            polls.Pause();
            continue;
        }
        if (record[1] == 0) {
            status = record[2] == 1 ? UnitStatus::Accepted : UnitStatus::ChecksumMismatch;
            answered = true;
        } else if (record[1] == 1) {
            status = UnitStatus::DeviceFailure;
        }
        break;
    }
    // Consumed: a later wait must not take this answer for a new one.
    record[0] = 0;
    return answered;
}

}  // namespace tapfix::device
