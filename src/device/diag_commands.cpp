#include "device/diag_commands.hpp"

#include <algorithm>
#include <array>

#include "device/command_pattern.hpp"
#include "link/wire.hpp"

namespace tapfix::device {
namespace {

using namespace diag;

namespace failures {
constexpr std::string_view kReset = "Cannot Reset the Phone, Since %s";
constexpr std::string_view kOffline = "Cannot Put the Phone Offline, Since %s";
constexpr std::string_view kEsn = "Cannot Get the ESN Number of the Phone, Since %s";
constexpr std::string_view kVersion = "Cannot get 9 software version from the mobile, Since %s";
constexpr std::string_view kDownloader = "Cannot Switch to Downloader, Since %s";
constexpr std::string_view kSpecialDl = "Cannot Set Special DL mode , Since %s";
constexpr std::string_view kAutoRun = "AutoRun Action fail, Since %s";
constexpr std::string_view kAutoRunNotEchoed =
    "AutoRun Action fail, Since return cmd code is not 4B 3D 00 00!";
constexpr std::string_view kAutoRunStatusOne = "AutoRun Action fail, Since return status = 0x01!";
constexpr std::string_view kAutoRunWrongStatus =
    "AutoRun Action fail, Since return wrong status value!";
constexpr std::string_view kSpcNotDigits = "the service programming code must be six digits";
}  // namespace failures

constexpr std::uint16_t kModeOffline = 1;
constexpr std::uint16_t kModeReset = 2;
constexpr std::uint32_t kNoEsn = 0xFFFFFFFF;
constexpr int kProbeTries = 3;

constexpr std::array<std::uint8_t, 5> kAutoRunRequest{0x4B, 0xA1, 0x00, 0x00, 0x01};
constexpr std::array<std::uint8_t, 5> kSpecialDlRequest{0x4B, 0xAA, 0x00, 0x00, 0x00};
constexpr std::array<std::uint8_t, 5> kSpecialDl2Request{0x4B, 0xAA, 0x00, 0x00, 0x02};
constexpr std::array<std::uint8_t, 4> kPartitionTableRequest{0x4B, 0xC9, 0x0F, 0x00};
// Partition table answer: echo, 16-bit status, 16-bit length, the table.
constexpr std::size_t kTableStatus = 4;
constexpr std::size_t kTableLength = 6;
constexpr std::size_t kTableData = 8;

ConstBytes Header(std::span<const std::uint8_t> request) {
    return request.first(4);
}

bool ChangeMode(link::CPacket& packet, std::uint16_t mode, std::string_view failure) {
    std::array<std::uint8_t, kRecordWord + 2> record{kModeChange};
    wire::WriteLe16(record, kRecordWord, mode);
    return ExchangeDiag(packet, record, {1, 2000}, failure);
}

bool IsSpc(std::string_view spc) {
    return spc.size() == kSpcLength &&
           std::all_of(spc.begin(), spc.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool ResetPhone(link::CPacket& packet) {
    return ChangeMode(packet, kModeReset, failures::kReset);
}

bool SetPhoneOffline(link::CPacket& packet) {
    return ChangeMode(packet, kModeOffline, failures::kOffline);
}

bool GetEsn(link::CPacket& packet, std::uint32_t& esn) {
    esn = kNoEsn;
    const std::array<std::uint8_t, 1> record{kEsn};
    if (!ExchangeDiag(packet, record, {1, 300}, failures::kEsn)) {
        return false;
    }
    esn = *wire::ReadLe32(packet.Response(), kResponseEsn);
    return true;
}

bool GetSoftwareVersion(link::CPacket& packet, VersionRecord& record) {
    const std::array<std::uint8_t, 1> request{kSoftwareVersion};
    if (!ExchangeDiag(packet, request, {1, 300}, failures::kVersion)) {
        record.fill(0);
        return false;
    }
    for (std::size_t k = 0; k < kVersionTexts; ++k) {
        const std::size_t slot = kVersionFirstSlot + k * kVersionSlot;
        std::copy_n(packet.Response().begin() + static_cast<std::ptrdiff_t>(slot),
                    kVersionTextLength, record.begin() + static_cast<std::ptrdiff_t>(slot));
        record[slot + kVersionTextLength] = 0;
    }
    return true;
}

bool SwitchToDownloader(link::CPacket& packet) {
    const std::array<std::uint8_t, 1> record{kDownloader};
    return ExchangeDiag(packet, record, {1, 2000}, failures::kDownloader);
}

// The device answers 0x41 whether or not it took the code; its status byte says which, but
// callers only need the exchange to have gone through.
bool SendSpc(link::CPacket& packet, std::string_view spc) {
    if (!IsSpc(spc)) {
        packet.SetLastError(failures::kSpcNotDigits);
        return false;
    }
    std::array<std::uint8_t, kRecordSpc + kSpcLength> record{kSpc};
    std::copy(spc.begin(), spc.end(), record.begin() + kRecordSpc);
    return ExchangeDiag(packet, record, {3, 15000});
}

bool SendSubsysCmd(link::CPacket& packet) {
    const std::array<std::uint8_t, 1> record{kSubsystem};
    return ExchangeDiag(packet, record, {1, 2000});
}

bool ProbeDiag(link::CPacket& packet) {
    const std::array<std::uint8_t, 1> probe{kProbe};
    for (int attempt = 0; attempt < kProbeTries; ++attempt) {
        if (ExchangeRaw(packet, probe, {1, 2000})) {
            return true;
        }
    }
    return false;
}

bool AutoRunAction(link::CPacket& packet) {
    if (!ExchangeRaw(packet, kAutoRunRequest, {2, 5100}, failures::kAutoRun)) {
        return false;
    }
    if (!BeginsWith(Answer(packet), Header(kAutoRunRequest))) {
        packet.SetLastError(failures::kAutoRunNotEchoed);
        return false;
    }
    const std::optional<std::uint8_t> status = wire::ReadU8(Answer(packet), 4);
    if (status == 0) {
        return true;
    }
    packet.SetLastError(status == 1 ? failures::kAutoRunStatusOne : failures::kAutoRunWrongStatus);
    return false;
}

bool SetSpecialDlMode(link::CPacket& packet) {
    const bool accepted = ExchangeRaw(packet, kSpecialDlRequest, {1, 1000}, failures::kSpecialDl) &&
                          AnswerAccepted(packet, Header(kSpecialDlRequest));
    packet.SetMode(link::MODE_DIAG);
    return accepted;
}

bool SetSpecialDlMode2(link::CPacket& packet) {
    return ExchangeRaw(packet, kSpecialDl2Request, {1, 10000}) &&
           AnswerAccepted(packet, Header(kSpecialDl2Request));
}

// Sent raw: the DIAG builder turns every subsystem request into 4B 04 0E 00, and its parser
// keeps one byte of the answer, while this answer carries status, length and the table.
bool ReadDevicePartitionTable(link::CPacket& packet, std::span<std::uint8_t> table) {
    if (!ExchangeRaw(packet, kPartitionTableRequest, {3, 5000}) ||
        !BeginsWith(Answer(packet), kPartitionTableRequest)) {
        return false;
    }
    const std::optional<std::uint16_t> status = AnswerLe16(packet, kTableStatus);
    const std::optional<std::uint16_t> length = AnswerLe16(packet, kTableLength);
    if (status != 0 || length != table.size()) {
        return false;
    }
    const std::optional<ConstBytes> data = AnswerBytes(packet, kTableData, table.size());
    if (!data) {
        return false;
    }
    std::copy(data->begin(), data->end(), table.begin());
    return true;
}

}  // namespace tapfix::device
