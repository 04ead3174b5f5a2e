#include "session/image_transfers.hpp"

#include <algorithm>
#include <chrono>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "device/quiet_wait.hpp"
#include "device/stream_commands.hpp"
#include "device/stream_protocol.hpp"
#include "link/wire.hpp"
#include "session/device_operations.hpp"
#include "session/download_service.hpp"
#include "session/file_bytes.hpp"

namespace tapfix::session {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kBlock = 1024;
constexpr int kPoints = 70;
constexpr int kPipelinedPoints = 80;
constexpr std::size_t kPipelineDepth = 4;
constexpr std::chrono::milliseconds kPipelineTimeout = 15000ms;
constexpr int kFinalDrains = 3;
constexpr std::size_t kMaxMissed = 5999;
// Many missed writes mean a device that fell behind: give it time before the resends.
constexpr std::size_t kManyMissed = 65;
constexpr std::uint64_t kAckGranule = device::stream::kAckGranule;
constexpr std::size_t kChecksumSize = 4;
constexpr std::string_view kNoCloseImage = "partition.bin";

// The two raw-unit transfers differ only in these.
struct RawVariant {
    std::uint8_t announce;
    std::uint8_t answer;
    std::uint64_t unitSize;
    unsigned statusSeconds;
    bool hintOpenFailure;
};
constexpr RawVariant kChecksummed{device::stream::kChecksumTransfer,
                                  device::stream::kChecksumAnswer, 128 * 1024, 2, false};
constexpr RawVariant kHighSpeed{device::stream::kHighSpeedTransfer,
                                device::stream::kHighSpeedAnswer, 32 * 1024 * 1024, 60, true};

// What every transfer does with the job's service and link.
class Transfer {
  public:
    explicit Transfer(const ImageJob& job)
        : job_(job), service_(job.service), link_(job.service.Link(job.slot)) {}

    // Opens the entry's file; false (with a log line) when it cannot be read or is too long
    // for 32-bit addresses.
    bool OpenFile() {
        if (!file_.Open(job_.entry.path)) {
            service_.LogLine(job_.slot, "Cannot open " + job_.entry.path.string());
            return false;
        }
        if (file_.Length() > std::numeric_limits<std::uint32_t>::max()) {
            service_.LogLine(job_.slot, job_.entry.path.string() + " is 4 GiB or more");
            return false;
        }
        return true;
    }
    std::uint64_t Length() const { return file_.Length(); }
    // The progress of this image, over its share of `points`.
    ProgressMeter Meter(int points) {
        return ProgressMeter(service_, job_.slot, job_.progress,
                             NextProgressRange(job_.progress, job_.entry.size, points));
    }
    bool Close() { return service_.Device().RunSlotCommand(op::kStreamClose, job_.slot) == 0; }
    bool ReadBlock(std::uint64_t offset, std::vector<std::uint8_t>& block) {
        block.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, Length() - offset)));
        return file_.ReadAt(offset, block);
    }
    // The file in blocks of 1,024 bytes, each handed to `write` with its file offset as its
    // address; the bar moves a point every so many blocks.
    template <typename Write>
    bool WriteBlocks(ProgressMeter& meter, Write write) {
        const std::uint64_t blocksPerPoint = UnitsPerPoint(Length() / kBlock, meter.Range());
        std::vector<std::uint8_t> block;
        std::uint64_t count = 0;
        for (std::uint64_t offset = 0; offset < Length(); offset += kBlock) {
            if (!ReadBlock(offset, block) || !write(block, static_cast<std::uint32_t>(offset))) {
                return false;
            }
            if (++count % blocksPerPoint == 0) {
                meter.Advance();
            }
        }
        return true;
    }
    bool CloseAndFinish(ProgressMeter& meter) {
        if (!Close()) {
            return false;
        }
        meter.Finish();
        return true;
    }
    bool Fail(std::string_view reason) {
        link_.SetLastError(reason);
        service_.LogLine(job_.slot, reason);
        return false;
    }
    bool HintFailure(std::string_view key) {
        service_.HintKey(job_.slot, key);
        return false;
    }
    void Pause(std::chrono::milliseconds duration) {
        service_.Clock().Sleep(platform::ScaledWait(duration));
    }

  protected:
    const ImageJob& job_;
    CDownloadService& service_;
    link::CPacket& link_;
    ImageFile file_;
};

class NormalWriter : public Transfer {
  public:
    using Transfer::Transfer;

    bool Run() {
        if (!OpenFile()) {
            return false;
        }
        ProgressMeter meter = Meter(kPoints);
        return WriteBlocks(meter,
                           [&](std::span<const std::uint8_t> block, std::uint32_t address) {
                               return device::StreamWrite(link_, block, address, service_.Clock());
                           }) &&
               CloseAndFinish(meter);
    }
};

class PipelinedWriter : public Transfer {
  public:
    using Transfer::Transfer;

