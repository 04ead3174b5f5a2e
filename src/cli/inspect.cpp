#include "cli/inspect.hpp"

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/application.hpp"
#include "cli/console_view.hpp"
#include "config/download_config.hpp"
#include "config/failure_text.hpp"
#include "config/package.hpp"
#include "config/signature.hpp"
#include "link/port_discovery.hpp"
#include "platform/port_enumeration.hpp"
#include "platform/port_registry.hpp"

namespace tapfix::cli {
namespace {

constexpr int kExitFailure = 4;

// A private folder under the temporary folder, removed with everything in it.
class ScratchFolder {
  public:
    ScratchFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/tapfix-check-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ec);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

bool Qualifies(const platform::PortInfo& port) {
    platform::PortList single;
    single.available = true;
    single.ports.push_back(port);
    int number = 0;
    return link::FindDiagPort(single, &number);
}

// Where a USB port sits, for telling two routers apart; nothing for a port not on USB.
std::string UsbText(const platform::UsbLocation& usb) {
    if (!usb.Known()) {
        return {};
    }
    return "  usb " + (usb.path.empty() ? "?" : usb.path) +
           (usb.serial.empty() ? "" : " serial " + usb.serial);
}

// The ports as listed, except that a registry folder named but absent is an error: the user
// mistyped it, and "no serial ports" would hide that.
platform::PortList ListedPorts() {
    if (const auto registry = platform::PortsDirectory()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(*registry, ec)) {
            platform::PortList missing;
            missing.error = "the ports folder " + registry->string() +
                            " (TAPFIX_PORTS_DIR) does not exist or is not a folder";
            return missing;
        }
    }
    return platform::ListPorts();
}

nlohmann::ordered_json PortsJson(const platform::PortList& list) {
    nlohmann::ordered_json ports = nlohmann::ordered_json::array();
    for (const platform::PortInfo& port : list.ports) {
        nlohmann::ordered_json entry{{"port", "COM" + std::to_string(port.number)},
                                     {"device", port.device.string()},
                                     {"name", port.displayName.value_or("")},
                                     {"router", Qualifies(port)}};
        if (port.usb.Known()) {
            entry["usb"] = {{"path", port.usb.path}, {"serial", port.usb.serial}};
        }
        ports.push_back(std::move(entry));
    }
    return {{"ports", ports}};
}

void PrintPorts(const platform::PortList& list, std::ostream& out) {
    if (list.ports.empty()) {
        out << "no serial ports\n";
    }
    for (const platform::PortInfo& port : list.ports) {
        out << "COM" << port.number << "  " << port.device.string() << "  \""
            << port.displayName.value_or("") << "\"  "
            << (Qualifies(port) ? "router port" : "not the router") << UsbText(port.usb) << "\n";
    }
}

// What the check found, printed as lines or as one JSON object.
struct CheckReport {
    std::filesystem::path package;
    std::vector<config::PackageEntry> files;
    std::string signature;
    std::vector<std::string> keyProblems;
    // Why an accepted package was accepted all the same (unsigned, allowed).
    std::string notice;
    std::optional<config::DownloadServiceConfig> config;
    std::string error;
};

CheckReport CheckFiles(const std::filesystem::path& package, const CheckOptions& options) {
    CheckReport report;
    report.package = package;
    config::CFirmwarePackage firmware;
    ScratchFolder scratch;
    if (scratch.Path().empty()) {
        report.error = "no temporary folder";
        return report;
    }
    if (!firmware.Open(package)) {
        report.error = firmware.LastError();
        return report;
    }
    const config::PackageTrust trust = config::JudgePackage(package, options.allowUnsigned);
    if (!firmware.ExtractPackage(scratch.Path())) {
        report.error = firmware.LastError();
        return report;
    }
    report.files = firmware.Entries();
    report.signature = config::DescribeSignature(trust.check);
    report.keyProblems = trust.keyProblems;
    if (!trust.verdict.accepted) {
        report.error = trust.verdict.line;
        return report;
    }
    report.notice = trust.verdict.line;
    config::DownloadServiceConfig loaded;
    if (config::LoadFolderConfig(scratch.Path() / "", loaded, true, report.error)) {
        report.config = std::move(loaded);
    }
    return report;
}

nlohmann::ordered_json CheckJson(const CheckReport& report, const std::string& error) {
    nlohmann::ordered_json object{{"package", report.package.string()}, {"ok", error.empty()}};
    if (!error.empty()) {
        object["error"] = error;
    }
    if (!report.files.empty()) {
        nlohmann::ordered_json files = nlohmann::ordered_json::array();
        for (const config::PackageEntry& entry : report.files) {
            files.push_back({{"name", entry.name},
                             {"size", entry.size},
                             {"sha256", config::HexText(entry.sha256)}});
        }
        object["files"] = files;
        object["signature"] = report.signature;
        object["keyProblems"] = report.keyProblems;
    }
    if (!report.notice.empty()) {
        object["notice"] = report.notice;
    }
    if (const auto& config = report.config) {
        object["totalBytes"] = config->totalBytes;
        object["downloadFiles"] = config->files.size();
        object["urgentFiles"] = config->urgentFiles.size();
        object["nvItems"] = {{"rf", config->rfNv.size()},
                             {"common", config->commonNv.size()},
                             {"lock", config->lockNv.size()}};
        object["efs"] = {{"rfItems", config->efsRfNv.size()},
                         {"files", config->efsRfNvOver6w.size()}};
    }
    return object;
}

void PrintCheck(const CheckReport& report, const std::string& error, std::ostream& out,
                std::ostream& err) {
    if (!report.files.empty()) {
        out << "package: " << report.package.string() << "\n";
        for (const config::PackageEntry& entry : report.files) {
            out << "  " << entry.name << "  " << entry.size << " bytes  sha256 "
                << config::HexText(entry.sha256) << "\n";
        }
        out << "signature: " << report.signature << "\n";
    }
    for (const std::string& problem : report.keyProblems) {
        err << "a trusted key cannot be used: " << config::FailureLine(problem) << "\n";
    }
    if (!error.empty()) {
        err << "check failed: " << error << "\n";
        return;
    }
    if (!report.notice.empty()) {
        err << report.notice << "\n";
    }
    const config::DownloadServiceConfig& config = *report.config;
    out << "totalBytes: " << config.totalBytes << "\n"
        << "download files: " << config.files.size()
        << ", urgent files: " << config.urgentFiles.size() << "\n"
        << "NV items: rf " << config.rfNv.size() << ", common " << config.commonNv.size()
        << ", lock " << config.lockNv.size() << "\n"
        << "EFS RF items: " << config.efsRfNv.size()
        << ", EFS files: " << config.efsRfNvOver6w.size() << "\n"
        << "check: ok, every file matches its SHA-256\n";
}

}  // namespace

