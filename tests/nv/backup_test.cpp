// The on-board route and the backup's care for the last good copy, against the simulated router.
#include <gtest/gtest.h>

#include <array>
#include <numeric>

#include "nv_fixture.hpp"

namespace tapfix::nv::test {
namespace {

TEST_F(NvFixture, TheOnboardListGoesInBatchesOfFiftyAndTheRouterRestoresItself) {
    StartAndOpen();
    MatchPartitionTable();
    service_.Config().nvOption = 1;
    struct Batch {
        int count;
        int more;
        bool operator==(const Batch&) const = default;
    };
    const std::vector<std::pair<int, std::vector<Batch>>> cases = {
        {100, {{50, 1}, {50, 0}}},
        {101, {{50, 1}, {50, 1}, {1, 0}}},
    };
    for (const auto& [items, batches] : cases) {
        std::vector<std::int32_t> list(static_cast<std::size_t>(items));
        std::iota(list.begin(), list.end(), 1);
        UseLists(list, {});
        const std::size_t sentBefore = Requests("onboard_list").size();
        ASSERT_TRUE(steps_.OnboardBackup(service_, true, 0)) << items;
        const auto sent = Requests("onboard_list");
        std::vector<Batch> seen;
        for (std::size_t k = sentBefore; k < sent.size(); ++k) {
            seen.push_back({sent[k].at("count"), sent[k].at("more")});
        }
        EXPECT_EQ(seen, batches) << items;
    }
    EXPECT_TRUE(Logged("板侧备份NV成功"));

    record_.onboardBackup = true;
    ASSERT_TRUE(steps_.RestoreNvStep(service_, 0, record_));
    EXPECT_EQ(Requests("onboard_restore").size(), 1u);
    EXPECT_TRUE(Requests("nv_write").empty()) << "the router restores its own backup";
}

TEST_F(NvFixture, TheOnboardServiceReportsWhatWentWrong) {
    StartAndOpen();
    MatchPartitionTable();
    const std::vector<std::pair<std::vector<std::int32_t>, std::string>> cases = {
        {{22, -1, 23}, "板侧解析的NV项与PC侧下发NV项数目不一致，PC侧下发8项，板侧解析7项"},
        {{22, 70000}, "70000项NV操作失败，错误码为:6"},
        {{22, -2}, "-2项NV操作失败，错误码为:6"},
    };
    for (const auto& [list, message] : cases) {
        UseLists(list, {});
        EXPECT_FALSE(steps_.OnboardBackup(service_, true, 0)) << message;
        EXPECT_TRUE(Logged(message)) << message;
    }
    const auto tableReads = Requests("partition_table_read").size();
    EXPECT_FALSE(steps_.OnboardBackup(service_, false, 0));
    EXPECT_TRUE(Logged(service_.Text("ID_ERROR_NOBARCODE")));
    EXPECT_EQ(Requests("partition_table_read").size(), tableReads) << "no barcode, no question";
}

// The backup files of a folder, by name.
std::map<std::string, std::string> BackupFiles(const fs::path& folder) {
    auto files = FolderContents(folder);
    std::erase_if(files, [](const auto& file) {
        return !(file.first == "Channel0.nv" || file.first == "wifi_mac" ||
                 file.first.starts_with("ITEM_EFS_RFNV/"));
    });
    return files;
}

// Pulls the plug at the 40th progress value, halfway through the items of the backup.
class Unplugging : public session::Notifier {
  public:
    Unplugging(session::Notifier& next, sim::SimulatedRouter& router)
        : next_(next), router_(router) {}
    void Notify(const session::Notification& notification) override {
        next_.Notify(notification);
        if (notification.kind == session::kNotifyProgress && ++progress_ == 40) {
            router_.Stop();
        }
    }

