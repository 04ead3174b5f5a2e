#include "cli/backup_tools.hpp"

#include <nlohmann/json.hpp>

#include "cli/inspect.hpp"
#include "config/failure_text.hpp"
#include "nv/backup_files.hpp"
#include "nv/backup_store.hpp"
#include "platform/file_io.hpp"
#include "platform/utf16.hpp"
#include "platform/work_folder.hpp"

namespace tapfix::cli {
namespace {

constexpr int kExitRefused = 1;

nlohmann::json BackupJson(const nv::BackupSummary& summary) {
    const nv::BackupRecord& record = summary.backup.record;
    return {{"place", nv::PlaceName(summary.place)},
            {"folder", summary.backup.folder.string()},
            {"imei", record.imei},
            {"barcode", record.barcode},
            {"usb_serial", record.usb.serial},
            {"usb_path", record.usb.path},
            {"time", record.time},
            {"complete", record.complete},
            {"restore", nv::RestoreStateName(record.restore)},
            {"nv_items", summary.nvItems},
            {"efs_files", summary.efsFiles},
            {"wifi_mac", summary.wifiMac}};
}

std::string BackupLine(const nv::BackupSummary& summary) {
    const nv::BackupRecord& record = summary.backup.record;
    std::string line = std::string(nv::PlaceName(summary.place)) + ": IMEI " +
                       (record.imei.empty() ? "-" : record.imei);
    if (!record.barcode.empty()) {
        line += ", barcode " + record.barcode;
    }
    line += ", " + nv::ShownTime(record.time) + ", " + std::to_string(summary.nvItems) +
            " NV items, " + std::to_string(summary.efsFiles) + " EFS files, Wi-Fi MAC " +
            (summary.wifiMac.empty() ? "-" : summary.wifiMac) + ", " +
            (record.complete ? "complete" : "incomplete");
    if (record.restore != nv::RestoreState::None) {
        line += ", restore " + std::string(nv::RestoreStateName(record.restore));
    }
    return line + "\n  " + summary.backup.folder.string();
}

// The work folder (prepared: an import writes into it) and the package's configuration, which
// names the EFS files.
bool LoadPackage(const app::StartupOptions& options, std::filesystem::path& workFolder,
                 config::DownloadServiceConfig& config, std::ostream& err) {
    std::string error;
    platform::WorkFolder prepared;
    if (!platform::PrepareWorkFolder(options.workFolder, prepared, error) ||
        !LoadPackageConfig(app::PackageSource(options), config, error)) {
        err << "tapfix-cli: " << config::FailureLine(error) << "\n";
        return false;
    }
    workFolder = prepared.path;
    return true;
}

}  // namespace

int ListBackups(const std::filesystem::path& workFolder, bool json, std::ostream& out) {
    // A named folder others may enter keeps its backups in its private subfolder.
    platform::WorkFolder prepared;
    std::string error;
    const std::filesystem::path folder = platform::PrepareWorkFolder(workFolder, prepared, error)
                                             ? prepared.path
                                         : workFolder.empty() ? platform::DefaultWorkFolder()
                                                              : workFolder;
    const std::vector<nv::BackupSummary> backups = nv::ListBackups(folder);
    if (backups.empty() && !json) {
        out << "no backups in " << folder.string() << "\n";
    }
    for (const nv::BackupSummary& summary : backups) {
        // Barcodes come from routers: no byte of them may drive the terminal.
        out << (json ? BackupJson(summary).dump(-1, ' ', false,
                                                nlohmann::json::error_handler_t::replace)
                     : platform::PrintableText(BackupLine(summary), true))
            << "\n";
    }
    return 0;
}

int ExportXqcn(const app::StartupOptions& options, const std::filesystem::path& file,
               const std::string& which, std::ostream& out, std::ostream& err) {
    std::filesystem::path workFolder;
    config::DownloadServiceConfig config;
    if (!LoadPackage(options, workFolder, config, err)) {
        return kExitRefused;
    }
    std::string error;
    const std::optional<nv::StoredBackup> backup = nv::FindBackup(workFolder, which, error);
    nv::XqcnContent content;
    if (!backup || !nv::ExportBackup(*backup, config, content, error) ||
        !platform::WriteFileAtomically(file, nv::WriteXqcn(content, file.stem().string()), error,
                                       platform::kPrivateFile)) {
        err << "tapfix-cli: export failed: " << error << "\n";
        return kExitRefused;
    }
    out << "exported " << backup->folder.string() << " (IMEI " << backup->record.imei << ", "
        << content.items.size() << " NV items, " << content.efsFiles.size() << " EFS files) to "
        << file.string() << "\n";
    return 0;
}

int ImportXqcn(const app::StartupOptions& options, const std::filesystem::path& file,
               std::ostream& out, std::ostream& err) {
    std::string text;
    std::string error;
    nv::XqcnContent content;
    if (!platform::ReadWholeFile(file, nv::kMaxBackupFile, text, error) ||
        !nv::ReadXqcn(text, content, error)) {
        err << "tapfix-cli: " << file.string() << ": " << error << "\n";
        return kExitRefused;
    }
    std::filesystem::path workFolder;
    config::DownloadServiceConfig config;
    if (!LoadPackage(options, workFolder, config, err)) {
        return kExitRefused;
    }
    nv::StoredBackup imported;
    std::vector<std::string> leftOut;
    if (!nv::ImportBackup(content, workFolder, config, imported, leftOut, error)) {
        err << "tapfix-cli: " << file.string() << ": " << error << "\n";
        return kExitRefused;
    }
    for (const std::string& path : leftOut) {
        out << "left out (this package keeps no such file): " << path << "\n";
    }
    out << "imported " << file.string() << " as a backup of IMEI " << imported.record.imei << " ("
        << content.items.size() << " NV items, " << content.efsFiles.size() - leftOut.size()
        << " EFS files): " << imported.folder.string() << "\n";
    return 0;
}

}  // namespace tapfix::cli
