// Single NV steps on their edge cases, against the simulated router.
#include <gtest/gtest.h>

#include "nv_fixture.hpp"
#include "support/file_bytes.hpp"

namespace tapfix::nv::test {
namespace {

std::string FileOf(const std::vector<NvRecord>& records) {
    std::string bytes;
    for (const NvRecord& record : records) {
        const NvRecordBytes encoded = EncodeNvRecord(record);
        bytes.append(encoded.begin(), encoded.end());
    }
    return bytes;
}

NvRecord Saved(std::uint16_t item, std::uint8_t fill, std::uint16_t status = 0) {
    NvRecord record{item, {}, status};
    record.data.fill(fill);
    return record;
}

// The NV item requests since the `first` request, as "nv_write 6735".
std::vector<std::string> NvTraffic(const std::vector<nlohmann::json>& requests, std::size_t first) {
    std::vector<std::string> traffic;
    for (std::size_t k = first; k < requests.size(); ++k) {
        const std::string name = requests[k].value("name", "");
        if (name.starts_with("nv_")) {
            traffic.push_back(name + " " + std::to_string(requests[k].value("item", -1)));
        }
    }
    return traffic;
}

TEST_F(NvFixture, RestoreWritesOnlyWholeRecordsThatWereReadAndAcceptsReadOnlyItems) {
    StartAndOpen();
    service_.SetOperation(0, session::kActionRestoreNv);
    struct Case {
        std::string file;
        bool restored;
        std::vector<std::string> traffic;
        std::vector<int> progress;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {FileOf({Saved(6700, 1)}) + "x", false, {}, {}, ""},
        {FileOf({Saved(6700, 2, 4), Saved(6735, 3)}),
         true,
         {"nv_write 6735", "nv_read 6735"},
         {0, 50},
         "6700... skipped: saved with status Command failed"},
        {FileOf({Saved(0, 4)}),
         true,
         {"nv_write 0"},
         {0},
         "0: Variable was not active or read-only"},
    };
    for (const Case& c : cases) {
        tapfix::test::WriteFileBytes(NvFile(), c.file);
        notifier_.Clear();
        const std::size_t first = Events("request").size();
        EXPECT_EQ(steps_.RestoreNvFromFile(service_, 0, NvFile()), c.restored);
        const auto requests = Events("request");
        EXPECT_EQ(NvTraffic(requests, first), c.traffic);
        EXPECT_EQ(requests.size() > first, c.restored) << "a broken file is refused unsent";
        EXPECT_EQ(notifier_.Progress(), c.progress);
        EXPECT_TRUE(c.logged.empty() || Logged(c.logged)) << c.logged;
    }
    EXPECT_EQ(router_->Snapshot().nv.at(6735), Saved(6735, 3).data);
}

// An item without a value on this router is left out of the backup; a read refused for any
// other reason is tried again and then fails the backup, whose record would have nothing to
// give back.
TEST_F(NvFixture, AReadRefusedForAnotherReasonThanNoValueFailsTheBackup) {
    struct Case {
        const char* fault;
        bool backedUp;
        std::size_t reads;
    };
    for (const Case& c :
         {Case{"nvread-refused:6700:5", true, 1}, Case{"nvread-refused:6700:6", true, 1},
          Case{"nvread-refused:6700:8", true, 1}, Case{"nvread-refused:6700:4", false, 3},
          Case{"nvread-refused:6700:7", false, 3}}) {
        if (router_) {
            service_.Link(0).ClosePort();
            router_.reset();
        }
        sim::RouterOptions options = RouterOptions();
        std::string error;
        ASSERT_TRUE(options.faults.Parse(c.fault, &error)) << error;
        StartAndOpen(std::move(options));
        UseLists({6700, 6701}, {});
        EXPECT_EQ(BackupBeforeDownload(), c.backedUp) << c.fault;
        const auto reads = Requests("nv_read");
        EXPECT_EQ(std::count_if(reads.begin(), reads.end(),
                                [](const auto& read) { return read.value("item", 0) == 6700; }),
                  static_cast<std::ptrdiff_t>(c.reads))
            << c.fault;
        const auto records = Records(NvFile());
        EXPECT_TRUE(std::none_of(records.begin(), records.end(), [](const NvRecord& record) {
            return record.item == 6700;
        })) << c.fault;
    }
}

TEST_F(NvFixture, OnlyEightDigitNamesOfTheEfsFolderGoToTheRouter) {
    StartAndOpen();
    const fs::path folder = work_ / "restore";
    fs::create_directories(folder);
    for (const char* name : {"00020207", "notes.txt", "2020700", "000202070"}) {
        tapfix::test::WriteFileBytes(folder / name, "calibration");
    }
    EXPECT_TRUE(steps_.RestoreEfsNvFiles(service_, 0, folder));
    std::vector<std::string> paths;
    for (const auto& request : Requests("efs_stat")) {
        paths.push_back(request.value("path", ""));
    }
    EXPECT_EQ(paths, std::vector<std::string>{"nv/item_files/rfnv/00020207"});
    EXPECT_TRUE(Logged("Not an EFS backup file, left out: notes.txt"));
}

TEST_F(NvFixture, ARefusedWriteCountsWhenTheDeviceAlreadyHoldsTheSavedValue) {
    auto options = RouterOptions();
    options.faults.diagErrors[0x27] = 0x13;
    StartAndOpen(std::move(options));
    const NvRecord same{6700, router_->Snapshot().nv.at(6700), 0};
    EXPECT_TRUE(steps_.WriteNvRecord(service_, 0, same));
    EXPECT_FALSE(steps_.WriteNvRecord(service_, 0, Saved(6700, 9)));
}

TEST_F(NvFixture, AFileTheNewFirmwareLacksBecomesAnItemFileBelow106Bytes) {
    StartAndOpen();
    const std::string path = "nv/item_files/rfnv/00020999";
    for (const auto& [size, type] :
         {std::pair{50, sim::EfsType::Item}, std::pair{105, sim::EfsType::Item},
          std::pair{106, sim::EfsType::Regular}}) {
        router_->Modify([&](sim::DeviceState& state) { state.efs.erase(path); });
        const std::string bytes(static_cast<std::size_t>(size), '\x7E');
        tapfix::test::WriteFileBytes(work_ / "00020999", bytes);
        ASSERT_TRUE(steps_.PutEfsNvFile(service_, 0, work_ / "00020999", path, "00020999"));
        const sim::EfsFile written = router_->Snapshot().efs.at(path);
        EXPECT_EQ(written.type, type) << size;
        EXPECT_EQ(std::string(written.data.begin(), written.data.end()), bytes);
    }
}

TEST_F(NvFixture, TheWifiMacIsNeitherLostNorMadeUp) {
    StartAndOpen();
    session::SessionRecord damaged;
    std::copy_n("0012AB34CD5G", 13, damaged.wifiMac.begin());
    EXPECT_FALSE(steps_.RestoreWifiIdentity(service_, 0, damaged));
    EXPECT_TRUE(Requests("mac_write").empty());
    EXPECT_TRUE(Logged("还原WIFI地址失败！"));

    router_->Modify([](sim::DeviceState& state) { state.macKinds.clear(); });
    record_.nvBackupFile = NvFile();
    EXPECT_FALSE(seam_.SaveWifiMac(service_, 0, record_));
    EXPECT_EQ(notifier_.Texts(session::kNotifyHint),
              std::vector<std::string>{"备份WIFI地址失败！"});
    EXPECT_FALSE(fs::exists(work_ / "wifi_mac"));
}

// A file the router has must not be missing from the copy the download relies on, nor be
// left unwritten by a restore that then reports success; one lost answer is not a lost file.
// Answers count from the router's start: per item file one stat and one get at backup, one stat
// and one put at restore.
struct EfsCopyCase {
    std::string name;
    std::string faults;
    bool backedUp;
    bool restored;
};

void PrintTo(const EfsCopyCase& c, std::ostream* out) {
    *out << c.name;
}

class EfsCopyTest : public NvFixture, public ::testing::WithParamInterface<EfsCopyCase> {};

TEST_P(EfsCopyTest, AFileThatIsNotCopiedFailsItsStep) {
    const EfsCopyCase& c = GetParam();
    sim::RouterOptions options = RouterOptions();
    std::string error;
    ASSERT_TRUE(options.faults.Parse(c.faults, &error)) << error;
    StartAndOpen(std::move(options));
    const std::vector<std::int32_t> numbers{20207, 20208};
    UseLists({}, numbers);
    service_.Config().commonNv.clear();
    service_.Config().lockNv.clear();
    service_.Config().efsRfNvOver6w.clear();
    const auto original = KeptData(router_->Snapshot());
    ASSERT_EQ(original.size(), numbers.size());
    tapfix::test::WriteFileBytes(EfsFolder() / "00020207", "the previous copy");
    const auto previous = FolderContents(EfsFolder());

    ASSERT_EQ(steps_.BackupEfsNvFiles(service_, 0), c.backedUp);
    if (!c.backedUp) {
        EXPECT_EQ(FolderContents(EfsFolder()), previous);
        return;
    }
    router_->Modify([](sim::DeviceState& state) {
        for (auto& [path, file] : state.efs) {
            std::fill(file.data.begin(), file.data.end(), 0);
        }
    });
    // An unanswered put may still have been written: only a success promises the data.
    ASSERT_EQ(steps_.RestoreEfsNvFiles(service_, 0, EfsFolder()), c.restored);
    if (c.restored) {
        EXPECT_EQ(KeptData(router_->Snapshot()), original);
    }
}

INSTANTIATE_TEST_SUITE_P(
    NvSteps, EfsCopyTest,
    ::testing::Values(EfsCopyCase{"EveryFileCopiedAndWrittenBack", "", true, true},
                      EfsCopyCase{"OneUnansweredStatIsTriedAgain", "silent:3", true, true},
                      EfsCopyCase{"SecondStatNeverAnswered", "silent:3,silent:4,silent:5", false,
                                  false},
                      EfsCopyCase{"SecondPutUnanswered", "silent:8", true, false}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tapfix::nv::test
