// XQCN as other tools write it: read, written, refused when it is not what it says, and
// exchanged with the backups of the work folder.
#include "nv/xqcn.hpp"

#include <gtest/gtest.h>

#include "nv/backup_files.hpp"
#include "nv/backup_store.hpp"
#include "nv_fixture.hpp"
#include "support/file_bytes.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::nv::test {
namespace {

using tapfix::test::ReadFileBytes;
using tapfix::test::WriteFileBytes;

constexpr std::string_view kCalibrationPath = "/nv/item_files/mcs/tcxomgr/field_cal_params";

NvRecord Item(std::uint16_t number, std::initializer_list<std::uint8_t> bytes) {
    NvRecord record{number, {}, 0};
    std::copy(bytes.begin(), bytes.end(), record.data.begin());
    return record;
}

// IMEI 359876543210984 as NV item 550 keeps it.
const NvRecord kImei = Item(550, {0x08, 0x3A, 0x95, 0x78, 0x56, 0x34, 0x12, 0x90, 0x48});
const NvRecord kMac = Item(kWifiMacItem, {0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});

std::vector<std::uint16_t> Numbers(const std::vector<NvRecord>& items) {
    std::vector<std::uint16_t> numbers;
    for (const NvRecord& item : items) {
        numbers.push_back(item.item);
    }
    return numbers;
}

TEST(XqcnTest, AHandWrittenFileReadsAsItsStructureSaysAndWritesBackTheSame) {
    XqcnContent content;
    std::string error;
    ASSERT_TRUE(ReadXqcn(ReadFileBytes(TAPFIX_XQCN_SAMPLE), content, error)) << error;
    EXPECT_EQ(Numbers(content.items), (std::vector<std::uint16_t>{550, 22, 4678, 6700}));
    EXPECT_EQ(content.items[3].data[15], 16);
    const std::vector<XqcnFile> files = {
        {"/nv/item_files/rfnv/00020207", "\x10\x20\x30\x40\x50"},
        {std::string(kCalibrationPath), std::string("\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF\xD0\xD1"
                                                    "\xD2\xD3\xD4\xD5\xD6\xD7\xD8\xD9\xDA\xDB")}};
    EXPECT_EQ(content.efsFiles, files);

    const std::string written = WriteXqcn(content, "copy.qcn");
    EXPECT_TRUE(written.starts_with("<?xml version=\"1.0\" encoding=\"Windows-1252\"?>"));
    EXPECT_NE(written.find("<Stream Length='6' Name='File_Version' Value='02 00 00 00 00 00'/>"),
              std::string::npos);
    XqcnContent again;
    ASSERT_TRUE(ReadXqcn(written, again, error)) << error;
    EXPECT_EQ(Numbers(again.items), Numbers(content.items));
    EXPECT_EQ(again.items[0].data, content.items[0].data);
    EXPECT_EQ(again.efsFiles, content.efsFiles);
}

// A document around one NV stream and one EFS section.
std::string Document(std::string_view itemArray, std::string_view section) {
    return "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>\n<Storage Name='x'><Storage "
           "Name='00000000'><Storage Name='default'><Storage Name='NV_NUMBERED_ITEMS'>" +
           std::string(itemArray) + "</Storage>" + std::string(section) +
           "</Storage></Storage></Storage>";
}

std::string ItemStream(const std::vector<NvRecord>& items) {
    XqcnContent content;
    content.items = items;
    const std::string text = WriteXqcn(content, "x");
    const std::size_t start = text.find("<Stream Length=");
    return text.substr(start, text.find("/>", start) + 2 - start);
}

std::string Section(std::string_view pathValue, std::string_view dataName = "00000000") {
    return "<Storage Name='NV_Items'><Storage Name='EFS_Dir'><Stream Length='" +
           std::to_string((pathValue.size() + 1) / 3) + "' Name='00000000' Value='" +
           std::string(pathValue) +
           "'/></Storage><Storage Name='EFS_Data'><Stream Length='1' Name='" +
           std::string(dataName) + "' Value='01'/></Storage></Storage>";
}

std::string Nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) {
        text += "<Storage Name='d'>";
    }
    return text;
}

// "/nv/a" and "/x/a" and "/nv/../a" as hex.
constexpr std::string_view kNvPath = "2F 6E 76 2F 61";
constexpr std::string_view kOutsidePath = "2F 78 2F 61";
constexpr std::string_view kClimbingPath = "2F 6E 76 2F 2E 2E 2F 61";