    bool Run() {
        if (!OpenFile()) {
            return false;
        }
        ProgressMeter meter = Meter(kPipelinedPoints);
        return WriteBlocks(meter,
                           [&](std::span<const std::uint8_t> block, std::uint32_t address) {
                               return Send(block, address) && KeepPipelineShort();
                           }) &&
               CollectLastAcknowledgements() && Resend() && CloseAndFinish(meter);
    }

  private:
    bool Send(std::span<const std::uint8_t> block, std::uint32_t address) {
        // A short write leaves the link's send-failure text. Nothing is purged: the
        // acknowledgements of the writes before are still arriving, and a purge would make
        // those writes missed and sent again.
        if (device::BuildStreamWriteFrame(link_, block, address) == 0 ||
            !link_.QueueTransmitBuffer()) {
            return false;
        }
        written_ = service_.Clock().Now();
        pending_.push_back(address);
        return true;
    }

    bool KeepPipelineShort() {
        const auto limit = platform::ScaledTimeout(kPipelineTimeout);
        while (pending_.size() > kPipelineDepth) {
            if (!Drain()) {
                return false;
            }
            if (service_.Clock().Now() - written_ >= limit) {
                return Fail("The device did not acknowledge the pipelined writes");
            }
        }
        return true;
    }

    bool CollectLastAcknowledgements() {
        for (int round = 0; round < kFinalDrains && !pending_.empty(); ++round) {
            Pause(150ms);
            if (!Drain()) {
                return false;
            }
        }
        missed_.insert(missed_.end(), pending_.begin(), pending_.end());
        pending_.clear();
        return MissedFit();
    }

    // Reads what the device answered and takes the acknowledged writes off the pending list;
    // writes passed over by an acknowledgement count as missed.
    bool Drain() {
        service_.Device().RunSlotCommand(op::kDrainStreamAnswers, job_.slot);
        for (const std::uint32_t address : link_.AckedAddresses()) {
            const auto found = std::find(pending_.begin(), pending_.end(), address);
            if (found != pending_.end()) {
                missed_.insert(missed_.end(), pending_.begin(), found);
                pending_.erase(pending_.begin(), found + 1);
            }
        }
        return MissedFit();
    }

    bool MissedFit() {
        return missed_.size() <= kMaxMissed ||
               Fail("More than " + std::to_string(kMaxMissed) + " pipelined writes were missed");
    }

    bool Resend() {
        if (missed_.size() >= kManyMissed) {
            Pause(2000ms);
        }
        std::vector<std::uint8_t> block;
        return std::all_of(missed_.begin(), missed_.end(), [&](std::uint32_t address) {
            return ReadBlock(address, block) &&
                   device::StreamWrite(link_, block, address, service_.Clock());
        });
    }

    std::deque<std::uint32_t> pending_;
    std::vector<std::uint32_t> missed_;
    platform::TimePoint written_{};
};

// The image in raw units, each followed by its checksum: the device says it is ready, takes
// the unit, answers its status and then acknowledges the addresses it wrote.
class RawUnitWriter : public Transfer {
  public:
    RawUnitWriter(const ImageJob& job, const RawVariant& variant)
        : Transfer(job), variant_(variant) {}

    bool Run() {
        if (!OpenFile()) {
            if (variant_.hintOpenFailure) {
                service_.LogHint(job_.slot, "open file fail!");
            }
            return false;
        }
        ProgressMeter meter = Meter(kPoints);
        const ProgressRange range = meter.Range();
        const std::uint64_t units = (Length() + variant_.unitSize - 1) / variant_.unitSize;
        const int points = std::max(1, range.end - range.start);
        granulesPerPoint_ =
            std::max<std::uint64_t>(1, ((Length() / kAckGranule) + points - 1) / points);
        if (!link_.SendOnly(variant_.announce, static_cast<std::uint32_t>(Length()))) {
            return HintFailure("ID_ERROR_HSDL");
        }
        for (std::uint64_t i = 0; i < units; ++i) {
            const std::uint64_t offset = i * variant_.unitSize;
            const std::uint64_t size = std::min(variant_.unitSize, Length() - offset);
            if (!ReadUnit(offset, size) || !SendUnit()) {
                return false;
            }
            meter.ShowAtLeast(
                range.start +
                static_cast<int>(static_cast<std::uint64_t>(range.end - range.start) * i / units));
            if (!AwaitAcknowledgements(offset, size, meter)) {
                service_.HintKey(job_.slot, "ID_ERROR_ADRESSRSP");
                service_.LogLine(job_.slot, service_.Text("ID_HINT_THREAD") +
                                                std::to_string(job_.slot) + ": " +
                                                service_.Text("ID_ERROR_ADRESSRSP"));
                return false;
            }
        }
        if (ClosesAfterwards() && !Close()) {
            service_.LogHint(job_.slot, "HSDLmainFunc ClosePacket Fail");
            return false;
        }
        meter.Finish();
        return true;
    }

