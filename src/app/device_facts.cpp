#include "app/shared_state.hpp"
#include "device/diag_commands.hpp"
#include "device/nv_efs.hpp"
#include "platform/utf16.hpp"

namespace tapfix::app {
namespace {

constexpr std::size_t kVersionText = 0;
constexpr std::size_t kBuildIdText = 8;
constexpr std::uint16_t kNvInactive = 5;

// Device texts arrive in the system's code page: UTF-8, or Latin-1 where they are not.
std::string DeviceText(std::string_view bytes) {
    return platform::Utf16ToUtf8(platform::Utf8ToUtf16(bytes));
}

}  // namespace

DeviceFacts ReadDeviceFacts(link::CPacket& link) {
    DeviceFacts facts;
    device::ImeiText imei{};
    if (device::GetImei(link, imei, facts.imeiStatus)) {
        facts.imei = imei.data();
    } else {
        facts.imeiError = link.LastError();
    }
    device::VersionRecord record{};
    if (device::GetSoftwareVersion(link, record)) {
        facts.version = DeviceText(device::VersionText(record, kVersionText));
        facts.buildId = DeviceText(device::VersionText(record, kBuildIdText));
    } else {
        facts.versionError = link.LastError();
    }
    return facts;
}

bool ReadyForUpdate(const DeviceFacts& facts) {
    return !facts.version.empty() || (facts.portOpened && facts.downloadMode) ||
           (facts.imei.empty() && facts.imeiStatus == kNvInactive);
}

}  // namespace tapfix::app
