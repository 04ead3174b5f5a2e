#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "nv/nv_preservation.hpp"
#include "support/session_fixture.hpp"

namespace tapfix::nv::test {

namespace fs = std::filesystem;
using tapfix::test::SessionFixture;

// A router on slot 0's link and the NV steps, driven through the session's seam.
class NvFixture : public SessionFixture {
  protected:
    void StartAndOpen(sim::RouterOptions options);
    void StartAndOpen() { StartAndOpen(RouterOptions()); }

    // Shorter lists for the cases that do not need the package's whole set.
    void UseLists(std::vector<std::int32_t> rfNv, std::vector<std::int32_t> efsRfNv);
    // The device reports the package's partition table, so a download would keep it.
    void MatchPartitionTable();
    // What the session's backup before the download does with the steps.
    bool BackupBeforeDownload();
    // What a download that rewrites the partition table does to the router's data.
    void WipeLikeADownload();
    bool Restore();

    // Requests the router answered, by name ("nv_read", "efs_get", ...).
    std::vector<nlohmann::json> Requests(std::string_view name) const;
    std::vector<NvRecord> Records(const fs::path& file) const;
    fs::path NvFile() const { return work_ / "Channel0.nv"; }
    fs::path EfsFolder() const { return work_ / "ITEM_EFS_RFNV"; }
    bool Logged(std::string_view text) const;

    CNvPreservation steps_;
    session::NvSteps& seam_ = steps_;
    session::SessionRecord record_;
};

// Every file below a folder, by path relative to it, with its bytes.
std::map<std::string, std::string> FolderContents(const fs::path& folder);
unsigned ModeOf(const fs::path& path);

}  // namespace tapfix::nv::test