TEST(XqcnTest, WhatIsNotXqcnOrHoldsWhatTapfixRefusesIsRefusedWithItsReason) {
    const std::string items = ItemStream({kImei});
    std::string shortRecord = items;
    shortRecord.replace(shortRecord.find("88 00"), 5, "87 00");
    std::string bigItem = ItemStream({Item(1, {})});
    bigItem.replace(bigItem.find("01 00 00 00"), 11, "01 00 01 00");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "not an XQCN file"},
        {"<html><body/></html>", "a Storage or Stream element expected"},
        {"<?xml version='1.0'?><Storage Name='x'>", "an unended element"},
        {"<Stream Length='0' Name='x' Value=''/>", "its root is a stream"},
        {"<Storage Name='x'><Storage Name='y'/></Storage>", "neither NV_NUMBERED_ITEMS"},
        {Document("<Stream Length='3' Name='NV_ITEM_ARRAY' Value='01 02'/>", ""),
         "its Length '3' is not the 2 bytes"},
        {Document("<Stream Length='1' Name='NV_ITEM_ARRAY' Value='GG'/>", ""), "not hexadecimal"},
        {Document(shortRecord, ""), "a record of another length than 136 bytes"},
        {"<Storage Name='x'></Stream>", "a mismatched end tag"},
        {Document(ItemStream({kImei, kImei}), ""), "item 550 is there twice"},
        {Document(bigItem, ""), "item 65537 is out of range"},
        {Document(items, Section(kOutsidePath)), "is outside /nv/"},
        {Document(items, Section(kClimbingPath)), "climbs with .."},
        {Document(items, Section(kNvPath, "00000001")), "has no data"},
        {Document(items, Section(kNvPath) + Section(kNvPath)), "is there twice"},
        {std::string(20, '<'), "not an XQCN file"},
        {Nested(40), "nested too deep"},
    };
    for (const auto& [text, reason] : cases) {
        XqcnContent content;
        std::string error;
        EXPECT_FALSE(ReadXqcn(text, content, error)) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << error << "\n" << text;
    }
}

config::DownloadServiceConfig CalibrationConfig() {
    config::DownloadServiceConfig config;
    config.efsRfNvOver6w = {{67300, std::string(kCalibrationPath.substr(1))}};
    return config;
}

// A backup as a backup before a download leaves it.
void WriteBackup(const fs::path& folder, const std::vector<NvRecord>& items) {
    fs::create_directories(folder / "ITEM_EFS_RFNV");
    std::string records;
    for (const NvRecord& item : items) {
        const NvRecordBytes bytes = EncodeNvRecord(item);
        records.append(bytes.begin(), bytes.end());
    }
    WriteFileBytes(folder / "Channel0.nv", records);
    WriteFileBytes(folder / "ITEM_EFS_RFNV" / "00020207", "rf calibration");
    WriteFileBytes(folder / "ITEM_EFS_RFNV" / "00067300", "field calibration");
    WriteFileBytes(folder / "wifi_mac", std::string("021A2B3C4D5E") + '\0');
}

// Export and import give back the backup byte for byte; a file without an IMEI is refused
// and writes nothing.
TEST(XqcnTest, ABackupGoesOutAndComesBackByteForByte) {
    tapfix::test::TempDir dir;
    const fs::path original = dir.Path() / "original";
    WriteBackup(original, {kImei, Item(6700, {1, 2, 3}), kMac});
    const config::DownloadServiceConfig config = CalibrationConfig();
    XqcnContent content;
    std::string error;
    ASSERT_TRUE(ExportBackup(*ReadStoredBackup(original), config, content, error)) << error;
    ASSERT_TRUE(ReadXqcn(WriteXqcn(content, "original"), content, error)) << error;
    content.efsFiles.push_back({"/nv/item_files/other/settings", "kept by other tools"});

    StoredBackup imported;
    std::vector<std::string> leftOut;
    ASSERT_TRUE(ImportBackup(content, dir.Path(), config, imported, leftOut, error)) << error;
    EXPECT_EQ(imported.record.imei, "359876543210984");
    EXPECT_EQ(imported.folder.parent_path(), dir.Path() / "NVArchive" / "IMEI-359876543210984");
    EXPECT_EQ(leftOut, std::vector<std::string>{"/nv/item_files/other/settings"});
    auto expected = FolderContents(original);
    auto actual = FolderContents(imported.folder);
    EXPECT_TRUE(actual.erase("device_identity"));
    EXPECT_EQ(actual, expected);

    content.items.erase(content.items.begin());
    EXPECT_FALSE(ImportBackup(content, dir.Path() / "other", config, imported, leftOut, error));
    EXPECT_NE(error.find("holds no IMEI"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir.Path() / "other" / "NVArchive" / "IMEI-359876543210984"));
}

