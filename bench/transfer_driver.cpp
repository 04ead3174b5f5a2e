#include "transfer_driver.hpp"

namespace tapfix::bench {
namespace {

// 35 MiB in the package's partition table.
constexpr std::string_view kPartition = "0:DSP2";
constexpr std::uint8_t kImageType = 0x0E;

bool Failed(SessionHarness& harness, std::string& failure) {
    failure = harness.Steps().LastLine();
    if (failure.empty()) {
        failure = harness.Service().Link(0).LastError();
    }
    return false;
}

}  // namespace

bool PrepareProgrammer(SessionHarness& harness, std::string& failure) {
    if (!harness.Failure().empty()) {
        failure = harness.Failure();
        return false;
    }
    session::CDownloadService& service = harness.Service();
    const auto& config = service.Config();
    // The detection an update starts with says hello to the programmer.
    std::string version;
    return (service.ReportDeviceVersion(0, harness.Context().portNumber, version) &&
            service.ModeOf(0).programmerMode && service.EnterSecurityMode(0, config.trustMode) &&
            service.SendPartitionTable(0, config.partitionDownload)) ||
           Failed(harness, failure);
}

bool TransferImage(SessionHarness& harness, Transfer variant, const std::filesystem::path& image,
                   std::string& failure) {
    config::DownloadFile entry;
    entry.path = image;
    entry.size = static_cast<std::uint32_t>(std::filesystem::file_size(image));
    entry.OpenCode = kImageType;
    entry.dlType = static_cast<int>(variant);
    entry.bOpenMutilWithName = 1;
    entry.partitionName = std::string(kPartition);
    session::ProgressState progress;
    progress.totalBytes = entry.size;
    return harness.Service().DownloadImage(entry, 0, progress) || Failed(harness, failure);
}

}  // namespace tapfix::bench
