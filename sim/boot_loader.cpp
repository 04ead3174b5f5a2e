#include "sim/boot_loader.hpp"

#include "link/wire.hpp"
#include "sim/diag_common.hpp"
#include "sim/faults.hpp"
#include "sim/flash_model.hpp"
#include "sim/programmer_image.hpp"

namespace tapfix::sim {
namespace {

enum Command : std::uint8_t {
    kAck = 0x02,
    kNak = 0x03,
    kGo = 0x05,
    kNop = 0x06,
    kParameterRequest = 0x07,
    kParameters = 0x08,
    kWrite32 = 0x0F,
    kGoWait = 0x90,
};

// NAK reasons.
enum Reason : std::uint16_t {
    kBadFcs = 1,
    kBadAddress = 2,
    kBadLength = 3,
    kTooShort = 4,
    kUnknownCommand = 6,
    kFailed = 7,
};

constexpr std::size_t kWriteHeader = 7;  // code, address, length
constexpr std::uint16_t kMaxWrite = 1024;

// What the boot loader tells about itself: protocol version 8 (oldest understood 6), writes of
// up to 1,024 bytes (this field least significant byte first), model, flash size code 6
// (8 MiB of boot flash), device type 0.
Bytes ParameterAnswer() {
    Bytes answer{kParameters, 8, 6};
    wire::AppendLe32(answer, kMaxWrite);
    answer.insert(answer.end(), {0x90, 6, 0});
    return answer;
}

Bytes Nak(std::uint16_t reason, nlohmann::json& record) {
    record["nak"] = reason;
    return {kNak, static_cast<std::uint8_t>(reason >> 8), static_cast<std::uint8_t>(reason)};
}

}  // namespace

void BootLoaderHandler::OnBytes(std::span<const std::uint8_t> bytes, DeviceContext& context) {
    deframer_.Push(bytes);
    while (!jumped_) {
        auto frame = deframer_.Next();
        if (!frame) {
            return;
        }
        nlohmann::json record = {{"mode", "dmss"}};
        Bytes answer;
        if (!frame->crcGood || frame->payload.empty()) {
            record["name"] = "bad_frame";
            answer = Nak(kBadFcs, record);
        } else {
            record["cmd"] = diag::HexByte(frame->payload[0]);
            answer = Answer(frame->payload, record, context);
        }
        context.Trace("request", std::move(record));
        context.SendFrame(answer, Opening::Flag);
    }
}

Bytes BootLoaderHandler::Answer(std::span<const std::uint8_t> request, nlohmann::json& record,
                                DeviceContext& context) {
    switch (request[0]) {
        case kNop:
            record["name"] = "nop";
            return {kAck};
        case kParameterRequest:
            record["name"] = "parameters";
            return ParameterAnswer();
        case kWrite32:
            record["name"] = "write32";
            return Write(request, record, context);
        case kGo:
        case kGoWait:
            record["name"] = request[0] == kGo ? "go" : "go_wait";
            return Go(request, record, context);
        default:
            record["name"] = "unsupported";
            return Nak(kUnknownCommand, record);
    }
}

Bytes BootLoaderHandler::Write(std::span<const std::uint8_t> request, nlohmann::json& record,
                               DeviceContext& context) {
    const auto address = wire::ReadBe32(request, 1);
    const auto length = wire::ReadBe16(request, 5);
    if (!address || !length) {
        return Nak(kTooShort, record);
    }
    record["address"] = *address;
    record["length"] = *length;
    if (request.size() != kWriteHeader + *length || *length == 0 || *length > kMaxWrite) {
        return Nak(kBadLength, record);
    }
    if (*address < kRamBase || *address - kRamBase > kRamSize - *length) {
        return Nak(kBadAddress, record);
    }
    if (const auto reason = context.Faults().NextBootWrite()) {
        record["fault"] = "nak";
        return Nak(*reason, record);
    }
    if (ram_.empty()) {
        ram_.assign(kRamSize, 0);
        written_.assign(kRamSize, false);
    }
    const std::size_t at = *address - kRamBase;
    std::copy(request.begin() + kWriteHeader, request.end(), ram_.begin() + at);
    std::fill_n(written_.begin() + at, *length, true);
    return {kAck};
}

std::span<const std::uint8_t> BootLoaderHandler::WrittenRunFrom(std::uint32_t address) const {
    if (ram_.empty() || address < kRamBase || address - kRamBase >= kRamSize) {
        return {};
    }
    const std::size_t begin = address - kRamBase;
    std::size_t end = begin;
    while (end < written_.size() && written_[end]) {
        ++end;
    }
    return std::span(ram_).subspan(begin, end - begin);
}

Bytes BootLoaderHandler::Go(std::span<const std::uint8_t> request, nlohmann::json& record,
                            DeviceContext& context) {
    const auto segment = wire::ReadBe16(request, 1);
    const auto offset = wire::ReadBe16(request, 3);
    if (!segment || !offset) {
        return Nak(kTooShort, record);
    }
    const std::uint32_t target = static_cast<std::uint32_t>(*segment) << 16 | *offset;
    record["address"] = target;
    const auto image = WrittenRunFrom(target);
    const std::string refusal = ProgrammerRefusal(image, context.Profile().dmssProgrammer);
    if (!refusal.empty()) {
        // The boot ROM checks the image before it jumps; garbage is not run.
        context.Trace("programmer_refused", {{"route", "dmss"}, {"reason", refusal}});
        return Nak(kFailed, record);
    }
    context.Trace(
        "programmer_started",
        {{"route", "dmss"}, {"bytes", image.size()}, {"sha256", flash::Sha256Hex(image)}});
    HandOverToProgrammer(context);
    jumped_ = true;
    return {kAck};
}

}  // namespace tapfix::sim