  private:
    // The partition image ends with its last unit: the programmer closes it by itself.
    bool ClosesAfterwards() const {
        return job_.entry.path.filename().string().find(kNoCloseImage) == std::string::npos;
    }

    bool ReadUnit(std::uint64_t offset, std::uint64_t size) {
        // Room for the checksum too, so appending it never moves the unit.
        unit_.reserve(static_cast<std::size_t>(size) + kChecksumSize);
        unit_.resize(static_cast<std::size_t>(size));
        if (!file_.ReadAt(offset, unit_)) {
            return Fail("Cannot read " + job_.entry.path.string());
        }
        wire::AppendLe32(unit_, UnitChecksum(unit_));
        return true;
    }

    // Sends the unit until the device accepts it: one resend after a checksum mismatch.
    bool SendUnit() {
        for (bool resent = false;; resent = true) {
            if (!device::WaitAnswerOk(link_, variant_.answer, service_.Clock())) {
                return HintFailure("ID_ERROR_HANDSHAKE");
            }
            if (!WriteUnit()) {
                return HintFailure("ID_ERROR_HSSENDDATA");
            }
            device::UnitStatus status = device::UnitStatus::None;
            const bool answered = device::WaitAnswerStatus(
                link_, variant_.answer, variant_.statusSeconds, status, service_.Clock());
            if (status == device::UnitStatus::DeviceFailure) {
                return HintFailure("ID_ERROR_CAL1");
            }
            if (!answered) {
                return HintFailure("ID_ERROR_NORESPONSE");
            }
            if (status == device::UnitStatus::Accepted) {
                return true;
            }
            if (resent) {
                return HintFailure("ID_ERROR_CAL3");
            }
            service_.HintKey(job_.slot, "ID_ERROR_CAL2");
            service_.LogHint(job_.slot, service_.Text("ID_HINT_DOWNSDPFILE") +
                                            job_.entry.path.stem().string() + "...");
        }
    }

    bool WriteUnit() {
        if (link_.WriteRaw(unit_)) {
            return true;
        }
        Pause(200ms);
        return link_.WriteRaw(unit_);
    }

    // Follows the addresses the device confirms until the unit's last one; inside a unit
    // larger than one granule every granule boundary counts toward the progress. Only an
    // address beyond those confirmed before is progress: a device that keeps confirming old
    // addresses is stopped by the quiet period like a silent one.
    bool AwaitAcknowledgements(std::uint64_t offset, std::uint64_t size, ProgressMeter& meter) {
        const std::uint64_t last = offset + size - 1;
        device::QuietWait wait(service_.Clock(), device::kProgrammerQuiet,
                               device::kProgrammerPatience);
        std::optional<std::uint64_t> highest;
        while (wait.Waiting()) {
            link_.ReceiveFrame();
            const auto acked = link_.AckedAddresses();
            // A poll that brought part of a frame goes on at once: the rest is arriving.
            if (acked.empty() && link_.ReceivedBytes().empty()) {
                wait.Pause();
            }
            for (const std::uint32_t address : acked) {
                if (highest && address <= *highest) {
                    continue;
                }
                highest = address;
                wait.Progress();
                if (size > kAckGranule && address % kAckGranule == 0 &&
                    ++granules_ % granulesPerPoint_ == 0) {
                    meter.Advance();
                }
                if (address >= last) {
                    return true;
                }
            }
        }
        return false;
    }

    const RawVariant& variant_;
    std::vector<std::uint8_t> unit_;
    std::uint64_t granules_ = 0;
    std::uint64_t granulesPerPoint_ = 1;
};

}  // namespace

std::uint32_t UnitChecksum(std::span<const std::uint8_t> unit) {
    std::uint32_t sum = 0;
    std::size_t offset = 0;
    // The words are put together here rather than read through the checked reader: the loop
    // bounds them, and the compiler can then sum many at once (a 32 MiB unit is read whole
    // before it goes out).
    for (; offset + 4 <= unit.size(); offset += 4) {
        sum += static_cast<std::uint32_t>(unit[offset]) |
               static_cast<std::uint32_t>(unit[offset + 1]) << 8 |
               static_cast<std::uint32_t>(unit[offset + 2]) << 16 |
               static_cast<std::uint32_t>(unit[offset + 3]) << 24;
    }
    // A last group of one to three bytes counts as a word holding just those bytes.
    for (std::size_t shift = 0; offset < unit.size(); ++offset, shift += 8) {
        sum += static_cast<std::uint32_t>(unit[offset]) << shift;
    }
    return sum;
}

bool NormalTransfer(const ImageJob& job) {
    return NormalWriter(job).Run();
}

bool PipelinedTransfer(const ImageJob& job) {
    return PipelinedWriter(job).Run();
}

bool HighSpeedTransfer(const ImageJob& job) {
    return RawUnitWriter(job, kHighSpeed).Run();
}

bool ChecksummedTransfer(const ImageJob& job) {
    return RawUnitWriter(job, kChecksummed).Run();
}

}  // namespace tapfix::session
