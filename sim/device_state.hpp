#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tapfix::sim {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kNvItemSize = 128;
using NvValue = std::array<std::uint8_t, kNvItemSize>;

// Items whose meaning the device itself relies on.
inline constexpr std::uint16_t kNvEsn = 0;
inline constexpr std::uint16_t kNvBarcode = 22;
inline constexpr std::uint16_t kNvImei = 550;
inline constexpr std::uint16_t kNvWifiMac = 4678;
inline constexpr std::size_t kVersionCount = 9;
inline constexpr std::size_t kMacSize = 6;

enum class EfsType { Regular, Item };

struct EfsFile {
    EfsType type = EfsType::Regular;
    Bytes data;
    bool operator==(const EfsFile&) const = default;
};

struct WifiSettings {
    std::string ssid;
    std::string password;
    // The copies the firmware keeps aside and restores on request.
    std::string savedSsid;
    std::string savedPassword;
    // The committed Wi-Fi configuration value: two selector bytes and data.
    std::uint8_t valueFirst = 0;
    std::uint8_t valueSecond = 0;
    Bytes value;
    bool operator==(const WifiSettings&) const = default;
};

// What the flash holds in one partition: the image's length and SHA-256 (hex).
struct FlashImage {
    std::uint64_t size = 0;
    std::string sha256;
    bool operator==(const FlashImage&) const = default;
};

// Everything the router keeps across power cycles. An NV item present in `nv` is active;
// an absent one reads as "not active". The Wi-Fi MAC is NV item 4678 (bytes 0..5).
struct DeviceState {
    std::map<std::uint16_t, NvValue> nv;
    std::set<std::uint16_t> readOnlyNv;
    // EFS2 paths without a leading "/".
    std::map<std::string, EfsFile> efs;
    WifiSettings wifi;
    std::array<std::string, kVersionCount> versions;
    std::string compileDate;
    std::string compileTime;
    std::string spc;
    Bytes partitionTable;
    // Items the on-board backup service holds; they survive a download.
    std::map<std::uint16_t, NvValue> onboardBackup;
    std::uint8_t specialDlMode = 0;
    std::uint8_t autorun = 0;
    // Vendor MAC request kinds (0..3) this firmware implements; others answer "bad command".
    std::set<int> macKinds;
    // Images written by the flash programmer, by partition name ("0:DSP2").
    std::map<std::string, FlashImage> flash;
    // No bootable firmware (power lost during a download): the device stays in its boot stage.
    bool blank = false;

    bool operator==(const DeviceState&) const = default;
};

struct DefaultsOptions {
    // The ninth version string is this prefix followed by buildIdSuffix.
    std::string buildIdPrefix = "M9615A-CEFWMAZM-2.0.1017";
    std::string buildIdSuffix = "V01";
    std::string imei = "359876543210984";
    std::string wifiMac = "021A2B3C4D5E";
};

// A plausible router: NV items 1..7300 (a few inactive) and 8000..8028 with values of the
// sizes real items have, RF item files under nv/item_files/rfnv/ between 20085 and 25015,
// the tcxomgr calibration files, identity, Wi-Fi settings and version strings.
DeviceState DefaultDeviceState(const DefaultsOptions& options);
// The nine version strings a firmware of this build id reports; the ninth is
// "<build id><suffix>".
std::array<std::string, kVersionCount> FirmwareVersions(const std::string& buildId,
                                                        const std::string& suffix);

// NV item 550 as the device stores an IMEI: length byte 8, then the digits as nibbles with
// the identity type 0xA in the first low nibble. False when digits is not 15 decimal digits.
bool EncodeImei(std::string_view digits, NvValue* value);
// NV item 4678 bytes 0..5 as 12 upper-case hex digits; empty when the item is not active.
std::string WifiMacText(const DeviceState& state);
bool SetWifiMac(DeviceState& state, std::string_view text);
std::uint32_t EsnOf(const DeviceState& state);

nlohmann::json ToJson(const DeviceState& state);
bool FromJson(const nlohmann::json& json, DeviceState* state, std::string* error);
bool LoadState(const std::filesystem::path& path, DeviceState* state, std::string* error);
// Writes a temporary file beside the target and renames it over the target.
bool SaveState(const std::filesystem::path& path, const DeviceState& state, std::string* error);

std::string ToHex(std::span<const std::uint8_t> bytes);
bool FromHex(std::string_view text, Bytes* bytes);

}  // namespace tapfix::sim
