#include "sim/programmer.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include "link/wire.hpp"
#include "sim/diag_common.hpp"
#include "sim/faults.hpp"

namespace tapfix::sim {
namespace {

enum Command : std::uint8_t {
    kHello = 0x01,
    kHelloAnswer = 0x02,
    kWrite = 0x07,
    kBlockWritten = 0x08,
    kNop = 0x09,
    kNopAnswer = 0x0A,
    kReset = 0x0B,
    kResetAnswer = 0x0C,
    kError = 0x0D,
    kClose = 0x15,
    kClosed = 0x16,
    kSecurityMode = 0x17,
    kSecurityModeAnswer = 0x18,
    kPartitionTable = 0x19,
    kPartitionTableAnswer = 0x1A,
    kOpenMultiImage = 0x1B,
    kOpened = 0x1C,
    kHighSpeed = 0x1D,
    kHighSpeedAnswer = 0x1E,
    kChecksummed = 0x28,
    kChecksummedAnswer = 0x29,
};

enum ErrorCode : std::uint32_t {
    kInvalidAddress = 2,
    kInvalidLength = 3,
    kInvalidCommand = 5,
    kOutOfSequence = 15,
    kOutOfSpace = 18,
};

enum TableStatus : std::uint8_t { kTableAccepted = 0, kTableDiffers = 1, kTableMalformed = 2 };

// Answers to a raw unit: ready for it, its status (accepted / checksum mismatch), failure.
constexpr std::uint8_t kUnitReady = 0x01;
constexpr std::uint8_t kUnitStatus = 0x00;
constexpr std::uint8_t kUnitAccepted = 0x01;
constexpr std::uint8_t kUnitMismatch = 0x02;
constexpr std::uint8_t kUnitFailed = 0x01;

constexpr std::uint8_t kFlag = 0x7E;
constexpr std::uint64_t kChecksummedUnit = 128 * 1024;
constexpr std::uint64_t kHighSpeedUnit = 32 * 1024 * 1024;
constexpr std::uint64_t kAckGranule = 128 * 1024;
constexpr std::size_t kChecksumSize = 4;
constexpr std::uint32_t kMaxBlock = 1024;

constexpr std::string_view kHostHello = "QCOM fast download protocol host";
constexpr std::string_view kTargetHello = "QCOM fast download protocol targ";
constexpr std::string_view kFlashId = "TFX NAND 512MiB 2K-page";
constexpr std::uint8_t kProtocolVersion = 2;
constexpr std::uint8_t kFeatureBits = 3;

// The partition holding the modem image, whose build id the booted firmware reports.
constexpr std::string_view kModemPartition = "0:DSP2";
// Image types this programmer opens without a name; 0x0E opens a partition by its name.
constexpr std::pair<std::uint8_t, std::string_view> kImageTypes[] = {
    {0x06, "0:APPS"}, {0x09, "0:EFS2"}, {0x0A, "0:APPSBL"}, {0x0D, "0:DSP1"},
    {0x0F, "0:SBL1"}, {0x10, "0:SBL2"}, {0x12, "0:DSP2"},   {0x14, "0:RPM"},
};

Bytes ErrorAnswer(std::uint32_t code, nlohmann::json& record) {
    record["error"] = code;
    Bytes answer{kError};
    wire::AppendLe32(answer, code);
    return answer;
}

std::optional<std::string_view> PartitionOfType(std::uint8_t type) {
    for (const auto& [known, name] : kImageTypes) {
        if (known == type) {
            return name;
        }
    }
    return std::nullopt;
}

// The open request's payload as a partition name: printable text up to the first zero.
std::string NameIn(std::span<const std::uint8_t> payload) {
    const auto end = std::find(payload.begin(), payload.end(), 0);
    const bool printable =
        std::all_of(payload.begin(), end, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
    return printable ? std::string(payload.begin(), end) : std::string();
}

Bytes HelloAnswer() {
    Bytes answer{kHelloAnswer};
    answer.insert(answer.end(), kTargetHello.begin(), kTargetHello.end());
    answer.insert(answer.end(), {kProtocolVersion, kProtocolVersion});
    wire::AppendLe32(answer, kMaxBlock);
    wire::AppendLe32(answer, 0);  // flash base address
    answer.push_back(static_cast<std::uint8_t>(kFlashId.size()));
    answer.insert(answer.end(), kFlashId.begin(), kFlashId.end());
    wire::AppendLe16(answer, 1);  // window: one request in flight
    wire::AppendLe16(answer, 0);  // no sector list
    answer.push_back(kFeatureBits);
    return answer;
}

}  // namespace

void ProgrammerHandler::OnAttach(DeviceContext& context) {
    if (auto table = flash::ParsePartitionTable(context.State().partitionTable)) {
        partitions_ = std::move(*table);
    }
    context.Trace("programmer", {{"partitions", partitions_.size()}});
}

void ProgrammerHandler::OnBytes(std::span<const std::uint8_t> bytes, DeviceContext& context) {
    while (!bytes.empty() && !halted_ && !hung_) {
        if (transfer_) {
            bytes = TakeRaw(bytes, context);
            continue;
        }
        // Up to the next flag only: after an announcement the bytes that follow are raw.
        const auto flag = std::find(bytes.begin(), bytes.end(), kFlag);
        const std::size_t count =
            flag == bytes.end() ? bytes.size() : static_cast<std::size_t>(flag - bytes.begin()) + 1;
        deframer_.Push(bytes.first(count));
        bytes = bytes.subspan(count);
        if (const std::size_t dropped = deframer_.TakeOverflow(); dropped > 0) {
            context.Trace(
                "dropped",
                {{"mode", "programmer"}, {"reason", "frame too long"}, {"bytes", dropped}});
        }
        while (auto frame = deframer_.Next()) {
            if (!frame->crcGood || frame->payload.empty()) {
                context.Trace("dropped", {{"mode", "programmer"},
                                          {"reason", frame->crcGood ? "empty frame" : "bad FCS"}});
                continue;
            }
            Serve(frame->payload, context);
        }
    }
}

void ProgrammerHandler::Serve(std::span<const std::uint8_t> request, DeviceContext& context) {
    nlohmann::json record = {{"mode", "programmer"}, {"cmd", diag::HexByte(request[0])}};
    const Bytes answer = Dispatch(request, record, context);
    context.Trace("request", std::move(record));
    // No answer when the power failed under the request.
    if (!answer.empty()) {
        context.SendFrame(answer, Opening::Flag);
    }
}

Bytes ProgrammerHandler::Dispatch(std::span<const std::uint8_t> request, nlohmann::json& record,
                                  DeviceContext& context) {
    const std::uint8_t code = request[0];
    if (!greeted_ && code != kHello && code != kNop && code != kReset) {
        record["name"] = "before_hello";
        return ErrorAnswer(kOutOfSequence, record);
    }
    switch (code) {
        case kHello:
            record["name"] = "hello";
            return Hello(request);
        case kNop:
            record["name"] = "nop";
            return {kNopAnswer};
        case kSecurityMode:
            record["name"] = "security_mode";
            record["security"] = wire::ReadU8(request, 1).value_or(0);
            return {kSecurityModeAnswer};
        case kPartitionTable:
            record["name"] = "partition_table";
            return PartitionTable(request, record, context);
        case kOpenMultiImage:
            record["name"] = "open_multi_image";
            return Open(request, record, context);
        case kWrite:
            record["name"] = "write";
            return Write(request, record, context);
        case kChecksummed:
        case kHighSpeed:
            record["name"] = code == kChecksummed ? "checksummed_transfer" : "high_speed_transfer";
            return Announce(request, record, context);
        case kClose:
            record["name"] = "close";
            CloseImage(context);
            return {kClosed};
        case kReset:
            record["name"] = "reset";
            return Reset(context);
        default:
            record["name"] = "unsupported";
            return ErrorAnswer(kInvalidCommand, record);
    }
}

Bytes ProgrammerHandler::Hello(std::span<const std::uint8_t> request) {
    const auto magic = request.subspan(1, std::min(request.size() - 1, kHostHello.size()));
    if (!std::equal(magic.begin(), magic.end(), kHostHello.begin(), kHostHello.end())) {
        nlohmann::json ignored;
        return ErrorAnswer(kInvalidCommand, ignored);
    }
    greeted_ = true;
    return HelloAnswer();
}

Bytes ProgrammerHandler::PartitionTable(std::span<const std::uint8_t> request,
                                        nlohmann::json& record, DeviceContext& context) {
    const bool override = wire::ReadU8(request, 1).value_or(0) != 0;
    const auto table = request.subspan(std::min<std::size_t>(2, request.size()));
    DeviceState& state = context.State();
    auto partitions = flash::ParsePartitionTable(table);
    std::uint8_t status = kTableAccepted;
    if (!partitions) {
        status = kTableMalformed;
    } else if (!std::equal(table.begin(), table.end(), state.partitionTable.begin(),
                           state.partitionTable.end())) {
        if (override) {
            // The layout moves: the flash is erased, and EFS2 with it.
            state.partitionTable.assign(table.begin(), table.end());
            state.flash.clear();
            flash::WipeCalibration(state);
            partitions_ = std::move(*partitions);
            tableRewritten_ = true;
            record["rewritten"] = true;
            record["kept_items"] = state.onboardBackup.size();
        } else {
            status = kTableDiffers;
        }
    }
    record["override"] = override;
    record["status"] = status;
    return {kPartitionTableAnswer, status};
}

const flash::Partition* ProgrammerHandler::FindPartition(std::string_view name) const {
    const auto found = std::find_if(partitions_.begin(), partitions_.end(),
                                    [&](const auto& partition) { return partition.name == name; });
    return found == partitions_.end() ? nullptr : &*found;
}

Bytes ProgrammerHandler::Open(std::span<const std::uint8_t> request, nlohmann::json& record,
                              DeviceContext& context) {
    CloseImage(context);
    const std::uint8_t type = wire::ReadU8(request, 1).value_or(0);
    const auto payload = request.subspan(std::min<std::size_t>(2, request.size()));
    record["type"] = diag::HexByte(type);
    const flash::Partition* partition = FindPartition(NameIn(payload));
    Bytes header;
    if (partition != nullptr) {
        record["by"] = "name";
    } else if (const auto typed = PartitionOfType(type)) {
        partition = FindPartition(*typed);
        record["by"] = payload.empty() ? "type" : "header";
        header.assign(payload.begin(), payload.end());
    }
    if (partition == nullptr) {
        return ErrorAnswer(kInvalidAddress, record);
    }
    record["partition"] = partition->name;
    const ImageFate fate = context.Faults().NextImage();
    if (fate.hangs) {
        context.Trace("fault", {{"fault", "hang"}, {"partition", partition->name}});
        hung_ = true;
        return {};
    }
    image_ = OpenImage{partition->name, partition->capacity, fate, {}};
    if (!header.empty()) {
        // A header that is the whole image: it is written as it comes.
        const StoreResult stored = Store(0, header, context);
        if (stored != StoreResult::Stored) {
            return stored == StoreResult::NoRoom ? ErrorAnswer(kOutOfSpace, record) : Bytes{};
        }
    }
    return {kOpened, 0};
}

Bytes ProgrammerHandler::Write(std::span<const std::uint8_t> request, nlohmann::json& record,
                               DeviceContext& context) {
    const auto address = wire::ReadLe32(request, 1);
    if (!address || request.size() - 5 > kMaxBlock) {
        return ErrorAnswer(kInvalidLength, record);
    }
    record["address"] = *address;
    if (!image_) {
        return ErrorAnswer(kOutOfSequence, record);
    }
    switch (Store(*address, request.subspan(5), context)) {
        case StoreResult::Stored: {
            Bytes answer{kBlockWritten};
            wire::AppendLe32(answer, *address);
            return answer;
        }
        case StoreResult::NoRoom:
            return ErrorAnswer(kOutOfSpace, record);
        case StoreResult::PowerLost:
            break;
    }
    return {};
}

Bytes ProgrammerHandler::Announce(std::span<const std::uint8_t> request, nlohmann::json& record,
                                  DeviceContext& context) {
    const std::uint8_t code = request[0];
    const auto total = wire::ReadBe32(request, 5);
    if (!total) {
        return ErrorAnswer(kInvalidLength, record);
    }
    record["length"] = *total;
    if (!image_) {
        return ErrorAnswer(kOutOfSequence, record);
    }
    if (*total == 0) {
        return {};
    }
    const bool checksummed = code == kChecksummed;
    transfer_ = RawTransfer{checksummed ? kChecksummedAnswer : kHighSpeedAnswer,
                            checksummed ? kChecksummedUnit : kHighSpeedUnit,
                            *total,
                            0,
                            context.Faults().NextUnit(),
                            {}};
    return {transfer_->answerCode, kUnitReady};
}

Bytes ProgrammerHandler::Reset(DeviceContext& context) {
    CloseImage(context);
    DeviceState& state = context.State();
    if (wroteImages_) {
        state.blank = false;
        if (buildId_) {
            state.versions = FirmwareVersions(*buildId_, DefaultsOptions{}.buildIdSuffix);
        }
    }
    context.Trace("reboot", {{"version", state.versions.back()}, {"blank", state.blank}});
    context.Reenumerate(DeviceMode::Normal, context.Profile().rebootTime, "reset");
    halted_ = true;
    return {kResetAnswer};
}

std::span<const std::uint8_t> ProgrammerHandler::TakeRaw(std::span<const std::uint8_t> bytes,
                                                         DeviceContext& context) {
    RawTransfer& transfer = *transfer_;
    const std::uint64_t unitLength =
        std::min(transfer.unitSize, transfer.total - transfer.offset) + kChecksumSize;
    const std::size_t taken = static_cast<std::size_t>(
        std::min<std::uint64_t>(unitLength - transfer.unit.size(), bytes.size()));
    transfer.unit.insert(transfer.unit.end(), bytes.begin(),
                         bytes.begin() + static_cast<std::ptrdiff_t>(taken));
    if (transfer.unit.size() == unitLength) {
        FinishUnit(context);
    }
    return bytes.subspan(taken);
}

void ProgrammerHandler::FinishUnit(DeviceContext& context) {
    RawTransfer& transfer = *transfer_;
    const std::uint8_t code = transfer.answerCode;
    const auto body = std::span(transfer.unit).first(transfer.unit.size() - kChecksumSize);
    const std::uint32_t sent = *wire::ReadLe32(transfer.unit, body.size());
    bool good = flash::UnitChecksum(body) == sent;
    nlohmann::json record = {{"mode", "programmer"},
                             {"name", "unit"},
                             {"offset", transfer.offset},
                             {"bytes", body.size()},
                             {"checksum_ok", good}};
    if (good && transfer.fate.badSums > 0) {
        --transfer.fate.badSums;
        good = false;
        record["fault"] = "badsum";
    }
    context.Trace("request", std::move(record));
    if (!good) {
        transfer.unit.clear();
        context.SendFrame(Bytes{code, kUnitStatus, kUnitMismatch}, Opening::Flag);
        context.SendFrame(Bytes{code, kUnitReady}, Opening::Flag);
        return;
    }
    const std::uint64_t start = transfer.offset;
    const StoreResult stored = Store(start, body, context);
    if (stored != StoreResult::Stored) {
        transfer_.reset();
        if (stored == StoreResult::NoRoom) {
            context.SendFrame(Bytes{code, kUnitFailed}, Opening::Flag);
        }
        return;
    }
    context.SendFrame(Bytes{code, kUnitStatus, kUnitAccepted}, Opening::Flag);
    if (transfer.fate.ackLoop) {
        context.Trace("fault", {{"fault", "ackloop"}, {"offset", start}});
        Bytes first{kBlockWritten};
        wire::AppendLe32(first, static_cast<std::uint32_t>(start));
        context.RepeatUntilInput(first, Opening::Flag);
        transfer_.reset();
        return;
    }
    const std::uint64_t end = start + body.size();
    for (std::uint64_t boundary = (start / kAckGranule + 1) * kAckGranule; boundary < end;
         boundary += kAckGranule) {
        Bytes ack{kBlockWritten};
        wire::AppendLe32(ack, static_cast<std::uint32_t>(boundary));
        context.SendFrame(ack, Opening::Flag);
    }
    Bytes last{kBlockWritten};
    wire::AppendLe32(last, static_cast<std::uint32_t>(end - 1));
    context.SendFrame(last, Opening::Flag);
    transfer.offset = end;
    transfer.unit.clear();
    if (transfer.offset == transfer.total) {
        transfer_.reset();
        return;
    }
    transfer.fate = context.Faults().NextUnit();
    context.SendFrame(Bytes{code, kUnitReady}, Opening::Flag);
}

ProgrammerHandler::StoreResult ProgrammerHandler::Store(std::uint64_t offset,
                                                        std::span<const std::uint8_t> data,
                                                        DeviceContext& context) {
    OpenImage& image = *image_;
    if (offset > image.capacity || image.capacity - offset < data.size()) {
        return StoreResult::NoRoom;
    }
    if (image.fate.losesPower) {
        context.Trace("fault", {{"fault", "powerloss"}, {"partition", image.partition}});
        flash::LosePower(context.State());
        image_.reset();
        halted_ = true;
        context.Reenumerate(DeviceMode::Download, context.Profile().rebootTime, "power loss");
        return StoreResult::PowerLost;
    }
    image.data.Write(offset, data);
    wroteImages_ = true;
    return StoreResult::Stored;
}

void ProgrammerHandler::PowerCycle(DeviceContext& context) {
    if (tableRewritten_) {
        flash::LosePower(context.State());
    }
    image_.reset();
    halted_ = true;
}

void ProgrammerHandler::CloseImage(DeviceContext& context) {
    if (!image_) {
        return;
    }
    const OpenImage& image = *image_;
    const FlashImage written{image.data.Data().size(), image.data.Sha256Hex()};
    context.State().flash[image.partition] = written;
    context.Trace(
        "image_written",
        {{"partition", image.partition}, {"bytes", written.size}, {"sha256", written.sha256}});
    if (image.partition == kModemPartition) {
        buildId_ = flash::FindBuildId(image.data.Data());
    }
    image_.reset();
}

}  // namespace tapfix::sim
