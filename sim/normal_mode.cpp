#include "sim/normal_mode.hpp"

#include <algorithm>

#include "sim/faults.hpp"

namespace tapfix::sim {
namespace {

using diag::Exchange;
using wire::AppendLe16;
using wire::AppendLe32;
using wire::ReadLe16;

enum Command : std::uint8_t {
    kEsn = 0x01,
    kStatus = 0x0C,
    kNvRead = 0x26,
    kNvWrite = 0x27,
    kModeChange = 0x29,
    kVersion = 0x39,
    kDownloader = 0x3A,
    kSpc = 0x41,
    kSubsystem = 0x4B,
};

// NV item requests and answers: code, item, 128 data bytes, status.
constexpr std::size_t kNvPacketSize = 1 + 2 + kNvItemSize + 2;
constexpr std::uint16_t kNvDone = 0;
constexpr std::uint16_t kNvFailed = 4;
constexpr std::uint16_t kNvInactive = 5;
constexpr std::uint16_t kNvReadOnly = 7;

constexpr std::uint16_t kModeOfflineAnalog = 0;
constexpr std::uint16_t kModeOfflineDigital = 1;
constexpr std::uint16_t kModeReset = 2;
constexpr std::uint16_t kModeOnline = 4;

constexpr std::size_t kVersionField = 30;
constexpr std::size_t kDateField = 12;
constexpr std::size_t kTimeField = 9;
constexpr std::size_t kSpcLength = 6;

constexpr std::uint8_t kEfsSubsystem = 0x13;
constexpr std::uint8_t kEfsAlternateSubsystem = 0x3E;
// The WCDMA subsystem's status request, which the download tool polls after going offline.
constexpr std::uint8_t kWcdmaSubsystem = 0x04;
constexpr std::uint8_t kWcdmaStatus = 0x0E;

// A text padded with zeros to its field, then the terminating zero.
void AppendField(Bytes& answer, const std::string& text, std::size_t width) {
    const std::size_t used = std::min(text.size(), width);
    answer.insert(answer.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(used));
    answer.insert(answer.end(), width - used + 1, 0);
}

Bytes NvAnswer(std::span<const std::uint8_t> request, const NvValue& data, std::uint16_t status) {
    Bytes answer(request.begin(), request.begin() + 3);
    answer.insert(answer.end(), data.begin(), data.end());
    AppendLe16(answer, status);
    return answer;
}

NvValue NvDataOf(std::span<const std::uint8_t> request) {
    NvValue data{};
    std::copy_n(request.begin() + 3, kNvItemSize, data.begin());
    return data;
}

}  // namespace

void NormalModeHandler::OnBytes(std::span<const std::uint8_t> bytes, DeviceContext& context) {
    deframer_.Push(bytes);
    if (const std::size_t dropped = deframer_.TakeOverflow(); dropped > 0) {
        context.Trace("dropped",
                      {{"mode", "normal"}, {"reason", "frame too long"}, {"bytes", dropped}});
    }
    while (auto frame = deframer_.Next()) {
        // The firmware discards frames that fail the check; the host's time-out tells it.
        if (!frame->crcGood || frame->payload.empty()) {
            context.Trace("dropped", {{"mode", "normal"},
                                      {"reason", frame->crcGood ? "empty frame" : "bad FCS"},
                                      {"bytes", frame->payload.size()}});
            continue;
        }
        Answer(frame->payload, context);
    }
}

void NormalModeHandler::Answer(std::span<const std::uint8_t> request, DeviceContext& context) {
    nlohmann::json record = {{"mode", "normal"}, {"cmd", diag::HexByte(request[0])}};
    Exchange exchange{request, record, context};
    Bytes answer;
    if (const auto error = context.InjectedDiagError(request[0])) {
        record["fault"] = "diagerror";
        record["answer"] = diag::HexByte(*error);
        answer = diag::ErrorAnswer(*error, request);
    } else {
        answer = Dispatch(exchange);
    }
    if (answer[0] != request[0]) {
        record["diag_error"] = diag::HexByte(answer[0]);
    }
    context.Trace("request", std::move(record));
    context.SendFrame(answer, Opening::None);
}

Bytes NormalModeHandler::Dispatch(Exchange& exchange) {
    switch (exchange.request[0]) {
        case kEsn:
            return Esn(exchange);
        case kStatus:
            return Status(exchange);
        case kNvRead:
            return NvRead(exchange);
        case kNvWrite:
            return NvWrite(exchange);
        case kModeChange:
            return ModeChange(exchange);
        case kVersion:
            return SoftwareVersion(exchange);
        case kDownloader:
            return SwitchToDownloader(exchange);
        case kSpc:
            return Spc(exchange);
        case kSubsystem:
            return Subsystem(exchange);
        default:
            exchange.Name("unsupported");
            return diag::ErrorAnswer(diag::kBadCommand, exchange.request);
    }
}

Bytes NormalModeHandler::Esn(Exchange& exchange) {
    exchange.Name("esn");
    Bytes answer{kEsn};
    AppendLe32(answer, EsnOf(exchange.State()));
    return answer;
}

Bytes NormalModeHandler::Status(Exchange& exchange) {
    exchange.Name("status");
    Bytes answer{kStatus};
    AppendLe32(answer, EsnOf(exchange.State()));
    AppendLe16(answer, offline_ ? kModeOfflineDigital : kModeOnline);
    return answer;
}

Bytes NormalModeHandler::NvRead(Exchange& exchange) {
    exchange.Name("nv_read");
    if (exchange.request.size() != kNvPacketSize) {
        return diag::ErrorAnswer(diag::kBadLength, exchange.request);
    }
    const std::uint16_t item = *ReadLe16(exchange.request, 1);
    const DeviceState& state = exchange.State();
    const auto value = state.nv.find(item);
    std::uint16_t status = value == state.nv.end() ? kNvInactive : kNvDone;
    if (const auto refused = exchange.context.Faults().RefusedNvRead(item)) {
        status = *refused;
        exchange.trace["fault"] = "nvread-refused";
    }
    exchange.trace["item"] = item;
    exchange.trace["status"] = status;
    // An inactive item's answer carries the request's data back unchanged.
    return NvAnswer(exchange.request,
                    status == kNvDone ? value->second : NvDataOf(exchange.request), status);
}

Bytes NormalModeHandler::NvWrite(Exchange& exchange) {
    exchange.Name("nv_write");
    if (exchange.request.size() != kNvPacketSize) {
        return diag::ErrorAnswer(diag::kBadLength, exchange.request);
    }
    const std::uint16_t item = *ReadLe16(exchange.request, 1);
    DeviceState& state = exchange.State();
    const NvValue data = NvDataOf(exchange.request);
    std::uint16_t status = state.readOnlyNv.contains(item) ? kNvReadOnly : kNvDone;
    if (exchange.context.Faults().RefusesNvWrite(item)) {
        status = kNvFailed;
        exchange.trace["fault"] = "nvwrite-refused";
    }
    if (status == kNvDone) {
        state.nv[item] = data;
    }
    exchange.trace["item"] = item;
    exchange.trace["status"] = status;
    return NvAnswer(exchange.request, data, status);
}

Bytes NormalModeHandler::ModeChange(Exchange& exchange) {
    exchange.Name("mode_change");
    const auto mode = ReadLe16(exchange.request, 1);
    if (!mode || exchange.request.size() != 3) {
        return diag::ErrorAnswer(diag::kBadLength, exchange.request);
    }
    exchange.trace["mode"] = *mode;
    switch (*mode) {
        case kModeOfflineAnalog:
        case kModeOfflineDigital:
            offline_ = true;
            break;
        case kModeOnline:
            offline_ = false;
            break;
        case kModeReset:
            // The modem restarts only from offline; online it refuses the mode change.
            if (!offline_) {
                return diag::ErrorAnswer(diag::kBadMode, exchange.request);
            }
            exchange.context.Reenumerate(DeviceMode::Normal, exchange.context.Profile().rebootTime,
                                         "reset");
            break;
        default:
            return diag::ErrorAnswer(diag::kBadParameters, exchange.request);
    }
    return diag::EchoOf(exchange.request, 3);
}

Bytes NormalModeHandler::SoftwareVersion(Exchange& exchange) {
    exchange.Name("software_version");
    const DeviceState& state = exchange.State();
    Bytes answer{kVersion};
    for (const std::string& version : state.versions) {
        AppendField(answer, version, kVersionField);
    }
    AppendField(answer, state.compileDate, kDateField);
    AppendField(answer, state.compileTime, kTimeField);
    return answer;
}

Bytes NormalModeHandler::SwitchToDownloader(Exchange& exchange) {
    exchange.Name("switch_to_downloader");
    exchange.context.Reenumerate(DeviceMode::Download, exchange.context.Profile().downloaderTime,
                                 "switch to downloader");
    return {kDownloader};
}

Bytes NormalModeHandler::Spc(Exchange& exchange) {
    exchange.Name("spc");
    if (exchange.request.size() != 1 + kSpcLength) {
        return diag::ErrorAnswer(diag::kBadLength, exchange.request);
    }
    const std::string code(exchange.request.begin() + 1, exchange.request.end());
    const bool accepted = code == exchange.State().spc;
    exchange.trace["accepted"] = accepted;
    return {kSpc, static_cast<std::uint8_t>(accepted ? 1 : 0)};
}

Bytes NormalModeHandler::Subsystem(Exchange& exchange) {
    if (exchange.request.size() < diag::kSubsystemHeader) {
        exchange.Name("subsystem");
        return diag::ErrorAnswer(diag::kBadLength, exchange.request);
    }
    const std::uint8_t subsystem = exchange.request[1];
    exchange.trace["subsys"] = diag::HexByte(subsystem);
    if (subsystem == kEfsSubsystem || subsystem == kEfsAlternateSubsystem) {
        return efs_.Handle(exchange);
    }
    if (subsystem == kWcdmaSubsystem && ReadLe16(exchange.request, 2) == kWcdmaStatus) {
        exchange.Name("wcdma_status");
        Bytes answer = diag::EchoOf(exchange.request, diag::kSubsystemHeader);
        AppendLe16(answer, offline_ ? kModeOfflineDigital : kModeOnline);
        return answer;
    }
    if (auto answer = vendor_.Handle(exchange, exchange.context.Profile())) {
        return std::move(*answer);
    }
    exchange.Name("unsupported");
    return diag::ErrorAnswer(diag::kBadCommand, exchange.request);
}

}  // namespace tapfix::sim
