#include "cli/inspect.hpp"

#include <cstdlib>
#include <string>
#include <system_error>

#include "app/application.hpp"
#include "config/download_config.hpp"
#include "config/failure_text.hpp"
#include "config/package.hpp"
#include "config/signature.hpp"
#include "link/port_discovery.hpp"
#include "platform/port_enumeration.hpp"

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

void PrintSummary(const config::DownloadServiceConfig& config, std::ostream& out) {
    out << "totalBytes: " << config.totalBytes << "\n"
        << "download files: " << config.files.size()
        << ", urgent files: " << config.urgentFiles.size() << "\n"
        << "NV items: rf " << config.rfNv.size() << ", common " << config.commonNv.size()
        << ", lock " << config.lockNv.size() << "\n"
        << "EFS RF items: " << config.efsRfNv.size()
        << ", EFS files: " << config.efsRfNvOver6w.size() << "\n";
}

}  // namespace

int ListPorts(std::ostream& out, std::ostream& err) {
    const platform::PortList list = platform::ListPorts();
    if (!list.available) {
        err << "tapfix-cli: the serial ports cannot be listed: " << list.error << "\n";
        return kExitFailure;
    }
    if (list.ports.empty()) {
        out << "no serial ports\n";
    }
    for (const platform::PortInfo& port : list.ports) {
        out << "COM" << port.number << "  " << port.device.string() << "  \""
            << port.displayName.value_or("") << "\"  "
            << (Qualifies(port) ? "router port" : "not the router") << UsbText(port.usb) << "\n";
    }
    return 0;
}

int CheckPackage(const std::filesystem::path& package, const CheckOptions& options,
                 std::ostream& out, std::ostream& err) {
    const auto failed = [&](const std::string& error) {
        err << "check failed: " << (options.verbose ? error : config::FailureLine(error)) << "\n";
        return 1;
    };
    config::CFirmwarePackage firmware;
    ScratchFolder scratch;
    if (scratch.Path().empty()) {
        return failed("no temporary folder");
    }
    if (!firmware.Open(package)) {
        return failed(firmware.LastError());
    }
    const config::PackageTrust trust = config::JudgePackage(package, options.allowUnsigned);
    if (!firmware.ExtractPackage(scratch.Path())) {
        return failed(firmware.LastError());
    }
    out << "package: " << package.string() << "\n";
    for (const config::PackageEntry& entry : firmware.Entries()) {
        out << "  " << entry.name << "  " << entry.size << " bytes  sha256 "
            << config::HexText(entry.sha256) << "\n";
    }
    out << "signature: " << config::DescribeSignature(trust.check) << "\n";
    for (const std::string& problem : trust.keyProblems) {
        err << "a trusted key cannot be used: " << config::FailureLine(problem) << "\n";
    }
    if (!trust.verdict.accepted) {
        return failed(trust.verdict.line);
    }
    if (!trust.verdict.line.empty()) {
        err << trust.verdict.line << "\n";
    }
    const std::filesystem::path folder = scratch.Path() / "";
    config::DownloadServiceConfig loaded;
    std::string error;
    if (!config::LoadFolderConfig(folder, loaded, true, error)) {
        return failed(error);
    }
    PrintSummary(loaded, out);
    out << "check: ok, every file matches its SHA-256\n";
    return 0;
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