int ListPorts(std::ostream& out, std::ostream& err, bool json) {
    const platform::PortList list = ListedPorts();
    if (json) {
        out << JsonLine(list.available ? PortsJson(list)
                                       : nlohmann::ordered_json{{"error", list.error}})
            << "\n";
    } else if (!list.available) {
        err << "tapfix-cli: the serial ports cannot be listed: " << list.error << "\n";
    } else {
        PrintPorts(list, out);
    }
    return list.available ? 0 : kExitFailure;
}

int CheckPackage(const std::filesystem::path& package, const CheckOptions& options,
                 std::ostream& out, std::ostream& err) {
    const CheckReport report = CheckFiles(package, options);
    const std::string error =
        options.verbose || report.error.empty() ? report.error : config::FailureLine(report.error);
    if (options.json) {
        out << JsonLine(CheckJson(report, error)) << "\n";
    } else {
        PrintCheck(report, error, out, err);
    }
    return error.empty() ? 0 : 1;
}

bool LoadPackageConfig(const std::filesystem::path& package, config::DownloadServiceConfig& config,
                       std::string& error) {
    config::CFirmwarePackage firmware;
    ScratchFolder scratch;
    if (scratch.Path().empty()) {
        error = "no temporary folder";
        return false;
    }
    if (!firmware.Open(package) || !firmware.ExtractPackage(scratch.Path())) {
        error = firmware.LastError();
        return false;
    }
    return config::LoadFolderConfig(scratch.Path() / "", config, true, error);
}

}  // namespace tapfix::cli