  private:
    session::Notifier& next_;
    sim::SimulatedRouter& router_;
    int progress_ = 0;
};

enum class Mishap { UnpluggedHalfway, ItemsUnanswered, BlankRouter };

class LastGoodBackupTest : public NvFixture, public ::testing::WithParamInterface<Mishap> {};

TEST_P(LastGoodBackupTest, TheWorkFolderNeverLosesTheLastGoodBackup) {
    StartAndOpen();
    const auto& package = service_.Config();
    UseLists({package.rfNv.begin(), package.rfNv.begin() + 40},
             {package.efsRfNv.begin(), package.efsRfNv.begin() + 10});
    ASSERT_TRUE(BackupBeforeDownload());
    const auto good = BackupFiles(work_);
    ASSERT_EQ(good.count("Channel0.nv"), 1u);

    Unplugging unplug(notifier_, *router_);
    if (GetParam() == Mishap::UnpluggedHalfway) {
        service_.SetNotifier(&unplug);
        EXPECT_FALSE(BackupBeforeDownload());
        EXPECT_EQ(BackupFiles(work_), good);
    } else if (GetParam() == Mishap::ItemsUnanswered) {
        // The same router, now answering every NV read with an error instead of the item.
        service_.Link(0).ClosePort();
        sim::RouterOptions options = RouterOptions();
        options.faults.diagErrors[0x26] = 0x13;
        router_.reset();
        StartAndOpen(std::move(options));
        EXPECT_FALSE(BackupBeforeDownload());
        EXPECT_EQ(BackupFiles(work_), good);
    } else {
        WipeLikeADownload();
        BackupBeforeDownload();
        EXPECT_TRUE(Records(NvFile()).empty());
        // Kept as the pending copy of a router that has nothing: the good one stays archived.
        session::PortContext context = Context();
        EXPECT_TRUE(seam_.KeepPendingCopy(service_, context, record_));
    }
    const fs::path archives = work_ / "NVArchive" / "IMEI-359876543210984";
    ASSERT_TRUE(fs::is_directory(archives));
    EXPECT_EQ(BackupFiles(fs::directory_iterator(archives)->path()), good);
    for (const auto& entry : fs::recursive_directory_iterator(work_)) {
        EXPECT_FALSE(entry.path().filename().string().ends_with(".partial")) << entry.path();
    }
}

std::string MishapName(const ::testing::TestParamInfo<Mishap>& info) {
    constexpr std::array kNames{"Unplugged", "Unanswered", "Blank"};
    return kNames[static_cast<std::size_t>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Mishaps, LastGoodBackupTest,
                         ::testing::Values(Mishap::UnpluggedHalfway, Mishap::ItemsUnanswered,
                                           Mishap::BlankRouter),
                         MishapName);

// Two routers backed up at once on two slots: neither's files replace or archive the other's.
TEST_F(NvFixture, EachSlotTakesItsBackupInAFolderOfItsOwn) {
    StartAndOpen();
    session::SessionRecord first;
    ASSERT_TRUE(seam_.BackupNvToFiles(service_, true, first, 0));
    const std::map<std::string, std::string> slot0 = FolderContents(work_ / "ITEM_EFS_RFNV");
    service_.Link(0).ClosePort();
    ASSERT_TRUE(service_.Link(1).OpenPort(Context().portNumber));
    session::SessionRecord second;
    ASSERT_TRUE(seam_.BackupNvToFiles(service_, true, second, 1));

    EXPECT_EQ(first.nvBackupFile, NvFile());
    EXPECT_EQ(second.nvBackupFile, work_ / "Slot1" / "Channel1.nv");
    EXPECT_EQ(Records(NvFile()).size(), Records(second.nvBackupFile).size());
    EXPECT_EQ(FolderContents(work_ / "ITEM_EFS_RFNV"), slot0) << "slot 0's EFS copy stays";
    EXPECT_EQ(FolderContents(work_ / "Slot1" / "ITEM_EFS_RFNV"), slot0);
    EXPECT_FALSE(fs::exists(work_ / "NVArchive")) << "nothing of slot 0 was archived away";
    EXPECT_EQ(ModeOf(work_ / "Slot1"), 0700u);
}

}  // namespace
}  // namespace tapfix::nv::test
