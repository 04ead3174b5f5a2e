#include <chrono>

#include "device/diag_commands.hpp"
#include "device/nv_efs.hpp"
#include "device/vendor.hpp"
#include "nv/backup_files.hpp"
#include "nv/nv_preservation.hpp"
#include "nv/nv_text.hpp"
#include "platform/file_io.hpp"

namespace tapfix::nv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Write statuses of items the new firmware keeps as it has them.
constexpr std::uint16_t kNvInactive = 5;
constexpr std::uint16_t kNvReadOnly = 7;

constexpr int kOperationRestoreOnly = session::kActionRestoreNv;

int RestoreProgress(int operation, std::size_t done, std::size_t count) {
    const int share = static_cast<int>(100 * done / count);
    return operation == kOperationRestoreOnly ? share : 90 + share * 8 / 100;
}

void Pause(CDownloadService& session, std::chrono::milliseconds duration) {
    session.Clock().Sleep(platform::ScaledWait(duration));
}

}  // namespace

bool CNvPreservation::RestoreAfterDownload(CDownloadService& session, const PortContext& context,
                                           SessionRecord& record) {
    const config::DownloadServiceConfig& config = session.Config();
    if ((config.nvOption == 1 || config.nvOption == 2) &&
        !RestoreNvStep(session, context.slot, record)) {
        return false;
    }
    if (config.nvOption == 2 && config.ufi != 0) {
        return RestoreWifiIdentity(session, context.slot, record);
    }
    return true;
}

bool CNvPreservation::RestoreNvStep(CDownloadService& session, int slot,
                                    const SessionRecord& record) {
    session.LogHint(slot, session.Text("ID_HINT_RESTORENV"));
    // Asked in every case; the device's answer counts only where it kept a backup.
    const bool restoredOnboard = OnboardRestore(session, slot);
    if (record.onboardBackup && restoredOnboard) {
        return true;
    }
    if (!RestoreNvFromFile(session, slot, record.nvBackupFile)) {
        session.LogLine(slot, session.Text("ID_ERROR_RESTORENV"));
        return false;
    }
    return true;
}

bool CNvPreservation::OnboardRestore(CDownloadService& session, int slot) {
    link::CPacket& link = session.Link(slot);
    device::OnboardResult result;
    if (!device::StartOnboardRestore(link) ||
        !device::QueryOnboardResult(link, result, session.Clock())) {
        return false;
    }
    Pause(session, 1000ms);
    return true;
}

bool CNvPreservation::RestoreNvFromFile(CDownloadService& session, int slot, const fs::path& file) {
    std::string bytes;
    std::string error;
    if (!platform::ReadWholeFile(file, kMaxBackupFile, bytes, error) || bytes.empty() ||
        bytes.size() % kNvRecordSize != 0) {
        return false;
    }
    link::CPacket& link = session.Link(slot);
    device::SetPhoneOffline(link);
    device::SendSpc(link);
    const std::size_t count = bytes.size() / kNvRecordSize;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (std::size_t i = 0; i < count; ++i) {
        session.NotifyProgress(slot, RestoreProgress(session.Operation(slot), i, count));
        const NvRecord record = *DecodeNvRecord({data + i * kNvRecordSize, kNvRecordSize});
        // An item that could not be read at backup time has nothing to give back.
        if (record.status != 0) {
            session.LogLine(slot, ItemLine(session.Text("ID_HINT_RESTORENV"), record.item) +
                                      " skipped: saved with status " +
                                      std::string(NvStatusName(record.status)));
            continue;
        }
        if (!WriteNvRecord(session, slot, record)) {
            Pause(session, 2000ms);
            if (!WriteNvRecord(session, slot, record)) {
                return false;
            }
        }
    }
    const fs::path efsFolder = file.parent_path() / kEfsFolderName;
    std::error_code ec;
    return !fs::is_directory(efsFolder, ec) || RestoreEfsNvFiles(session, slot, efsFolder);
}

bool CNvPreservation::WriteNvRecord(CDownloadService& session, int slot, const NvRecord& record) {
    link::CPacket& link = session.Link(slot);
    const std::string stepText = session.Text("ID_HINT_RESTORENV");
    std::uint16_t status = 0;
    if (!device::WriteNvItem(link, record.item, record.data, status)) {
        if (status == kNvInactive || status == kNvReadOnly) {
            session.LogLine(slot, FormatText("%s%d: Variable was not active or read-only",
                                             {stepText, std::to_string(record.item)}));
            return true;
        }
        session.LogLine(slot, ItemFailure(stepText, record.item, status, link.LastError()));
    }
    // The device may already hold the saved value even when the write was refused.
    device::NvItemData readBack{};
    return device::ReadNvItem(link, record.item, readBack, status) && readBack == record.data;
}

}  // namespace tapfix::nv
