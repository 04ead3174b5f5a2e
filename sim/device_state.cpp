#include "sim/device_state.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace tapfix::sim {
namespace {

using nlohmann::json;

// A fixed generator, so every default device is the same device.
std::uint64_t Mix(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ULL;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
    return value ^ (value >> 31);
}

Bytes GeneratedBytes(std::uint64_t seed, std::size_t length) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(Mix(seed * 131 + i));
    }
    return bytes;
}

// Most items hold a flag or a small number; calibration tables fill the whole item.
std::size_t NvValueLength(std::uint16_t item) {
    const std::uint64_t pick = Mix(item) % 10;
    if (pick < 6) {
        return 1 + Mix(item + 1) % 8;
    }
    if (pick < 9) {
        return 16 + Mix(item + 2) % 49;
    }
    return kNvItemSize;
}

NvValue ValueFrom(std::span<const std::uint8_t> bytes) {
    NvValue value{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), value.size()), value.begin());
    return value;
}

NvValue TextItem(std::string_view text) {
    return ValueFrom({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

constexpr std::uint16_t kLastGeneralItem = 7300;
constexpr std::uint16_t kFirstLockItem = 8000;
constexpr std::uint16_t kLastLockItem = 8028;
// Items the package names by value; never left inactive.
constexpr std::uint16_t kKnownItems[] = {0,    22,   23,   52,   447,  543,  550,  1943, 4212,
                                         4678, 6700, 6705, 6735, 6736, 6737, 6747, 6861};

bool InactiveByDefault(std::uint16_t item) {
    return std::find(std::begin(kKnownItems), std::end(kKnownItems), item) ==
               std::end(kKnownItems) &&
           Mix(item ^ 0x5A5A) % 40 == 0;
}

void AddDefaultNv(DeviceState& state, const DefaultsOptions& options) {
    for (std::uint16_t item = 1; item <= kLastGeneralItem; ++item) {
        if (!InactiveByDefault(item)) {
            state.nv[item] = ValueFrom(GeneratedBytes(item, NvValueLength(item)));
        }
    }
    for (std::uint16_t item = kFirstLockItem; item <= kLastLockItem; ++item) {
        state.nv[item] = ValueFrom(GeneratedBytes(item, 4));
    }
    state.nv[kNvEsn] = ValueFrom(Bytes{0x5E, 0x2A, 0x91, 0x80});
    state.readOnlyNv = {kNvEsn};
    const std::string serial = options.imei.size() > 9 ? options.imei.substr(9) : options.imei;
    state.nv[kNvBarcode] = TextItem("TFX1517A0042" + serial);
    EncodeImei(options.imei, &state.nv[kNvImei]);
    SetWifiMac(state, options.wifiMac);
}

constexpr int kFirstRfItemFile = 20085;
constexpr int kLastRfItemFile = 25015;
constexpr int kKnownRfItemFiles[] = {20207, 20208, 22957, 20219, 22946, 22982, 23764};

std::string RfItemPath(int number) {
    char name[16];
    std::snprintf(name, sizeof name, "%08d", number);
    return std::string("nv/item_files/rfnv/") + name;
}

void AddCalibrationFiles(DeviceState& state) {
    const std::string tcxo = "nv/item_files/mcs/tcxomgr/";
    const std::pair<const char*, std::size_t> items[] = {
        {"field_cal_params", 40}, {"ifc_version", 4},       {"ifc_c1_filter", 24},
        {"ifc_c1_history", 64},   {"field_cal_version", 4}, {"factory_cal_version", 4},
        {"field_aging_data", 32}, {"tcxo_mode", 1},         {"xo_factory_cal_debug", 96}};
    std::uint64_t seed = 90000;
    for (const auto& [name, size] : items) {
        state.efs[tcxo + name] = {EfsType::Item, GeneratedBytes(++seed, size)};
    }
    state.efs[tcxo + "ft_table"] = {EfsType::Regular, GeneratedBytes(++seed, 1300)};
    state.efs[tcxo + "xo_factory_cal_data"] = {EfsType::Regular, GeneratedBytes(++seed, 600)};
    std::string conf;
    for (const auto& [name, size] : items) {
        conf += "/" + tcxo + name + "\n";
    }
    state.efs["nv/item_files/conf/mcs_tcxomgr.conf"] = {EfsType::Regular,
                                                        Bytes(conf.begin(), conf.end())};
}

void AddDefaultEfs(DeviceState& state) {
    for (int number = kFirstRfItemFile; number <= kLastRfItemFile; ++number) {
        const bool known = std::find(std::begin(kKnownRfItemFiles), std::end(kKnownRfItemFiles),
                                     number) != std::end(kKnownRfItemFiles);
        if (known || Mix(static_cast<std::uint64_t>(number)) % 5 != 0) {
            state.efs[RfItemPath(number)] = {EfsType::Item,
                                             GeneratedBytes(number, 2 + Mix(number + 7) % 99)};
        }
    }
    AddCalibrationFiles(state);
}

// The user partition table: magic words, version 3, 20 entries of name, start, length and
// attributes.
Bytes DefaultPartitionTable() {
    static constexpr const char* kNames[] = {"0:MIBIB",      "0:SBL2",     "0:RPM",    "0:EFS2",
                                             "0:EFS2APPS",   "0:APPSBL",   "0:APPS",   "0:DSP1",
                                             "0:DSP2",       "0:DSP3",     "0:FOTA",   "0:CACHE",
                                             "0:MISC",       "0:RECOVERY", "0:SYSTEM", "0:USERDATA",
                                             "0:RECOVERYFS", "0:CUSTOM",   "0:BACKUP", "0:LOG"};
    Bytes table;
    const std::uint32_t header[] = {0xAA7D1B9A, 0x1F7D48BC, 3, std::size(kNames)};
    for (const std::uint32_t word : header) {
        for (int shift = 0; shift < 32; shift += 8) {
            table.push_back(static_cast<std::uint8_t>(word >> shift));
        }
    }
    std::uint32_t start = 0;
    for (const char* name : kNames) {
        Bytes entry(16, 0);
        std::copy_n(name, std::min<std::size_t>(std::strlen(name), 16), entry.begin());
        const std::uint32_t length = 8 + Mix(start) % 120;
        const std::uint32_t fields[] = {start, length, 0x00FF0100};
        for (const std::uint32_t word : fields) {
            for (int shift = 0; shift < 32; shift += 8) {
                entry.push_back(static_cast<std::uint8_t>(word >> shift));
            }
        }
        table.insert(table.end(), entry.begin(), entry.end());
        start += length;
    }
    return table;
}

void AddIdentity(DeviceState& state, const DefaultsOptions& options) {
    state.versions = FirmwareVersions(options.buildIdPrefix, options.buildIdSuffix);
    state.compileDate = "Mar 05 2014";
    state.compileTime = "10:21:37";
    state.spc = "000000";
    const std::string tail =
        options.wifiMac.size() == 2 * kMacSize ? options.wifiMac.substr(8) : "0000";
    state.wifi.ssid = state.wifi.savedSsid = "TAPFIX-" + tail;
    state.wifi.password = state.wifi.savedPassword = "58142907";
    state.partitionTable = DefaultPartitionTable();
    state.macKinds = {0, 1, 2, 3};
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// NV values are mostly zero padding: the file keeps them without their trailing zeros.
std::string NvToHex(const NvValue& value) {
    const auto end = std::find_if(value.rbegin(), value.rend(), [](std::uint8_t b) { return b; });
    return ToHex({value.begin(), end.base()});
}

bool NvFromHex(const std::string& text, NvValue* value) {
    Bytes bytes;
    if (!FromHex(text, &bytes) || bytes.size() > kNvItemSize) {
        return false;
    }
    *value = ValueFrom(bytes);
    return true;
}

std::uint16_t ItemNumber(const std::string& key) {
    std::size_t used = 0;
    const unsigned long number = std::stoul(key, &used);
    if (used != key.size() || number > 0xFFFF) {
        throw std::invalid_argument("bad NV item number " + key);
    }
    return static_cast<std::uint16_t>(number);
}

json NvMapToJson(const std::map<std::uint16_t, NvValue>& items) {
    json out = json::object();
    for (const auto& [item, value] : items) {
        out[std::to_string(item)] = NvToHex(value);
    }
    return out;
}

std::map<std::uint16_t, NvValue> NvMapFromJson(const json& in) {
    std::map<std::uint16_t, NvValue> items;
    for (const auto& [key, text] : in.items()) {
        if (!NvFromHex(text.get<std::string>(), &items[ItemNumber(key)])) {
            throw std::invalid_argument("bad value of NV item " + key);
        }
    }
    return items;
}

Bytes BytesFromJson(const json& in, const char* what) {
    Bytes bytes;
    if (!FromHex(in.get<std::string>(), &bytes)) {
        throw std::invalid_argument(std::string("bad hex in ") + what);
    }
    return bytes;
}

json EfsToJson(const std::map<std::string, EfsFile>& files) {
    json out = json::object();
    for (const auto& [path, file] : files) {
        out[path] = {{"type", file.type == EfsType::Item ? "item" : "regular"},
                     {"data", ToHex(file.data)}};
    }
    return out;
}

std::map<std::string, EfsFile> EfsFromJson(const json& in) {
    std::map<std::string, EfsFile> files;
    for (const auto& [path, file] : in.items()) {
        const std::string type = file.at("type").get<std::string>();
        if (type != "item" && type != "regular") {
            throw std::invalid_argument("bad EFS file type of " + path);
        }
        files[path] = {type == "item" ? EfsType::Item : EfsType::Regular,
                       BytesFromJson(file.at("data"), path.c_str())};
    }
    return files;
}

json WifiToJson(const WifiSettings& wifi) {
    return {{"ssid", wifi.ssid},
            {"password", wifi.password},
            {"savedSsid", wifi.savedSsid},
            {"savedPassword", wifi.savedPassword},
            {"valueFirst", wifi.valueFirst},
            {"valueSecond", wifi.valueSecond},
            {"value", ToHex(wifi.value)}};
}

WifiSettings WifiFromJson(const json& in) {
    WifiSettings wifi;
    wifi.ssid = in.at("ssid").get<std::string>();
    wifi.password = in.at("password").get<std::string>();
    wifi.savedSsid = in.at("savedSsid").get<std::string>();
    wifi.savedPassword = in.at("savedPassword").get<std::string>();
    wifi.valueFirst = in.at("valueFirst").get<std::uint8_t>();
    wifi.valueSecond = in.at("valueSecond").get<std::uint8_t>();
    wifi.value = BytesFromJson(in.at("value"), "wifi value");
    return wifi;
}

json FlashToJson(const std::map<std::string, FlashImage>& flash) {
    json out = json::object();
    for (const auto& [partition, image] : flash) {
        out[partition] = {{"size", image.size}, {"sha256", image.sha256}};
    }
    return out;
}

std::map<std::string, FlashImage> FlashFromJson(const json& in) {
    std::map<std::string, FlashImage> flash;
    for (const auto& [partition, image] : in.items()) {
        flash[partition] = {image.at("size").get<std::uint64_t>(),
                            image.at("sha256").get<std::string>()};
    }
    return flash;
}

constexpr int kFormat = 1;

}  // namespace

DeviceState DefaultDeviceState(const DefaultsOptions& options) {
    DeviceState state;
    AddDefaultNv(state, options);
    AddDefaultEfs(state);
    AddIdentity(state, options);
    return state;
}

std::array<std::string, kVersionCount> FirmwareVersions(const std::string& buildId,
                                                        const std::string& suffix) {
    return {"TFR_9X15_V1.0.0B05", "TFR_PC_V1.0.0",    "TFR_MAC_V1.0",
            "TFR_INT_V1.0.0B05",  "TFR_WEBUI_V1.0.0", "TFR_DASHBOARD_V1.0",
            "TFR_HW_REV_A",       "TFR_BOOT_V1.0",    buildId + suffix};
}

bool EncodeImei(std::string_view digits, NvValue* value) {
    if (digits.size() != 15 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) {
        return false;
    }
    auto digit = [&](std::size_t i) { return static_cast<std::uint8_t>(digits[i] - '0'); };
    value->fill(0);
    (*value)[0] = 8;
    (*value)[1] = static_cast<std::uint8_t>(digit(0) << 4 | 0x0A);
    for (std::size_t k = 0; k < 7; ++k) {
        (*value)[2 + k] = static_cast<std::uint8_t>(digit(2 * k + 2) << 4 | digit(2 * k + 1));
    }
    return true;
}

std::string WifiMacText(const DeviceState& state) {
    const auto item = state.nv.find(kNvWifiMac);
    if (item == state.nv.end()) {
        return {};
    }
    std::string text = ToHex({item->second.data(), kMacSize});
    std::transform(text.begin(), text.end(), text.begin(), ::toupper);
    return text;
}

bool SetWifiMac(DeviceState& state, std::string_view text) {
    Bytes bytes;
    if (text.size() != 2 * kMacSize || !FromHex(text, &bytes)) {
        return false;
    }
    NvValue& value = state.nv[kNvWifiMac];
    std::copy(bytes.begin(), bytes.end(), value.begin());
    return true;
}

std::uint32_t EsnOf(const DeviceState& state) {
    const auto item = state.nv.find(kNvEsn);
    if (item == state.nv.end()) {
        return 0;
    }
    const NvValue& v = item->second;
    return static_cast<std::uint32_t>(v[0] | v[1] << 8 | v[2] << 16) |
           static_cast<std::uint32_t>(v[3]) << 24;
}

std::string ToHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * bytes.size());
    for (const std::uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

bool FromHex(std::string_view text, Bytes* bytes) {
    if (text.size() % 2 != 0) {
        return false;
    }
    Bytes out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    *bytes = std::move(out);
    return true;
}

json ToJson(const DeviceState& state) {
    return {{"format", kFormat},
            {"nv", NvMapToJson(state.nv)},
            {"readOnlyNv", state.readOnlyNv},
            {"efs", EfsToJson(state.efs)},
            {"wifi", WifiToJson(state.wifi)},
            {"versions", state.versions},
            {"compileDate", state.compileDate},
            {"compileTime", state.compileTime},
            {"spc", state.spc},
            {"partitionTable", ToHex(state.partitionTable)},
            {"onboardBackup", NvMapToJson(state.onboardBackup)},
            {"specialDlMode", state.specialDlMode},
            {"autorun", state.autorun},
            {"macKinds", state.macKinds},
            {"flash", FlashToJson(state.flash)},
            {"blank", state.blank}};
}

bool FromJson(const json& in, DeviceState* state, std::string* error) {
    try {
        if (in.at("format").get<int>() != kFormat) {
            *error = "unknown state format";
            return false;
        }
        DeviceState loaded;
        loaded.nv = NvMapFromJson(in.at("nv"));
        loaded.readOnlyNv = in.at("readOnlyNv").get<std::set<std::uint16_t>>();
        loaded.efs = EfsFromJson(in.at("efs"));
        loaded.wifi = WifiFromJson(in.at("wifi"));
        loaded.versions = in.at("versions").get<std::array<std::string, kVersionCount>>();
        loaded.compileDate = in.at("compileDate").get<std::string>();
        loaded.compileTime = in.at("compileTime").get<std::string>();
        loaded.spc = in.at("spc").get<std::string>();
        loaded.partitionTable = BytesFromJson(in.at("partitionTable"), "partitionTable");
        loaded.onboardBackup = NvMapFromJson(in.at("onboardBackup"));
        loaded.specialDlMode = in.at("specialDlMode").get<std::uint8_t>();
        loaded.autorun = in.at("autorun").get<std::uint8_t>();
        loaded.macKinds = in.at("macKinds").get<std::set<int>>();
        // Files written before the device had a flash model lack these two.
        loaded.flash = FlashFromJson(in.value("flash", json::object()));
        loaded.blank = in.value("blank", false);
        *state = std::move(loaded);
        return true;
    } catch (const std::exception& e) {
        *error = std::string("bad state: ") + e.what();
        return false;
    }
}

bool LoadState(const std::filesystem::path& path, DeviceState* state, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path.string();
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    const json parsed = json::parse(text.str(), nullptr, false);
    if (parsed.is_discarded()) {
        *error = path.string() + " is not JSON";
        return false;
    }
    return FromJson(parsed, state, error);
}

bool SaveState(const std::filesystem::path& path, const DeviceState& state, std::string* error) {
    const std::filesystem::path temp = path.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << ToJson(state).dump(1, ' ', false, json::error_handler_t::replace) << '\n';
        out.flush();
        if (!out) {
            *error = "cannot write " + temp.string();
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        *error = "cannot replace " + path.string() + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace tapfix::sim
