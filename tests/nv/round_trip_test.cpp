// A backup before the download and the restore after it, against the simulated router.
#include <gtest/gtest.h>

#include "nv_fixture.hpp"

namespace tapfix::nv::test {
namespace {

constexpr const char* kFtTable = "nv/item_files/mcs/tcxomgr/ft_table";
constexpr const char* kFieldCalParams = "nv/item_files/mcs/tcxomgr/field_cal_params";

struct RoundTrip {
    const char* name;
    bool packageLists;  // else a few items, one of them inactive on the router
    const char* mac;
};

class RoundTripTest : public NvFixture, public ::testing::WithParamInterface<RoundTrip> {};

// EFS path -> backup file name, for every file the configuration lists.
std::map<std::string, std::string> ListedEfsFiles(const config::DownloadServiceConfig& config) {
    const auto name = [](std::int32_t number) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%08d", number);
        return std::string(digits);
    };
    std::map<std::string, std::string> files;
    for (const std::int32_t number : config.efsRfNv) {
        files["nv/item_files/rfnv/" + name(number)] = name(number);
    }
    for (const auto& pair : config.efsRfNvOver6w) {
        files[pair.efsPath] = name(pair.number);
    }
    return files;
}

TEST_P(RoundTripTest, TheRestoreGivesBackWhatTheBackupKept) {
    const RoundTrip& trip = GetParam();
    StartAndOpen();
    auto& config = service_.Config();
    if (!trip.packageLists) {
        UseLists({6700, 553, 6735, 6700}, {20207, 20208});
        config.lockNv.clear();
    }
    std::vector<std::uint16_t> kept(config.rfNv.begin(), config.rfNv.end());
    kept.insert(kept.end(), config.commonNv.begin(), config.commonNv.end());
    kept.insert(kept.end(), config.lockNv.begin(), config.lockNv.end());
    router_->Modify([&](sim::DeviceState& state) {
        ASSERT_TRUE(sim::SetWifiMac(state, trip.mac));
        for (const std::uint16_t item : kept) {
            if (trip.packageLists) {  // every read succeeds
                state.nv.try_emplace(item, sim::NvValue{0x5A});
            }
        }
    });
    const sim::DeviceState before = router_->Snapshot();
    std::erase_if(kept, [&](std::uint16_t item) { return !before.nv.contains(item); });
    ASSERT_TRUE(BackupBeforeDownload());

    const auto records = Records(NvFile());
    std::vector<std::uint16_t> saved;
    for (const NvRecord& record : records) {
        saved.push_back(record.item);
        EXPECT_EQ(record.data, before.nv.at(record.item)) << record.item;
    }
    EXPECT_EQ(saved, kept) << "every active listed item, in list order";
    EXPECT_EQ(saved.size(), trip.packageLists ? 711u : 8u);
    std::map<std::string, std::string> efsCopies;
    std::size_t itemFiles = 0;
    for (const auto& [path, name] : ListedEfsFiles(config)) {
        if (const auto file = before.efs.find(path); file != before.efs.end()) {
            efsCopies[name].assign(file->second.data.begin(), file->second.data.end());
            itemFiles += file->second.type == sim::EfsType::Item;
        }
    }
    EXPECT_EQ(FolderContents(EfsFolder()), efsCopies);
    EXPECT_EQ(Requests("efs_get").size(), itemFiles) << "one get per item file";
    std::vector<int> ftReads;
    for (const auto& read : Requests("efs_read")) {
        if (read.value("path", "") == kFtTable) {
            ftReads.push_back(read.at("bytes"));
        }
    }
    EXPECT_EQ(ftReads, (std::vector<int>{512, 512, 276}));
    EXPECT_EQ(ModeOf(NvFile()), 0600u);
    EXPECT_EQ(ModeOf(EfsFolder()), 0700u);
    EXPECT_EQ(ModeOf(work_ / "wifi_mac"), 0600u);

    WipeLikeADownload();
    router_->Modify([](sim::DeviceState& state) { state.wifi.ssid = state.wifi.password = "x"; });
    notifier_.Clear();
    ASSERT_TRUE(seam_.RestoreAfterDownload(service_, Context(), record_));
    const sim::DeviceState after = router_->Snapshot();
    const auto keptData = [&](const sim::DeviceState& state) {
        std::map<std::string, std::string> data;
        for (const std::uint16_t item : kept) {
            if (const auto value = state.nv.find(item); value != state.nv.end()) {
                data["nv " + std::to_string(item)].assign(value->second.begin(),
                                                          value->second.end());
            }
        }
        for (const auto& [path, name] : ListedEfsFiles(config)) {
            if (const auto file = state.efs.find(path); file != state.efs.end()) {
                data[path + (file->second.type == sim::EfsType::Item ? " item" : " regular")]
                    .assign(file->second.data.begin(), file->second.data.end());
            }
        }
        return data;
    };
    EXPECT_EQ(keptData(after), keptData(before));
    const auto puts = Requests("efs_put");
    EXPECT_TRUE(std::any_of(puts.begin(), puts.end(), [](const auto& put) {
        return put.value("path", "") == kFieldCalParams;
    }));
    EXPECT_EQ(sim::WifiMacText(after), trip.mac);
    const bool wifiRestored = std::string_view(trip.mac) != "000000000000";
    EXPECT_EQ(after.wifi.ssid == before.wifi.ssid, wifiRestored);
    EXPECT_EQ(after.wifi.password == before.wifi.password, wifiRestored);
    const auto progress = notifier_.Progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 90);
    EXPECT_EQ(progress.back(), trip.packageLists ? 97 : 96);
}

INSTANTIATE_TEST_SUITE_P(Routers, RoundTripTest,
                         ::testing::Values(RoundTrip{"Package", true, "0012AB34CD56"},
                                           RoundTrip{"ZeroMac", false, "000000000000"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tapfix::nv::test
