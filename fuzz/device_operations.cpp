#include "device_operations.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <string>

#include "device/diag_commands.hpp"
#include "device/dmss_commands.hpp"
#include "device/nv_efs.hpp"
#include "device/stream_commands.hpp"
#include "device/stream_protocol.hpp"
#include "device/vendor.hpp"
#include "fuzz_input.hpp"

namespace tapfix::fuzz {
namespace {

using namespace device;
using link::CPacket;

// Retry pauses and busy waits pass at once; each look at the time moves it on a little, so
// the waits' time bounds end them too.
class QuickClock final : public platform::Clock {
  public:
    platform::TimePoint Now() const override { return now_ += std::chrono::milliseconds(1); }
    void Sleep(platform::Milliseconds duration) override { now_ += duration; }

  private:
    mutable platform::TimePoint now_{};
};

template <typename Container>
bool AllZero(const Container& bytes) {
    return std::all_of(std::begin(bytes), std::end(bytes), [](auto byte) { return byte == 0; });
}

bool IsUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

constexpr std::array<std::uint8_t, 16> kBlock{0x7E, 0x7D, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
constexpr std::string_view kPath = "nv/item_files/rfnv/00020207";

bool Esn(CPacket& p) {
    std::uint32_t esn = 0;
    const bool ok = GetEsn(p, esn);
    Require(ok || esn == 0xFFFFFFFF);
    return ok;
}

bool Versions(CPacket& p) {
    VersionRecord record{};
    record.fill(0xAA);
    const bool ok = GetSoftwareVersion(p, record);
    Require(ok || AllZero(record));
    for (std::size_t k = 0; ok && k < diag::kVersionTexts; ++k) {
        Require(VersionText(record, k).size() <= diag::kVersionTextLength);
    }
    return ok;
}

bool PartitionTable(CPacket& p) {
    std::array<std::uint8_t, 24> table{};
    return ReadDevicePartitionTable(p, table);
}

bool NvRead(CPacket& p) {
    NvItemData item{};
    item.fill(0xAA);
    std::uint16_t status = 0;
    const bool ok = ReadNvItem(p, 447, item, status);
    Require(ok || AllZero(item));
    Require(!ok || status == 0);
    return ok;
}

bool NvWrite(CPacket& p) {
    NvItemData item{};
    std::uint16_t status = 0;
    return WriteNvItem(p, 4678, item, status);
}

bool Imei(CPacket& p) {
    ImeiText imei{};
    const bool ok = GetImei(p, imei);
    Require(imei.back() == '\0');
    Require(ok ? std::all_of(imei.begin(), imei.end() - 1,
                             [](char c) { return c >= '0' && c <= '0' + 15; })
               : AllZero(imei));
    return ok;
}

bool FileOpen(CPacket& p) {
    std::uint32_t descriptor = 0;
    return EfsOpen(p, kPath, EfsAccess::Read, descriptor);
}

bool FileRead(CPacket& p) {
    std::array<std::uint8_t, 40> data{};
    std::uint32_t count = 0xFFFF;
    const bool ok = EfsRead(p, 0, 0, data, count);
    Require(ok ? count <= data.size() : count == 0);
    return ok;
}

bool FileStat(CPacket& p) {
    EfsStatResult result;
    return EfsStat(p, kPath, result);
}

bool FileFstat(CPacket& p) {
    std::uint32_t value = 0;
    return EfsFstat(p, 0, value);
}

bool FileGet(CPacket& p) {
    std::array<std::uint8_t, 40> data{};
    std::uint32_t length = 0xFFFF;
    const bool ok = EfsGet(p, kPath, 1, data, length);
    Require(ok ? length <= data.size() : length == 0);
    return ok;
}

bool OnboardQuery(CPacket& p) {
    QuickClock clock;
    OnboardResult result;
    return QueryOnboardResult(p, result, clock);
}

bool OnboardWait(CPacket& p) {
    QuickClock clock;
    return WaitOnboardResult(p, clock);
}

bool WifiRead(CPacket& p) {
    WifiValue value;
    const bool ok = ReadWifiValue(p, value);
    Require(!ok || value.length <= kWifiValueCapacity);
    return ok;
}

bool MacRead(CPacket& p, std::uint16_t kind) {
    MacText mac{};
    const bool ok = ReadWifiMac(p, kind, mac);
    Require(mac.back() == '\0');
    Require(!ok || std::all_of(mac.begin(), mac.end() - 1, IsUpperHex));
    return ok;
}

template <std::uint16_t kKind>
bool MacReadOf(CPacket& p) {
    return MacRead(p, kKind);
}

template <std::uint16_t kKind>
bool MacWriteOf(CPacket& p) {
    return WriteWifiMac(p, "0012AB34CD56", kKind, true);
}

bool FlashInfo(CPacket& p) {
    FlashInfoRecord record{};
    record.fill(0xAA);
    const bool ok = GetFlashInfo(p, record);
    Require(ok || AllZero(record));
    return ok;
}

bool Hello(CPacket& p) {
    std::string flashId;
    const bool ok = StreamHello(p, flashId);
    Require(flashId.size() <= CPacket::kHelloCapacity);
    return ok;
}

bool BlockWrite(CPacket& p) {
    QuickClock clock;
    return StreamWrite(p, kBlock, 0x7E7D0000, clock);
}

// Several blocks sent before their acknowledgements are collected.
bool PipelinedWrite(CPacket& p) {
    for (std::uint32_t block = 0; block < 3; ++block) {
        Require(BuildStreamWriteFrame(p, kBlock, block * 1024) > 0);
        if (!p.SendTransmitBuffer()) {
            return false;
        }
    }
    const bool ok = DrainStreamAnswers(p);
    Require(p.AckedAddresses().size() <= CPacket::kAckCapacity);
    return ok;
}

bool ChecksumUnit(CPacket& p) {
    QuickClock clock;
    UnitStatus status = UnitStatus::Accepted;
    if (!p.SendOnly(stream::kChecksumTransfer, 0x20000) ||
        !WaitAnswerOk(p, stream::kChecksumAnswer, clock) || !p.WriteRaw(kBlock)) {
        return false;
    }
    const bool ok = WaitAnswerStatus(p, stream::kChecksumAnswer, 2, status, clock);
    Require(ok == (status == UnitStatus::Accepted || status == UnitStatus::ChecksumMismatch));
    return ok;
}

const DeviceOperation kOperations[] = {
    {"ResetPhone", [](CPacket& p) { return ResetPhone(p); }},
    {"SetPhoneOffline", [](CPacket& p) { return SetPhoneOffline(p); }},
    {"GetEsn", Esn},
    {"GetSoftwareVersion", Versions},
    {"SwitchToDownloader", [](CPacket& p) { return SwitchToDownloader(p); }},
    {"SendSpc", [](CPacket& p) { return SendSpc(p); }},
    {"SendSubsysCmd", [](CPacket& p) { return SendSubsysCmd(p); }},
    {"ProbeDiag", [](CPacket& p) { return ProbeDiag(p); }},
    {"AutoRunAction", [](CPacket& p) { return AutoRunAction(p); }},
    {"SetSpecialDlMode", [](CPacket& p) { return SetSpecialDlMode(p); }},
    {"SetSpecialDlMode2", [](CPacket& p) { return SetSpecialDlMode2(p); }},
    {"ReadDevicePartitionTable", PartitionTable},
    {"ReadNvItem", NvRead},
    {"WriteNvItem", NvWrite},
    {"GetImei", Imei},
    {"EfsOpen", FileOpen},
    {"EfsClose", [](CPacket& p) { return EfsClose(p); }},
    {"EfsRead", FileRead},
    {"EfsWrite", [](CPacket& p) { return EfsWrite(p, 0, kBlock); }},
    {"EfsStat", FileStat},
    {"EfsFstat", FileFstat},
    {"EfsPut", [](CPacket& p) { return EfsPut(p, kPath, kBlock, 1); }},
    {"EfsGet", FileGet},
    {"SendOnboardBackupList", [](CPacket& p) { return SendOnboardBackupList(p, true, 3, {}); }},
    {"QueryOnboardResult", OnboardQuery},
    {"StartOnboardRestore", [](CPacket& p) { return StartOnboardRestore(p); }},
    {"SendOnboardCommand", [](CPacket& p) { return SendOnboardCommand(p, 4); }},
    {"WaitOnboardResult", OnboardWait},
    {"ReadWifiValue", WifiRead},
    {"WriteWifiValue", [](CPacket& p) { return WriteWifiValue(p, 1, 2, kBlock); }},
    {"CommitWifiValues", [](CPacket& p) { return CommitWifiValues(p); }},
    {"RestoreWifiPassword", [](CPacket& p) { return RestoreWifiPassword(p); }},
    {"RestoreSsid", [](CPacket& p) { return RestoreSsid(p); }},
    {"ReadWifiMac0", MacReadOf<0>},
    {"ReadWifiMac1", MacReadOf<1>},
    {"ReadWifiMac2", MacReadOf<2>},
    {"ReadWifiMac3", MacReadOf<3>},
    {"ReadWifiMac447", MacReadOf<447>},
    {"ReadWifiMac4678", MacReadOf<4678>},
    {"WriteWifiMac0", MacWriteOf<0>},
    {"WriteWifiMac2", MacWriteOf<2>},
    {"WriteWifiMac447", MacWriteOf<447>},
    {"WriteWifiMac4678", MacWriteOf<4678>},
    {"DmssNop", [](CPacket& p) { return DmssNop(p); }},
    {"GetFlashInfo", FlashInfo},
    {"DmssGo", [](CPacket& p) { return DmssGo(p, 0x0040); }},
    {"DmssWrite32", [](CPacket& p) { return DmssWrite32(p, kBlock, 0x00400000); }},
    {"StreamHello", Hello},
    {"StreamSecurityMode", [](CPacket& p) { return StreamSecurityMode(p, 1); }},
    {"StreamPartitionTable", [](CPacket& p) { return StreamPartitionTable(p, kBlock, 0); }},
    {"StreamOpenMultiImage", [](CPacket& p) { return StreamOpenMultiImage(p, 0x0E, {}); }},
    {"StreamWrite", BlockWrite},
    {"PipelinedWrite", PipelinedWrite},
    {"StreamNop", [](CPacket& p) { return StreamNop(p); }},
    {"StreamReset", [](CPacket& p) { return StreamReset(p); }},
    {"StreamClose", [](CPacket& p) { return StreamClose(p); }},
    {"ChecksumUnit", ChecksumUnit},
};

}  // namespace

std::span<const DeviceOperation> DeviceOperations() {
    return kOperations;
}

std::uint8_t DeviceOperationIndex(std::string_view name) {
    const auto found = std::find_if(std::begin(kOperations), std::end(kOperations),
                                    [&](const DeviceOperation& op) { return op.name == name; });
    Require(found != std::end(kOperations));
    return static_cast<std::uint8_t>(found - std::begin(kOperations));
}

}  // namespace tapfix::fuzz
