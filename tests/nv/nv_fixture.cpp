#include "nv_fixture.hpp"

#include <sys/stat.h>

#include <algorithm>

#include "sim/flash_model.hpp"
#include "support/file_bytes.hpp"

namespace tapfix::nv::test {

void NvFixture::StartAndOpen(sim::RouterOptions options) {
    StartRouter(std::move(options));
    ASSERT_TRUE(service_.Link(0).OpenPort(Context().portNumber)) << service_.Link(0).OpenFailure();
}

void NvFixture::UseLists(std::vector<std::int32_t> rfNv, std::vector<std::int32_t> efsRfNv) {
    auto& config = service_.Config();
    config.rfNv = std::move(rfNv);
    config.efsRfNv = std::move(efsRfNv);
}

void NvFixture::MatchPartitionTable() {
    const std::string table = tapfix::test::ReadFileBytes(work_ / "partition.mbn");
    ASSERT_GT(table.size(), 12u);
    router_->Modify(
        [&](sim::DeviceState& state) { state.partitionTable.assign(table.begin(), table.end()); });
}

bool NvFixture::BackupBeforeDownload() {
    session::InitSessionRecord(record_);
    const auto& config = service_.Config();
    const bool barcodeRead = seam_.ReadBarcode(service_, 0, record_);
    if (config.nvOption != 0 && seam_.OnboardBackup(service_, barcodeRead, 0)) {
        record_.onboardBackup = true;
    }
    if (!seam_.BackupNvToFiles(service_, barcodeRead, record_, 0)) {
        return false;
    }
    return config.nvOption != 2 || config.ufi == 0 || seam_.SaveWifiMac(service_, 0, record_);
}

void NvFixture::WipeLikeADownload() {
    router_->Modify([](sim::DeviceState& state) { sim::flash::WipeCalibration(state); });
}

bool NvFixture::Restore() {
    return seam_.RestoreAfterDownload(service_, Context(), record_);
}

std::vector<nlohmann::json> NvFixture::Requests(std::string_view name) const {
    std::vector<nlohmann::json> found;
    for (const auto& request : Events("request")) {
        if (request.value("name", "") == name) {
            found.push_back(request);
        }
    }
    return found;
}

std::vector<NvRecord> NvFixture::Records(const fs::path& file) const {
    const std::string bytes = tapfix::test::ReadFileBytes(file);
    EXPECT_EQ(bytes.size() % kNvRecordSize, 0u);
    std::vector<NvRecord> records;
    for (std::size_t at = 0; at + kNvRecordSize <= bytes.size(); at += kNvRecordSize) {
        records.push_back(*DecodeNvRecord(
            {reinterpret_cast<const std::uint8_t*>(bytes.data()) + at, kNvRecordSize}));
    }
    return records;
}

bool NvFixture::Logged(std::string_view text) const {
    const auto lines = notifier_.Texts(session::kNotifyLog);
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    });
}

std::map<std::string, std::string> FolderContents(const fs::path& folder) {
    std::map<std::string, std::string> contents;
    if (!fs::is_directory(folder)) {
        return contents;
    }
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            contents[fs::relative(entry.path(), folder).string()] =
                tapfix::test::ReadFileBytes(entry.path());
        }
    }
    return contents;
}

unsigned ModeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

}  // namespace tapfix::nv::test
