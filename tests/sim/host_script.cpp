#include "host_script.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <fstream>
#include <iterator>

#include "device/command_set.hpp"
#include "device/dmss_commands.hpp"
#include "device/sahara.hpp"
#include "device/stream_commands.hpp"
#include "link/wire.hpp"
#include "platform/clock.hpp"

namespace tapfix::sim::host {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kBlock = 1024;
constexpr std::size_t kPipelineDepth = 4;

bool Fail(HostLink& host, std::string_view reason) {
    host.SetLastError(reason);
    return false;
}

std::span<const std::uint8_t> Piece(std::span<const std::uint8_t> bytes, std::size_t offset,
                                    std::size_t size) {
    return bytes.subspan(offset, std::min(size, bytes.size() - offset));
}

std::uint16_t SegmentOf(const Bytes& programmer) {
    return static_cast<std::uint16_t>(programmer.at(14) << 8 | programmer.at(15));
}

// Follows the block-written answers until one reaches `last`; 100 empty polls give up.
bool AwaitAddress(HostLink& host, std::uint32_t last) {
    for (int empty = 0; empty < 100;) {
        host.ReceiveFrame();
        const auto acked = host.AckedAddresses();
        if (std::any_of(acked.begin(), acked.end(), [&](std::uint32_t a) { return a >= last; })) {
            return true;
        }
        if (acked.empty()) {
            ++empty;
            platform::SystemClock().Sleep(platform::ScaledInterval(10ms));
        }
    }
    return Fail(host, "the device did not acknowledge the unit's last address");
}

bool NormalTransfer(HostLink& host, std::span<const std::uint8_t> image) {
    for (std::size_t offset = 0; offset < image.size(); offset += kBlock) {
        if (!device::StreamWrite(host, Piece(image, offset, kBlock),
                                 static_cast<std::uint32_t>(offset))) {
            return false;
        }
    }
    return true;
}

// At most four writes unacknowledged; acknowledgements lost to the purges of later writes
// make their writes "missed", which are sent again one by one at the end.
bool PipelinedTransfer(HostLink& host, std::span<const std::uint8_t> image) {
    std::deque<std::uint32_t> pending;
    std::vector<std::uint32_t> missed;
    const auto match = [&] {
        for (const std::uint32_t address : host.AckedAddresses()) {
            const auto found = std::find(pending.begin(), pending.end(), address);
            if (found != pending.end()) {
                missed.insert(missed.end(), pending.begin(), found);
                pending.erase(pending.begin(), found + 1);
            }
        }
    };
    for (std::size_t offset = 0; offset < image.size(); offset += kBlock) {
        const auto address = static_cast<std::uint32_t>(offset);
        if (device::BuildStreamWriteFrame(host, Piece(image, offset, kBlock), address) == 0 ||
            !host.SendTransmitBuffer()) {
            return false;
        }
        pending.push_back(address);
        const auto deadline = std::chrono::steady_clock::now() + platform::ScaledTimeout(15000ms);
        while (pending.size() > kPipelineDepth) {
            device::DrainStreamAnswers(host);
            match();
            if (std::chrono::steady_clock::now() >= deadline) {
                return Fail(host, "pipelined writes stayed unacknowledged");
            }
        }
    }
    for (int round = 0; round < 3 && !pending.empty(); ++round) {
        platform::SystemClock().Sleep(platform::ScaledWait(150ms));
        device::DrainStreamAnswers(host);
        match();
    }
    missed.insert(missed.end(), pending.begin(), pending.end());
    return std::all_of(missed.begin(), missed.end(), [&](std::uint32_t address) {
        return device::StreamWrite(host, Piece(image, address, kBlock), address);
    });
}

bool OpenImage(HostLink& host, const ImagePlan& plan, std::span<const std::uint8_t> file) {
    switch (plan.openBy) {
        case OpenBy::Name: {
            Bytes name(kBlock, 0);
            std::copy(plan.partition.begin(), plan.partition.end(), name.begin());
            return device::StreamOpenMultiImage(host, plan.type, name);
        }
        case OpenBy::Type:
            return device::StreamOpenMultiImage(host, plan.type, {});
        case OpenBy::Header:
            return device::StreamOpenMultiImage(host, plan.type, file);
    }
    return false;
}

bool RunTransfer(HostLink& host, Transfer transfer, std::span<const std::uint8_t> image) {
    switch (transfer) {
        case Transfer::Normal:
            return NormalTransfer(host, image);
        case Transfer::Pipelined:
            return PipelinedTransfer(host, image);
        case Transfer::Checksummed:
            return RawTransfer(host, 0x28, image);
        case Transfer::HighSpeed:
            return RawTransfer(host, 0x1D, image);
    }
    return false;
}

bool ReadSahara(HostLink& host, std::initializer_list<std::uint32_t> expected) {
    if (!device::SaharaRead(host)) {
        return false;
    }
    std::size_t index = 0;
    for (const std::uint32_t word : expected) {
        if (device::SaharaWord(host, index++) != word) {
            return Fail(host, "unexpected Sahara message");
        }
    }
    return true;
}

}  // namespace

HostLink::HostLink() {
    device::AttachCommandSet(*this);
}

