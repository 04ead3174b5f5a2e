#include "device/vendor.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "device/command_pattern.hpp"
#include "device/nv_efs.hpp"
#include "link/wire.hpp"

namespace tapfix::device {
namespace {

namespace failures {
constexpr std::string_view kCannotGetValue = "Cannot get value from the mobile, Since %s";
constexpr std::string_view kCannotWriteMac = "cannot write mac, since %s";
constexpr std::string_view kCannotReadMac = "cannot read mac, since %s";
constexpr std::string_view kBadMacText = "the MAC address is not twelve hexadecimal digits";
}  // namespace failures

constexpr std::uint8_t kOnboardSubsystem = 0xF0;
constexpr std::uint8_t kOnboardSendList = 0x00;
constexpr std::uint8_t kOnboardQuery = 0x01;
constexpr std::uint8_t kOnboardRestore = 0x02;
constexpr std::uint8_t kOnboardWait = 0x07;
constexpr std::uint8_t kOnboardBusy = 5;
constexpr std::size_t kOnboardState = 5;
constexpr std::size_t kOnboardFirstValue = 6;
constexpr std::size_t kOnboardSecondValue = 10;
constexpr ExchangePlan kOnboardPlan{2, 5000};

constexpr std::array<std::uint8_t, 4> kReadWifiValueRequest{0x4B, 0xCD, 0x69, 0x00};
constexpr std::array<std::uint8_t, 4> kWriteWifiValueHeader{0x4B, 0xCD, 0x68, 0x00};
constexpr std::array<std::uint8_t, 4> kCommitWifiRequest{0x4B, 0xCD, 0x03, 0x00};
constexpr std::array<std::uint8_t, 4> kRestorePasswordRequest{0x4B, 0xD0, 0x00, 0x03};
constexpr std::array<std::uint8_t, 4> kRestoreSsidRequest{0x4B, 0xD0, 0x00, 0x02};
constexpr std::size_t kWifiValueFirst = 5;
constexpr std::size_t kWifiValueSecond = 6;
constexpr std::size_t kWifiValueLength = 7;
constexpr std::size_t kWifiValueData = 9;

constexpr std::size_t kMacBytes = 6;
using MacAddress = std::array<std::uint8_t, kMacBytes>;
constexpr ExchangePlan kMacPlan{3, 3000};
// This item keeps the MAC last byte first.
constexpr std::uint16_t kReversedMacItem = 447;
constexpr std::uint8_t kBadCommand = 0x13;

constexpr std::array<std::uint8_t, 5> kMac0WriteHead{0x4B, 0xCE, 0x00, 0x00, 0x06};
constexpr std::array<std::uint8_t, 4> kMac0Read{0x4B, 0xCF, 0x00, 0x01};
constexpr std::array<std::uint8_t, 5> kMac1WriteHead{0x4B, 0xFA, 0x06, 0x00, 0x00};
constexpr std::array<std::uint8_t, 4> kMac1Read{0x4B, 0xFA, 0x05, 0x00};
constexpr std::array<std::uint8_t, 4> kMac2WriteHead{0x4B, 0xD3, 0x01, 0x00};
constexpr std::array<std::uint8_t, 11> kMac2Read{0x4B, 0xD3};
constexpr std::array<std::uint8_t, 4> kMac3WriteHead{0x4B, 0xC8, 0x02, 0x00};
constexpr std::array<std::uint8_t, 4> kMac3Read{0x4B, 0xC8, 0x01, 0x00};

// How one subsystem store of the MAC is written and read.
struct MacRoute {
    ConstBytes writeHead;  // the six MAC bytes follow
    bool zeroAfterMac;
    ConstBytes writeEcho;
    ConstBytes readRequest;
    ConstBytes readEcho;
    std::size_t statusOffset;
    std::size_t readMacOffset;
};

constexpr std::array<MacRoute, 4> kMacRoutes{{
    {kMac0WriteHead, false, ConstBytes(kMac0WriteHead).first(4), kMac0Read, kMac0Read, 4, 5},
    {kMac1WriteHead, false, ConstBytes(kMac1WriteHead).first(4), kMac1Read, kMac1Read, 4, 5},
    // This store answers with the MAC in place and its status behind it.
    {kMac2WriteHead, true, ConstBytes(kMac2Read).first(2), kMac2Read,
     ConstBytes(kMac2Read).first(2), 10, 4},
    {kMac3WriteHead, false, ConstBytes(kMac3Read).first(2), kMac3Read,
     ConstBytes(kMac3Read).first(2), 4, 5},
}};

ByteVector OnboardRequest(std::uint8_t command) {
    return {diag::kSubsystem, kOnboardSubsystem, command, 0x00};
}

// One request whose answer must echo its first four bytes and carry status 0.
bool VendorRequest(link::CPacket& packet, ConstBytes request, ExchangePlan plan,
                   std::string_view failure = failures::kCannotGetValue) {
    return ExchangeRaw(packet, request, plan, failure) && AnswerAccepted(packet, request.first(4));
}

bool StillBusy(link::CPacket& packet) {
    packet.SetLastError("the Phone was still busy after " +
                        std::to_string(kOnboardBusyLimit.count()) + " minutes");
    return packet.FailWith(failures::kCannotGetValue);
}

// Repeats `command` while the service answers busy; true once an accepted answer carries
// another state, which it leaves in the packet's answer.
bool PollOnboard(link::CPacket& packet, std::uint8_t command, platform::Clock& clock) {
    const platform::TimePoint deadline = clock.Now() + platform::ScaledWait(kOnboardBusyLimit);
    const ByteVector request = OnboardRequest(command);
    for (;;) {
        if (!VendorRequest(packet, request, kOnboardPlan)) {
            return false;
        }
        const std::optional<std::uint8_t> state = AnswerU8(packet, kOnboardState);
        if (!state) {
            return false;
        }
        if (*state != kOnboardBusy) {
            return true;
        }
        if (clock.Now() >= deadline) {
            return StillBusy(packet);
        }
    }
}

std::optional<std::uint8_t> HexNibble(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    return std::nullopt;
}

std::optional<MacAddress> ParseMac(std::string_view text) {
    if (text.size() != 2 * kMacBytes) {
        return std::nullopt;
    }
    MacAddress mac{};
    for (std::size_t i = 0; i < kMacBytes; ++i) {
        const std::optional<std::uint8_t> high = HexNibble(text[2 * i]);
        const std::optional<std::uint8_t> low = HexNibble(text[2 * i + 1]);
        if (!high || !low) {
            return std::nullopt;
        }
        mac[i] = static_cast<std::uint8_t>(*high << 4 | *low);
    }
    return mac;
}

void FormatMac(const MacAddress& mac, MacText& text) {
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    text.fill('\0');
    for (std::size_t i = 0; i < kMacBytes; ++i) {
        text[2 * i] = kDigits[mac[i] >> 4];
        text[2 * i + 1] = kDigits[mac[i] & 0x0F];
    }
}

// The MAC as the NV item stores it (and back: the order is its own inverse).
MacAddress ItemOrder(std::uint16_t item, MacAddress mac) {
    if (item == kReversedMacItem) {
        std::reverse(mac.begin(), mac.end());
    }
    return mac;
}

const MacRoute* SubsystemRoute(std::uint16_t kind, bool subsystemFirst) {
    if (kind < kMacRoutes.size()) {
        return &kMacRoutes[kind];
    }
    return kind == kMacItemWithSubsystem && subsystemFirst ? &kMacRoutes[0] : nullptr;
}

bool WriteMacItem(link::CPacket& packet, std::uint16_t item, const MacAddress& mac) {
    NvItemData data{};
    const MacAddress stored = ItemOrder(item, mac);
    std::copy(stored.begin(), stored.end(), data.begin());
    std::uint16_t status = 0;
    return WriteNvItem(packet, item, data, status);
}

std::optional<MacAddress> ReadMacItem(link::CPacket& packet, std::uint16_t item) {
    NvItemData data{};
    std::uint16_t status = 0;
    if (!ReadNvItem(packet, item, data, status)) {
        return std::nullopt;
    }
    MacAddress stored{};
    std::copy_n(data.begin(), kMacBytes, stored.begin());
    return ItemOrder(item, stored);
}

std::optional<MacAddress> ReadMacStore(link::CPacket& packet, const MacRoute& route) {
    if (!ExchangeRaw(packet, route.readRequest, kMacPlan, failures::kCannotReadMac) ||
        !AnswerAccepted(packet, route.readEcho, route.statusOffset)) {
        return std::nullopt;
    }
    const std::optional<ConstBytes> bytes = AnswerBytes(packet, route.readMacOffset, kMacBytes);
    if (!bytes) {
        return std::nullopt;
    }
    MacAddress mac{};
    std::copy(bytes->begin(), bytes->end(), mac.begin());
    return mac;
}

}  // namespace

bool SendOnboardBackupList(link::CPacket& packet, bool more, std::uint16_t count,
                           const OnboardList& list) {
    ByteVector request = OnboardRequest(kOnboardSendList);
    request.push_back(more ? 1 : 0);
    wire::AppendLe16(request, count);
    request.insert(request.end(), list.begin(), list.end());
    return VendorRequest(packet, request, kOnboardPlan);
}

bool QueryOnboardResult(link::CPacket& packet, OnboardResult& result, platform::Clock& clock) {
    result = {};
    if (!PollOnboard(packet, kOnboardQuery, clock)) {
        return false;
    }
    result.state = *AnswerU8(packet, kOnboardState);
    switch (result.state) {
        case 0:
            return true;
        case 1:
        case 2:
            result.first = AnswerLe32(packet, kOnboardFirstValue).value_or(0);
            return false;
        case 3:
            result.first = AnswerLe32(packet, kOnboardFirstValue).value_or(0);
            result.second = AnswerLe32(packet, kOnboardSecondValue).value_or(0);
            return false;
        default:
            return false;
    }
}

bool StartOnboardRestore(link::CPacket& packet) {
    return VendorRequest(packet, OnboardRequest(kOnboardRestore), kOnboardPlan);
}

bool SendOnboardCommand(link::CPacket& packet, std::uint8_t command) {
    return VendorRequest(packet, OnboardRequest(command), kOnboardPlan, {});
}

bool WaitOnboardResult(link::CPacket& packet, platform::Clock& clock) {
    return PollOnboard(packet, kOnboardWait, clock) && AnswerU8(packet, kOnboardState) == 0;
}

bool ReadWifiValue(link::CPacket& packet, WifiValue& value) {
    value = {};
    if (!VendorRequest(packet, kReadWifiValueRequest, {3, 1000})) {
        return false;
    }
    const std::optional<std::uint8_t> first = AnswerU8(packet, kWifiValueFirst);
    const std::optional<std::uint8_t> second = AnswerU8(packet, kWifiValueSecond);
    const std::optional<std::uint16_t> length = AnswerLe16(packet, kWifiValueLength);
    if (!first || !second || !length) {
        return false;
    }
    value.first = *first;
    value.second = *second;
    value.length = *length;
    if (*length > kWifiValueCapacity) {
        packet.SetLastError(texts::kTooMuchData);
        return false;
    }
    const std::optional<ConstBytes> data = AnswerBytes(packet, kWifiValueData, *length);
    if (!data) {
        return false;
    }
    std::copy(data->begin(), data->end(), value.data.begin());
    return true;
}

bool WriteWifiValue(link::CPacket& packet, std::uint8_t first, std::uint8_t second,
                    std::span<const std::uint8_t> data) {
    if (data.size() > 0xFFFF) {
        packet.SetLastError(texts::kRequestTooLong);
        return packet.FailWith(failures::kCannotGetValue);
    }
    ByteVector request(kWriteWifiValueHeader.begin(), kWriteWifiValueHeader.end());
    request.push_back(first);
    request.push_back(second);
    wire::AppendLe16(request, static_cast<std::uint16_t>(data.size()));
    request.insert(request.end(), data.begin(), data.end());
    return VendorRequest(packet, request, {1, 1000});
}

bool CommitWifiValues(link::CPacket& packet) {
    return VendorRequest(packet, kCommitWifiRequest, {90, 2000});
}

bool RestoreWifiPassword(link::CPacket& packet) {
    return VendorRequest(packet, kRestorePasswordRequest, {2, 5000});
}

bool RestoreSsid(link::CPacket& packet) {
    return VendorRequest(packet, kRestoreSsidRequest, {2, 5000});
}

bool WriteWifiMac(link::CPacket& packet, std::string_view text, std::uint16_t kind,
                  bool subsystemFirst) {
    const std::optional<MacAddress> mac = ParseMac(text);
    if (!mac) {
        packet.SetLastError(failures::kBadMacText);
        return packet.FailWith(failures::kCannotWriteMac);
    }
    const MacRoute* route = SubsystemRoute(kind, subsystemFirst);
    if (route == nullptr) {
        return WriteMacItem(packet, kind, *mac);
    }
    ByteVector request(route->writeHead.begin(), route->writeHead.end());
    request.insert(request.end(), mac->begin(), mac->end());
    if (route->zeroAfterMac) {
        request.push_back(0x00);
    }
    if (!ExchangeRaw(packet, request, kMacPlan, failures::kCannotWriteMac)) {
        return false;
    }
    // Firmware without the subsystem store rejects the request as a bad command.
    if (kind == kMacItemWithSubsystem && wire::ReadU8(Answer(packet), 0) == kBadCommand) {
        return WriteMacItem(packet, kind, *mac);
    }
    return AnswerAccepted(packet, route->writeEcho, route->statusOffset);
}

bool ReadWifiMac(link::CPacket& packet, std::uint16_t kind, MacText& text) {
    text.fill('\0');
    const MacRoute* route = SubsystemRoute(kind, false);
    const std::optional<MacAddress> mac =
        route != nullptr ? ReadMacStore(packet, *route) : ReadMacItem(packet, kind);
    if (!mac) {
        return false;
    }
    FormatMac(*mac, text);
    return true;
}

}  // namespace tapfix::device
