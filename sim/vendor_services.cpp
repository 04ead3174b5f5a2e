#include "sim/vendor_services.hpp"

#include <algorithm>

#include "sim/faults.hpp"

namespace tapfix::sim {
namespace {

using diag::Exchange;
using wire::AppendLe16;
using wire::AppendLe32;
using wire::ReadLe16;
using wire::ReadLe32;
using wire::ReadU8;

enum Subsystem : std::uint8_t {
    kOnboard = 0xF0,
    kWifiValue = 0xCD,
    kWifiRestore = 0xD0,
    kMacWrite0 = 0xCE,
    kMacRead0 = 0xCF,
    kMac1 = 0xFA,
    kMac2 = 0xD3,
    kMac3 = 0xC8,
    kSpecialDownload = 0xAA,
    kAutorun = 0xA1,
    kPartitionTable = 0xC9,
};

constexpr std::uint8_t kStatusOk = 0;
constexpr std::uint8_t kStatusRefused = 1;

// On-board backup service.
constexpr std::uint8_t kOnboardList = 0x00;
constexpr std::uint8_t kOnboardQuery = 0x01;
constexpr std::uint8_t kOnboardRestore = 0x02;
constexpr std::uint8_t kOnboardWait = 0x07;
constexpr std::size_t kOnboardListOffset = 7;
constexpr std::size_t kOnboardListArea = 350;
constexpr std::uint32_t kOnboardUnusedEntry = 0xFFFFFFFF;
// Result states: done, an item's byte range wrong, list count mismatch, an item failed,
// flash write error, still working; and none yet (no operation since boot).
constexpr std::uint8_t kOnboardDone = 0;
constexpr std::uint8_t kOnboardCountMismatch = 2;
constexpr std::uint8_t kOnboardItemFailed = 3;
constexpr std::uint8_t kOnboardBusy = 5;
constexpr std::uint8_t kOnboardNoOperation = 0xFF;
constexpr std::uint32_t kNvBadParameter = 6;

constexpr std::uint16_t kWifiValueRead = 0x0069;
constexpr std::uint16_t kWifiValueWrite = 0x0068;
constexpr std::uint16_t kWifiValueCommit = 0x0003;
constexpr std::size_t kWifiValueMax = 120;
constexpr std::uint8_t kRestoreSsid = 0x02;
constexpr std::uint8_t kRestorePassword = 0x03;

constexpr std::uint8_t kPartitionTableCommand = 0x0F;

Bytes Status(std::span<const std::uint8_t> request, std::uint8_t status) {
    Bytes answer = diag::EchoOf(request, diag::kSubsystemHeader);
    answer.push_back(status);
    return answer;
}

Bytes Malformed(Exchange& exchange) {
    exchange.trace["malformed"] = true;
    return diag::ErrorAnswer(diag::kBadLength, exchange.request);
}

Bytes Unsupported(Exchange& exchange) {
    exchange.Name("unsupported");
    return diag::ErrorAnswer(diag::kBadCommand, exchange.request);
}

std::optional<Bytes> MacAt(std::span<const std::uint8_t> request, std::size_t offset) {
    if (offset > request.size() || request.size() - offset < kMacSize) {
        return std::nullopt;
    }
    const auto first = request.begin() + static_cast<std::ptrdiff_t>(offset);
    return Bytes(first, first + kMacSize);
}

std::optional<Bytes> CurrentMac(const DeviceState& state) {
    const auto item = state.nv.find(kNvWifiMac);
    if (item == state.nv.end()) {
        return std::nullopt;
    }
    return Bytes(item->second.begin(), item->second.begin() + kMacSize);
}

void StoreMac(DeviceState& state, const Bytes& mac) {
    NvValue& item = state.nv[kNvWifiMac];
    std::copy(mac.begin(), mac.end(), item.begin());
}

std::string MacText(const Bytes& mac) {
    std::string text = ToHex(mac);
    std::transform(text.begin(), text.end(), text.begin(), ::toupper);
    return text;
}

// Which request of a MAC subsystem this is, and where its MAC bytes lie.
struct MacRequest {
    bool write = false;
    std::size_t macOffset = 0;
};

std::optional<MacRequest> ClassifyMac(std::span<const std::uint8_t> request, int kind) {
    const std::uint8_t subsystem = request[1];
    const std::uint8_t command = ReadU8(request, 2).value_or(0xFF);
    switch (kind) {
        case 0:
            if (subsystem == kMacWrite0 && command == 0x00 && ReadU8(request, 4) == kMacSize) {
                return MacRequest{true, 5};
            }
            return subsystem == kMacRead0 && ReadU8(request, 3) == 0x01
                       ? std::optional<MacRequest>(MacRequest{false, 0})
                       : std::nullopt;
        case 1:
            if (command == 0x06) {
                return MacRequest{true, 5};
            }
            return command == 0x05 ? std::optional<MacRequest>(MacRequest{false, 0}) : std::nullopt;
        case 2:
        case 3: {
            const std::uint8_t writeCommand = kind == 2 ? 0x01 : 0x02;
            const std::uint8_t readCommand = kind == 2 ? 0x00 : 0x01;
            if (command == writeCommand) {
                return MacRequest{true, 4};
            }
            return command == readCommand ? std::optional<MacRequest>(MacRequest{false, 0})
                                          : std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

// Kind 2 answers with the MAC at bytes 4..9 and the status last; the others put the status
// at byte 4 and the MAC of a read behind it.
Bytes MacAnswer(std::span<const std::uint8_t> request, int kind, std::uint8_t status,
                const std::optional<Bytes>& mac) {
    Bytes answer = diag::EchoOf(request, diag::kSubsystemHeader);
    const Bytes macBytes = mac.value_or(Bytes(kMacSize, 0));
    if (kind == 2) {
        answer.insert(answer.end(), macBytes.begin(), macBytes.end());
        answer.push_back(status);
        return answer;
    }
    answer.push_back(status);
    if (mac) {
        answer.insert(answer.end(), macBytes.begin(), macBytes.end());
    }
    return answer;
}

int MacKindOf(std::uint8_t subsystem) {
    switch (subsystem) {
        case kMacWrite0:
        case kMacRead0:
            return 0;
        case kMac1:
            return 1;
        case kMac2:
            return 2;
        case kMac3:
            return 3;
        default:
            return -1;
    }
}

}  // namespace

std::optional<Bytes> VendorServices::Handle(Exchange& exchange, const DeviceProfile& profile) {
    const std::uint8_t subsystem = exchange.request[1];
    if (const int kind = MacKindOf(subsystem); kind >= 0) {
        return Mac(exchange, kind);
    }
    switch (subsystem) {
        case kOnboard:
            return Onboard(exchange, profile);
        case kWifiValue:
            return WifiValue(exchange);
        case kWifiRestore:
            return WifiRestore(exchange);
        case kSpecialDownload:
            if (exchange.context.Faults().NextDlFlagRefused()) {
                exchange.Name("special_dl_mode");
                exchange.trace["fault"] = "dlflag-refused";
                return Status(exchange.request, kStatusRefused);
            }
            return StoreFlag(exchange, "special_dl_mode", exchange.State().specialDlMode);
        case kAutorun:
            return StoreFlag(exchange, "autorun", exchange.State().autorun);
        case kPartitionTable:
            return PartitionTable(exchange);
        default:
            return std::nullopt;
    }
}

Bytes VendorServices::Onboard(Exchange& exchange, const DeviceProfile& profile) {
    const auto command = ReadU8(exchange.request, 2);
    if (!command || ReadU8(exchange.request, 3) != 0x00) {
        return Unsupported(exchange);
    }
    switch (*command) {
        case kOnboardList:
            return OnboardListBatch(exchange, profile);
        case kOnboardRestore:
            return OnboardRestore(exchange, profile);
        case kOnboardQuery:
        case kOnboardWait:
            return OnboardState(exchange);
        default:
            return Unsupported(exchange);
    }
}

Bytes VendorServices::OnboardListBatch(Exchange& exchange, const DeviceProfile& profile) {
    exchange.Name("onboard_list");
    const auto more = ReadU8(exchange.request, 4);
    const auto count = ReadLe16(exchange.request, 5);
    if (!more || !count || exchange.request.size() < kOnboardListOffset + kOnboardListArea) {
        return Malformed(exchange);
    }
    exchange.trace["more"] = *more;
    exchange.trace["count"] = *count;
    if (*count > kOnboardListArea / 4) {
        return Status(exchange.request, kStatusRefused);
    }
    if (!list_.collecting) {
        list_ = OnboardList{true, 0, 0, {}};
    }
    // The firmware counts the entries it can parse and compares with the count it was given.
    for (std::size_t i = 0; i < *count; ++i) {
        const std::uint32_t item = *ReadLe32(exchange.request, kOnboardListOffset + 4 * i);
        ++list_.sent;
        if (item != kOnboardUnusedEntry) {
            ++list_.parsed;
            list_.items.push_back(item);
        }
    }
    if (*more == 0) {
        list_.collecting = false;
        result_ = RunOnboardBackup(exchange.State());
        busyPolls_ = profile.onboardBusyPolls;
        exchange.trace["items"] = list_.items.size();
        exchange.trace["result"] = result_->state;
    }
    return Status(exchange.request, kStatusOk);
}

VendorServices::OnboardResult VendorServices::RunOnboardBackup(DeviceState& state) const {
    // The host knows how many it sent; the answer leads with what the firmware counted.
    if (list_.sent != list_.parsed) {
        return {kOnboardCountMismatch, list_.parsed, list_.sent};
    }
    std::map<std::uint16_t, NvValue> kept;
    for (const std::uint32_t item : list_.items) {
        if (item > 0xFFFF) {
            return {kOnboardItemFailed, item, kNvBadParameter};
        }
        // Inactive items have nothing to keep; the firmware passes over them.
        if (const auto value = state.nv.find(static_cast<std::uint16_t>(item));
            value != state.nv.end()) {
            kept[value->first] = value->second;
        }
    }
    state.onboardBackup = std::move(kept);
    return {kOnboardDone, 0, 0};
}

Bytes VendorServices::OnboardRestore(Exchange& exchange, const DeviceProfile& profile) {
    exchange.Name("onboard_restore");
    DeviceState& state = exchange.State();
    if (state.onboardBackup.empty()) {
        exchange.trace["status"] = kStatusRefused;
        return Status(exchange.request, kStatusRefused);
    }
    for (const auto& [item, value] : state.onboardBackup) {
        state.nv[item] = value;
    }
    exchange.trace["items"] = state.onboardBackup.size();
    result_ = OnboardResult{kOnboardDone, 0, 0};
    busyPolls_ = profile.onboardBusyPolls;
    return Status(exchange.request, kStatusOk);
}

Bytes VendorServices::OnboardState(Exchange& exchange) {
    exchange.Name(exchange.request[2] == kOnboardWait ? "onboard_wait" : "onboard_query");
    OnboardResult answered{kOnboardNoOperation, 0, 0};
    if (busyPolls_ > 0) {
        --busyPolls_;
        answered = {kOnboardBusy, 0, 0};
    } else if (result_) {
        answered = *result_;
    }
    exchange.trace["state"] = answered.state;
    Bytes answer = Status(exchange.request, kStatusOk);
    answer.push_back(answered.state);
    AppendLe32(answer, answered.first);
    AppendLe32(answer, answered.second);
    return answer;
}

Bytes VendorServices::WifiValue(Exchange& exchange) {
    const auto command = ReadLe16(exchange.request, 2);
    WifiSettings& wifi = exchange.State().wifi;
    if (command == kWifiValueRead) {
        exchange.Name("wifi_value_read");
        Bytes answer = Status(exchange.request, kStatusOk);
        answer.push_back(wifi.valueFirst);
        answer.push_back(wifi.valueSecond);
        AppendLe16(answer, static_cast<std::uint16_t>(wifi.value.size()));
        answer.insert(answer.end(), wifi.value.begin(), wifi.value.end());
        return answer;
    }
    if (command == kWifiValueWrite) {
        exchange.Name("wifi_value_write");
        const auto length = ReadLe16(exchange.request, 6);
        constexpr std::size_t kDataOffset = 8;
        if (!length || exchange.request.size() - kDataOffset < *length) {
            return Malformed(exchange);
        }
        if (*length > kWifiValueMax) {
            return Status(exchange.request, kStatusRefused);
        }
        const auto data = exchange.request.subspan(kDataOffset, *length);
        pendingWifiValue_ = {exchange.request[4], exchange.request[5],
                             Bytes(data.begin(), data.end())};
        exchange.trace["bytes"] = *length;
        return Status(exchange.request, kStatusOk);
    }
    if (command == kWifiValueCommit) {
        exchange.Name("wifi_value_commit");
        if (pendingWifiValue_) {
            wifi.valueFirst = pendingWifiValue_->first;
            wifi.valueSecond = pendingWifiValue_->second;
            wifi.value = std::move(pendingWifiValue_->data);
            pendingWifiValue_.reset();
        }
        return Status(exchange.request, kStatusOk);
    }
    return Unsupported(exchange);
}

Bytes VendorServices::WifiRestore(Exchange& exchange) {
    const auto what = ReadU8(exchange.request, 3);
    if (ReadU8(exchange.request, 2) != 0x00 || (what != kRestoreSsid && what != kRestorePassword)) {
        return Unsupported(exchange);
    }
    WifiSettings& wifi = exchange.State().wifi;
    const bool ssid = what == kRestoreSsid;
    exchange.Name(ssid ? "wifi_restore_ssid" : "wifi_restore_password");
    const std::string& saved = ssid ? wifi.savedSsid : wifi.savedPassword;
    if (saved.empty()) {
        return Status(exchange.request, kStatusRefused);
    }
    (ssid ? wifi.ssid : wifi.password) = saved;
    return Status(exchange.request, kStatusOk);
}

Bytes VendorServices::Mac(Exchange& exchange, int kind) {
    DeviceState& state = exchange.State();
    const auto request = ClassifyMac(exchange.request, kind);
    if (!state.macKinds.contains(kind) || !request) {
        return Unsupported(exchange);
    }
    exchange.Name(request->write ? "mac_write" : "mac_read");
    exchange.trace["kind"] = kind;
    if (!request->write) {
        const auto mac = CurrentMac(state);
        if (mac) {
            exchange.trace["mac"] = MacText(*mac);
        }
        return MacAnswer(exchange.request, kind, mac ? kStatusOk : kStatusRefused, mac);
    }
    const auto mac = MacAt(exchange.request, request->macOffset);
    if (!mac) {
        return Malformed(exchange);
    }
    StoreMac(state, *mac);
    exchange.trace["mac"] = MacText(*mac);
    return MacAnswer(exchange.request, kind, kStatusOk, kind == 2 ? mac : std::nullopt);
}

Bytes VendorServices::StoreFlag(Exchange& exchange, const char* name, std::uint8_t& flag) {
    exchange.Name(name);
    const auto value = ReadU8(exchange.request, 4);
    if (!value || ReadLe16(exchange.request, 2) != 0) {
        return Malformed(exchange);
    }
    flag = *value;
    exchange.trace["value"] = *value;
    return Status(exchange.request, kStatusOk);
}

Bytes VendorServices::PartitionTable(Exchange& exchange) {
    if (ReadU8(exchange.request, 2) != kPartitionTableCommand ||
        ReadU8(exchange.request, 3) != 0x00) {
        return Unsupported(exchange);
    }
    exchange.Name("partition_table_read");
    const Bytes& table = exchange.State().partitionTable;
    Bytes answer = diag::EchoOf(exchange.request, diag::kSubsystemHeader);
    AppendLe16(answer, table.empty() ? kStatusRefused : kStatusOk);
    AppendLe16(answer, static_cast<std::uint16_t>(table.size()));
    answer.insert(answer.end(), table.begin(), table.end());
    exchange.trace["bytes"] = table.size();
    return answer;
}

}  // namespace tapfix::sim