Bytes ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t Checksum(std::span<const std::uint8_t> unit) {
    std::uint32_t sum = 0;
    for (std::size_t offset = 0; offset < unit.size(); offset += 4) {
        // A last group of one to three bytes is a word holding just them, low bytes first.
        std::array<std::uint8_t, 4> word{};
        const auto group = Piece(unit, offset, 4);
        std::copy(group.begin(), group.end(), word.begin());
        sum += *wire::ReadLe32(word, 0);
    }
    return sum;
}

Bytes OnePartitionTable(std::string_view name) {
    constexpr std::uint32_t kRestOfFlash = 0xFFFFFFFF;
    Bytes table;
    for (const std::uint32_t word : {0xAA7D1B9AU, 0x1F7D48BCU, 3U, 1U}) {
        wire::AppendLe32(table, word);
    }
    Bytes entry(16, 0);
    std::copy_n(name.begin(), std::min<std::size_t>(name.size(), entry.size()), entry.begin());
    for (const std::uint32_t word : {0U, kRestOfFlash, 0x00FF0100U}) {
        wire::AppendLe32(entry, word);
    }
    table.insert(table.end(), entry.begin(), entry.end());
    return table;
}

bool LoadProgrammerDmss(HostLink& host, const Bytes& programmer) {
    const std::uint32_t load = static_cast<std::uint32_t>(SegmentOf(programmer)) << 16;
    for (std::size_t offset = 0; offset < programmer.size(); offset += kBlock) {
        if (!device::DmssWrite32(host, Piece(programmer, offset, kBlock),
                                 load + static_cast<std::uint32_t>(offset))) {
            return false;
        }
    }
    return true;
}

bool StartProgrammerDmss(HostLink& host, const Bytes& programmer) {
    device::DmssGo(host, SegmentOf(programmer));
    return device::StreamNop(host);
}

bool LoadProgrammerSahara(HostLink& host, const Bytes& programmer, std::uint32_t imageId) {
    host.ResetBuffers();
    if (!ReadSahara(host, {1}) || device::SaharaWord(host, 2) != 2U ||
        !device::SaharaHelloResponse(host)) {
        return false;
    }
    std::size_t sent = 0;
    while (sent < programmer.size()) {
        if (!ReadSahara(host, {3, 20, imageId})) {
            return false;
        }
        const std::uint32_t length = device::SaharaWord(host, 4).value_or(0);
        Bytes chunk(length, 0);
        const auto piece = Piece(programmer, sent, length);
        std::copy(piece.begin(), piece.end(), chunk.begin());
        if (!host.WriteRaw(chunk)) {
            return false;
        }
        sent += length;
    }
    return ReadSahara(host, {4, 16, imageId, 0}) && device::SaharaDone(host);
}

bool BeginStreaming(HostLink& host, const Bytes& table, std::uint32_t overrideFlag) {
    std::string flashId;
    return device::StreamHello(host, flashId) && device::StreamSecurityMode(host, 1) &&
           device::StreamPartitionTable(host, table, overrideFlag);
}

bool SendImage(HostLink& host, const std::filesystem::path& folder, const ImagePlan& plan) {
    const Bytes image = ReadFile(folder / plan.file);
    if (image.empty()) {
        return Fail(host, "cannot read " + plan.file);
    }
    return SendImageBytes(host, plan, image);
}

bool SendImageBytes(HostLink& host, const ImagePlan& plan, std::span<const std::uint8_t> image) {
    if (!OpenImage(host, plan, image)) {
        return false;
    }
    if (plan.openBy == OpenBy::Header) {
        return true;
    }
    return RunTransfer(host, plan.transfer, image) && device::StreamClose(host);
}

bool RawTransfer(HostLink& host, std::uint8_t code, std::span<const std::uint8_t> image) {
    const bool checksummed = code == 0x28;
    const std::uint8_t answer = code == 0x28 ? 0x29 : 0x1E;
    const std::size_t unit = checksummed ? 128 * 1024 : 32 * 1024 * 1024;
    if (!host.SendOnly(code, static_cast<std::uint32_t>(image.size()))) {
        return false;
    }
    int mismatches = 0;
    for (std::size_t offset = 0; offset < image.size();) {
        const auto piece = Piece(image, offset, unit);
        // One write carries the unit and its checksum; room for both up front spares a copy.
        Bytes raw;
        raw.reserve(piece.size() + 4);
        raw.assign(piece.begin(), piece.end());
        wire::AppendLe32(raw, Checksum(piece));
        device::UnitStatus status = device::UnitStatus::None;
        if (!device::WaitAnswerOk(host, answer)) {
            return Fail(host, "the device is not ready for the unit");
        }
        if (!host.WriteRaw(raw) ||
            !device::WaitAnswerStatus(host, answer, checksummed ? 2 : 60, status)) {
            return Fail(host, status == device::UnitStatus::DeviceFailure
                                  ? "the device failed the unit"
                                  : "no status answer to the unit");
        }
        if (status == device::UnitStatus::ChecksumMismatch) {
            if (++mismatches == 2) {
                return Fail(host, "checksum mismatch twice");
            }
            continue;
        }
        mismatches = 0;
        if (!AwaitAddress(host, static_cast<std::uint32_t>(offset + piece.size() - 1))) {
            return false;
        }
        offset += piece.size();
    }
    return true;
}

}  // namespace tapfix::sim::host