// A backup named by folder or by IMEI (its newest complete one, pending or archived; a pending
// copy whose restore was cut short first).
TEST(BackupStoreTest, FindsTheBackupAFolderOrAnImeiNames) {
    tapfix::test::TempDir dir;
    const fs::path work = dir.Path();
    const auto write = [&](const fs::path& folder, std::string time, bool complete,
                           RestoreState restore = RestoreState::None,
                           std::string imei = "359876543210984") {
        WriteBackup(folder, {kImei});
        BackupRecord record;
        record.imei = std::move(imei);
        record.time = std::move(time);
        record.complete = complete;
        record.restore = restore;
        std::string error;
        ASSERT_TRUE(WriteBackupRecord(folder, record, error)) << error;
    };
    write(work / "NVArchive" / "IMEI-359876543210984" / "old", "2026-01-01T00:00:00Z", true);
    write(work / "NVArchive" / "IMEI-359876543210984" / "newest", "2026-03-01T00:00:00Z", false);
    // Its restore was cut short; "later" was taken of the half-written router.
    write(work / "SaveNV" / "IMEI-359876543210984", "2026-02-01T00:00:00Z", true,
          RestoreState::Incomplete);
    write(work / "NVArchive" / "IMEI-359876543210984" / "later", "2026-02-02T00:00:00Z", true);
    write(work / "NVArchive" / "IMEI-359876543210992" / "other", "2026-02-03T00:00:00Z", true,
          RestoreState::None, "359876543210992");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"359876543210984", (work / "SaveNV" / "IMEI-359876543210984").string()},
        {(work / "SaveNV" / "IMEI-359876543210984").string() + "/",
         (work / "SaveNV" / "IMEI-359876543210984").string()},
        {(work / "NVArchive" / "IMEI-359876543210984" / "old").string(),
         (work / "NVArchive" / "IMEI-359876543210984" / "old").string()},
        {"111111111111111", "no complete backup of the router with IMEI 111111111111111"},
        {"12345", "is neither a backup folder nor an IMEI"},
        {work.string(), "holds no backup"},
    };
    for (const auto& [which, expected] : cases) {
        std::string error;
        const std::optional<StoredBackup> found = FindBackup(work, which, error);
        const bool explained = error.find(expected) != std::string::npos;
        EXPECT_EQ(found ? found->folder.string() : explained ? expected : error, expected) << which;
    }
    std::vector<std::string> places;
    for (const BackupSummary& summary : ListBackups(work)) {
        places.push_back(std::string(PlaceName(summary.place)) + " " + summary.backup.record.time +
                         " " + std::to_string(summary.nvItems) + " " + summary.wifiMac);
    }
    EXPECT_EQ(places, (std::vector<std::string>{"pending 2026-02-01T00:00:00Z 1 021A2B3C4D5E",
                                                "archive 2026-03-01T00:00:00Z 1 021A2B3C4D5E",
                                                "archive 2026-02-03T00:00:00Z 1 021A2B3C4D5E",
                                                "archive 2026-02-02T00:00:00Z 1 021A2B3C4D5E",
                                                "archive 2026-01-01T00:00:00Z 1 021A2B3C4D5E"}));

    // Named by nothing: any router's newest complete backup, not the first one listed.
    write(work / "SaveNV" / "IMEI-359876543210984", "2025-12-01T00:00:00Z", true);
    std::string error;
    const std::optional<StoredBackup> newest = FindBackup(work, "", error);
    ASSERT_TRUE(newest) << error;
    EXPECT_EQ(newest->folder, work / "NVArchive" / "IMEI-359876543210992" / "other");
}

}  // namespace
}  // namespace tapfix::nv::test
