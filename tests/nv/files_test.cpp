// The backup folders on disk: the record of whose a backup is, pending copies, the archive,
// removal.
#include <gtest/gtest.h>
#include <unistd.h>

#include "nv/backup_archive.hpp"
#include "nv/backup_files.hpp"
#include "nv/pending_copies.hpp"
#include "nv_fixture.hpp"
#include "support/file_bytes.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::nv::test {
namespace {

using tapfix::test::ReadFileBytes;
using tapfix::test::WriteFileBytes;

void WriteBackup(const fs::path& folder, const std::string& tag, bool withMac) {
    fs::create_directories(folder / "ITEM_EFS_RFNV");
    WriteFileBytes(folder / "Channel0.nv", "records " + tag);
    WriteFileBytes(folder / "ITEM_EFS_RFNV" / "00020207", "efs " + tag);
    WriteFileBytes(folder / "device_identity", "IMEI-" + tag + "\n");
    if (withMac) {
        WriteFileBytes(folder / "wifi_mac", "mac " + tag);
    }
}

BackupRecord RecordOf(const std::string& imei, const std::string& time = "2026-12-09T10:11:12Z") {
    BackupRecord record;
    record.imei = imei;
    record.time = time;
    return record;
}

BackupSource SourceIn(const fs::path& work, bool withMac) {
    BackupSource source{work / "Channel0.nv", work / "ITEM_EFS_RFNV", std::nullopt};
    if (withMac) {
        source.wifiMac = work / "wifi_mac";
    }
    return source;
}

TEST(BackupRecordTest, RoundTripsAndReadsTheOneLineFormOfEarlierVersions) {
    BackupRecord full = RecordOf("359876543210984");
    full.barcode = "TFX\n0001";
    full.usb = {"1-1.4", "SER=1"};
    full.complete = true;
    full.restore = RestoreState::Incomplete;
    BackupRecord written = full;
    written.barcode = "TFX_0001";  // a line break in a router's text stays in its line

    BackupRecord legacyImei;
    legacyImei.imei = "359876543210984";
    legacyImei.complete = true;
    BackupRecord legacyBarcode;
    legacyBarcode.barcode = "TFX1";
    legacyBarcode.complete = true;
    BackupRecord partial;
    partial.imei = "1";
    partial.restore = RestoreState::Done;

    const std::vector<std::pair<std::string, BackupRecord>> cases = {
        {FormatBackupRecord(full), written},
        {"IMEI-359876543210984\n", legacyImei},
        {"barcode-TFX1", legacyBarcode},
        {"imei=1\r\nnonsense\nrestore=done\nfuture=2\ncomplete=yes\n", partial},
        {"", BackupRecord{}},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseBackupRecord(text), expected) << text;
    }
    EXPECT_EQ(ShownTime("2026-12-09T10:11:12Z"), "2026-12-09 10:11 UTC");
    EXPECT_EQ(BackupName(RecordOf("")), "unknown-device");
}

TEST(PendingCopyTest, MovesTheBackupInWholeAndArchivesTheRoutersEarlierCopy) {
    struct Case {
        const char* name;
        bool withMac;
        const char* missing;  // a file the backup did not leave
        const char* earlier;  // the data of the router's earlier copy, if any
        bool committed;
    };
    for (const Case& c :
         {Case{"first", true, "", nullptr, true}, Case{"no Wi-Fi kept", false, "", nullptr, true},
          Case{"same data again", true, "", "359876543210984", true},
          Case{"other data", true, "", "111111111111111", true},
          Case{"no NV file", true, "Channel0.nv", "111111111111111", false},
          Case{"no EFS folder", true, "ITEM_EFS_RFNV", nullptr, false}}) {
        tapfix::test::TempDir dir;
        const fs::path work = dir.Path();
        WriteBackup(work, "359876543210984", true);
        fs::remove(work / "device_identity");
        if (*c.missing != '\0') {
            fs::remove_all(work / c.missing);
        }
        const fs::path target = work / "SaveNV" / "IMEI-359876543210984";
        if (c.earlier != nullptr) {
            WriteBackup(target, c.earlier, true);
        }
        const auto workBefore = FolderContents(work);
        const auto earlierBefore = FolderContents(target);

        CommittedCopy committed;
        std::string error;
        EXPECT_EQ(CommitPendingCopy(work, SourceIn(work, c.withMac), RecordOf("359876543210984"),
                                    committed, error),
                  c.committed)
            << c.name << ": " << error;

        if (!c.committed) {
            EXPECT_EQ(FolderContents(work), workBefore) << c.name << ": every file back";
            continue;
        }
        EXPECT_EQ(committed.folder, target) << c.name;
        EXPECT_EQ(ReadFileBytes(target / "Channel0.nv"), "records 359876543210984") << c.name;
        EXPECT_EQ(fs::exists(target / "wifi_mac"), c.withMac) << c.name;
        EXPECT_EQ(fs::exists(work / "wifi_mac"), !c.withMac) << c.name << ": not moved";
        EXPECT_FALSE(fs::exists(work / "Channel0.nv")) << c.name;
        EXPECT_EQ(ModeOf(target), 0700u) << c.name;
        BackupRecord record;
        ASSERT_TRUE(ReadBackupRecord(target, record, error)) << error;
        EXPECT_TRUE(record.complete) << c.name;
        EXPECT_EQ(committed.archivedEarlier.empty(), c.earlier == nullptr) << c.name;
        if (c.earlier != nullptr) {
            EXPECT_EQ(committed.earlierMatched, std::string(c.earlier) == "359876543210984");
            EXPECT_EQ(FolderContents(committed.archivedEarlier), earlierBefore) << c.name;
        }
        EXPECT_EQ(ListPendingCopies(work).size(), 1u) << c.name << ": nothing left aside";
    }
}

