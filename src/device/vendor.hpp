#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "link/packet.hpp"
#include "platform/clock.hpp"

// The router firmware's own subsystem requests: the on-board NV backup service, Wi-Fi values
// and restore triggers, and the Wi-Fi MAC address in its several stores. Every operation
// returns false on failure; a text of its own, where it has one, is in packet.LastError().
namespace tapfix::device {

// --- on-board backup service ---
inline constexpr std::size_t kOnboardListSize = 350;
using OnboardList = std::array<std::uint8_t, kOnboardListSize>;
// The service works through its list on its own and answers "busy" meanwhile; a device still
// busy after this long (scaled like every named wait) is given up on.
inline constexpr std::chrono::minutes kOnboardBusyLimit{10};

struct OnboardResult {
    std::uint8_t state = 0;
    std::uint32_t first = 0;   // states 1, 2 and 3
    std::uint32_t second = 0;  // state 3
};

bool SendOnboardBackupList(link::CPacket& packet, bool more, std::uint16_t count,
                           const OnboardList& list);
// True when the service reports state 0; other states hand back their values and give false.
bool QueryOnboardResult(link::CPacket& packet, OnboardResult& result,
                        platform::Clock& clock = platform::SystemClock());
bool StartOnboardRestore(link::CPacket& packet);
bool SendOnboardCommand(link::CPacket& packet, std::uint8_t command);
bool WaitOnboardResult(link::CPacket& packet, platform::Clock& clock = platform::SystemClock());

// --- Wi-Fi values ---
inline constexpr std::size_t kWifiValueCapacity = 120;
struct WifiValue {
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    std::uint16_t length = 0;
    std::array<std::uint8_t, kWifiValueCapacity> data{};
};

bool ReadWifiValue(link::CPacket& packet, WifiValue& value);
bool WriteWifiValue(link::CPacket& packet, std::uint8_t first, std::uint8_t second,
                    std::span<const std::uint8_t> data);
bool CommitWifiValues(link::CPacket& packet);
bool RestoreWifiPassword(link::CPacket& packet);
bool RestoreSsid(link::CPacket& packet);

// --- Wi-Fi MAC address ---
// Kinds 0 to 3 name a subsystem store; any other kind is the number of the NV item that holds
// the MAC. This one tries the subsystem first when asked to and falls back to its NV item.
inline constexpr std::uint16_t kMacItemWithSubsystem = 4678;
// Twelve upper-case hexadecimal digits and a terminator.
using MacText = std::array<char, 13>;

// `mac` is twelve hexadecimal digits, first byte first.
bool WriteWifiMac(link::CPacket& packet, std::string_view mac, std::uint16_t kind,
                  bool subsystemFirst = false);
bool ReadWifiMac(link::CPacket& packet, std::uint16_t kind, MacText& mac);

}  // namespace tapfix::device
