#include "nv/backup_record.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>

#include "nv/backup_files.hpp"
#include "platform/file_io.hpp"

namespace tapfix::nv {
namespace {

constexpr std::string_view kUnknownDevice = "unknown-device";
constexpr std::size_t kMaxIdentity = 64;
constexpr std::size_t kMaxRecordFile = 4096;
constexpr std::string_view kLegacyImei = "IMEI-";
constexpr std::string_view kLegacyBarcode = "barcode-";

constexpr std::array<std::pair<RestoreState, std::string_view>, 3> kRestoreNames{{
    {RestoreState::None, "none"},
    {RestoreState::Incomplete, "incomplete"},
    {RestoreState::Done, "done"},
}};

std::string SafeName(std::string_view text) {
    std::string name(text.substr(0, kMaxIdentity));
    for (char& c : name) {
        const bool safe = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                          (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '.';
        c = safe ? c : '_';
    }
    return name;
}

// A router's texts may hold anything: a line break would start a line of its own.
std::string LineValue(std::string_view text) {
    std::string value(text.substr(0, kMaxIdentity));
    std::replace_if(
        value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r' || c == '\0'; },
        '_');
    return value;
}

RestoreState RestoreStateOf(std::string_view name) {
    for (const auto& [state, text] : kRestoreNames) {
        if (text == name) {
            return state;
        }
    }
    return RestoreState::None;
}

void SetField(BackupRecord& record, std::string_view key, std::string_view value) {
    if (key == "imei") {
        record.imei = value;
    } else if (key == "barcode") {
        record.barcode = value;
    } else if (key == "usb_serial") {
        record.usb.serial = value;
    } else if (key == "usb_path") {
        record.usb.path = value;
    } else if (key == "time") {
        record.time = value;
    } else if (key == "complete") {
        record.complete = value == "1";
    } else if (key == "restore") {
        record.restore = RestoreStateOf(value);
    }
}

BackupRecord ParseLegacyRecord(std::string_view line) {
    BackupRecord record;
    record.complete = true;
    if (line.starts_with(kLegacyImei)) {
        record.imei = line.substr(kLegacyImei.size());
    } else if (line.starts_with(kLegacyBarcode)) {
        record.barcode = line.substr(kLegacyBarcode.size());
    }
    return record;
}

}  // namespace

std::string FormatBackupRecord(const BackupRecord& record) {
    std::string text;
    const auto line = [&text](std::string_view key, std::string_view value) {
        text += std::string(key) + "=" + LineValue(value) + "\n";
    };
    line("imei", record.imei);
    line("barcode", record.barcode);
    if (!record.usb.serial.empty()) {
        line("usb_serial", record.usb.serial);
    }
    if (!record.usb.path.empty()) {
        line("usb_path", record.usb.path);
    }
    line("time", record.time);
    line("complete", record.complete ? "1" : "0");
    line("restore", RestoreStateName(record.restore));
    return text;
}

BackupRecord ParseBackupRecord(std::string_view text) {
    const std::string_view first = text.substr(0, text.find_first_of("\r\n"));
    if (!first.empty() && first.find('=') == std::string_view::npos) {
        return ParseLegacyRecord(first);
    }
    BackupRecord record;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos) {
            SetField(record, line.substr(0, equals), line.substr(equals + 1));
        }
    }
    return record;
}

bool ReadBackupRecord(const std::filesystem::path& folder, BackupRecord& record,
                      std::string& error) {
    std::string text;
    if (!platform::ReadWholeFile(folder / kIdentityName, kMaxRecordFile, text, error)) {
        return false;
    }
    record = ParseBackupRecord(text);
    return true;
}

bool WriteBackupRecord(const std::filesystem::path& folder, const BackupRecord& record,
                       std::string& error) {
    return WritePrivateFile(folder / kIdentityName, FormatBackupRecord(record), error);
}

bool IsRealImei(std::string_view imei) {
    return imei.size() == 15 &&
           std::all_of(imei.begin(), imei.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           imei.find_first_not_of('0') != std::string_view::npos;
}

std::string DeviceIdentity(std::string_view imei, std::string_view barcode) {
    if (IsRealImei(imei)) {
        return "IMEI-" + std::string(imei);
    }
    return barcode.empty() ? std::string() : SafeName("barcode-" + std::string(barcode));
}

std::string BackupName(const BackupRecord& record) {
    const std::string name = SafeName(DeviceIdentity(record.imei, record.barcode));
    return name.empty() || name == "." || name == ".." ? std::string(kUnknownDevice) : name;
}

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return stamp;
}

std::string ShownTime(std::string_view timestamp) {
    // "YYYY-MM-DDTHH:MM:SSZ"
    constexpr std::size_t kLength = 20;
    if (timestamp.size() != kLength || timestamp[10] != 'T' || timestamp.back() != 'Z') {
        return std::string(timestamp);
    }
    return std::string(timestamp.substr(0, 10)) + " " + std::string(timestamp.substr(11, 5)) +
           " UTC";
}

std::string_view RestoreStateName(RestoreState state) {
    for (const auto& [known, text] : kRestoreNames) {
        if (known == state) {
            return text;
        }
    }
    return "none";
}

}  // namespace tapfix::nv