TEST(PendingCopyTest, ListsCopiesNewestFirstWithTheEarlierVersionsOneAndNotFinishedOnes) {
    tapfix::test::TempDir dir;
    const fs::path work = dir.Path();
    WriteBackup(work / "SaveNV", "100000000000001", true);  // an earlier version's copy
    const std::vector<std::pair<std::string, BackupRecord>> copies = {
        {"IMEI-2", RecordOf("200000000000002", "2026-01-02T00:00:00Z")},
        {"IMEI-3", RecordOf("300000000000003", "2026-01-03T00:00:00Z")},
        {".IMEI-4.incoming", RecordOf("400000000000004", "2026-01-04T00:00:00Z")},
        {"IMEI-5", RecordOf("500000000000005", "2026-01-05T00:00:00Z")},
    };
    for (const auto& [name, record] : copies) {
        WriteBackup(work / "SaveNV" / name, record.imei, true);
        std::string error;
        ASSERT_TRUE(WriteBackupRecord(work / "SaveNV" / name, record, error)) << error;
    }
    std::string error;
    ASSERT_TRUE(MarkRestore(work / "SaveNV" / "IMEI-5", RestoreState::Done, error)) << error;
    // The earlier version's records carry no time: theirs is when their NV file was written.
    WriteFileBytes(work / "SaveNV" / "IMEI-2" / "device_identity", "IMEI-200000000000002\n");
    const auto written = [](const fs::path& file, std::chrono::hours sinceNewYear) {
        const std::chrono::sys_seconds newYear =
            std::chrono::sys_days(std::chrono::year(2026) / 1 / 1);
        fs::last_write_time(file, std::chrono::file_clock::from_sys(newYear + sinceNewYear));
    };
    written(work / "SaveNV" / "Channel0.nv", std::chrono::hours(24 * 5));
    written(work / "SaveNV" / "IMEI-2" / "Channel0.nv", std::chrono::hours(24));
    fs::create_directories(work / "SaveNV" / "empty");

    std::vector<std::pair<std::string, std::string>> listed;
    for (const StoredBackup& copy : ListPendingCopies(work)) {
        listed.emplace_back(copy.record.imei, copy.record.time);
    }
    EXPECT_EQ(listed, (std::vector<std::pair<std::string, std::string>>{
                          {"100000000000001", "2026-01-06T00:00:00Z"},
                          {"300000000000003", "2026-01-03T00:00:00Z"},
                          {"200000000000002", "2026-01-02T00:00:00Z"}}));
}

TEST(PendingCopyTest, ARetiredCopyIsArchivedAsDoneAndOnlyItsOwnFilesGo) {
    tapfix::test::TempDir dir;
    const fs::path work = dir.Path();
    // An earlier version's copy holds its files in "SaveNV" itself, beside a router's folder.
    WriteBackup(work / "SaveNV", "100000000000001", true);
    WriteBackup(work / "SaveNV" / "IMEI-2", "200000000000002", true);
    std::string error;
    ASSERT_TRUE(MarkRestore(work / "SaveNV" / "IMEI-2", RestoreState::Incomplete, error)) << error;
    for (const fs::path& copy : {work / "SaveNV" / "IMEI-2", work / "SaveNV"}) {
        fs::path archived;
        ASSERT_TRUE(RetirePendingCopy(work, copy, archived, error)) << error;
        BackupRecord record;
        ASSERT_TRUE(ReadBackupRecord(archived, record, error)) << error;
        EXPECT_EQ(record.restore, RestoreState::Done);
        EXPECT_TRUE(fs::exists(archived / "ITEM_EFS_RFNV" / "00020207"));
    }
    EXPECT_FALSE(fs::exists(work / "SaveNV"));
    EXPECT_TRUE(ListPendingCopies(work).empty());
}

TEST(RemoveTreeTest, RemovesByPathKeepingTheArchiveAndTheCurrentFolder) {
    tapfix::test::TempDir dir;
    const fs::path work = dir.Path() / "work";
    WriteBackup(work / "SaveNV", "359876543210984", true);
    WriteBackup(work / "NVArchive" / "IMEI-1" / "20240101-000000", "1", true);
    WriteFileBytes(dir.Path() / "outside", "kept");
    fs::create_symlink(dir.Path() / "outside", work / "SaveNV" / "link");
    const fs::path current = fs::current_path();

    RemoveTreeKeepingArchive(work / "SaveNV");
    EXPECT_FALSE(fs::exists(work / "SaveNV"));
    RemoveTreeKeepingArchive(work);
    EXPECT_EQ(FolderContents(work).size(), 4u) << "the archive stays";
    EXPECT_TRUE(fs::exists(dir.Path() / "outside")) << "a link is removed, not followed";
    EXPECT_EQ(fs::current_path(), current);
}

TEST(DeviceIdentityTest, NamesTheDeviceByItsImeiElseItsBarcode) {
    const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
        {"359876543210984", "TFX1", "IMEI-359876543210984"},
        {"000000000000000", "TFX1/../x", "barcode-TFX1_.._x"},
        {"", "", ""},
    };
    for (const auto& [imei, barcode, identity] : cases) {
        EXPECT_EQ(DeviceIdentity(imei, barcode), identity) << imei << " " << barcode;
    }
}

}  // namespace
}  // namespace tapfix::nv::test
