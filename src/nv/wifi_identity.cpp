#include <algorithm>

#include "device/vendor.hpp"
#include "nv/backup_files.hpp"
#include "nv/nv_preservation.hpp"

namespace tapfix::nv {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kZeroMac = "000000000000";
constexpr std::size_t kMacDigits = 12;

std::uint16_t MacKind(const CDownloadService& session) {
    return static_cast<std::uint16_t>(session.Config().readWifiMacDiagCmd);
}

std::string_view MacDigits(const SessionRecord& record) {
    return {record.wifiMac.data(), kMacDigits};
}

// The device takes any text and makes a nibble 0 of what is not a digit: a damaged "wifi_mac"
// would become a wrong address.
bool IsMacText(std::string_view mac) {
    return std::all_of(mac.begin(), mac.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

}  // namespace

bool CNvPreservation::SaveWifiMac(CDownloadService& session, int slot, SessionRecord& record) {
    if (!device::ReadWifiMac(session.Link(slot), MacKind(session), record.wifiMac)) {
        session.LogHint(slot, "备份WIFI地址失败！");
        return false;
    }
    if (MacDigits(record) == kZeroMac) {
        session.SetWifiMacValid(slot, false);
    }
    const fs::path folder = record.nvBackupFile.parent_path();
    std::string error;
    if (folder.empty()) {
        session.LogLine(slot, "No NV backup folder for wifi_mac");
        return false;
    }
    if (!WritePrivateFile(folder / kWifiMacName, {record.wifiMac.data(), record.wifiMac.size()},
                          error)) {
        session.LogLine(slot, error);
        return false;
    }
    return true;
}

bool CNvPreservation::RestoreWifiIdentity(CDownloadService& session, int slot,
                                          const SessionRecord& record) {
    link::CPacket& link = session.Link(slot);
    const bool wellFormed = IsMacText(MacDigits(record));
    if (!wellFormed) {
        session.LogLine(slot, "The saved Wi-Fi MAC is not 12 hexadecimal digits");
    }
    if (!wellFormed || !device::WriteWifiMac(link, MacDigits(record), MacKind(session))) {
        session.LogLine(slot, "还原WIFI地址失败！");
        return false;
    }
    // An all-zero MAC means the router had no Wi-Fi identity to give back.
    if (session.WifiMacValid(slot)) {
        if (!device::RestoreSsid(link)) {
            session.LogLine(slot, "还原SSID失败！");
        }
        if (!device::RestoreWifiPassword(link)) {
            session.LogLine(slot, "还原WIFI密码失败！");
        }
    }
    return true;
}

}  // namespace tapfix::nv
