// The backup folder on disk: the saved copy, the archive, removal.
#include <gtest/gtest.h>
#include <unistd.h>

#include "nv/backup_archive.hpp"
#include "nv_fixture.hpp"
#include "support/file_bytes.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::nv::test {
namespace {

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

TEST(SavedBackupTest, KeepsTheNvItemsWithOrWithoutWifiMacAndArchivesTheEarlierCopy) {
    struct Case {
        bool withMac;
        const char* missing;  // a file the failed update did not leave
        const char* failure;
    };
    for (const Case& c : {Case{true, "", ""}, Case{false, "", ""},
                          Case{true, "Channel0.nv", "save Channel0.nv fail"},
                          Case{true, "ITEM_EFS_RFNV", "CopyDir RFNV fail"}}) {
        tapfix::test::TempDir dir;
        const fs::path root = dir.Path();
        WriteBackup(root, "359876543210984", c.withMac);
        if (*c.missing != '\0') {
            fs::remove_all(root / c.missing);
        }
        WriteBackup(root / "SaveNV", "111111111111111", true);
        const auto earlier = FolderContents(root / "SaveNV");
        auto expected = FolderContents(root);
        std::erase_if(expected, [](const auto& file) { return file.first.starts_with("SaveNV/"); });

        std::string failure;
        const bool saved = *c.failure == '\0';
        EXPECT_EQ(SaveBackupCopy(root, failure), saved) << failure;
        EXPECT_TRUE(failure.starts_with(c.failure)) << failure;
        EXPECT_EQ(FolderContents(root / "SaveNV"), saved ? expected : earlier)
            << "a whole copy or none, no stale wifi_mac";
        EXPECT_EQ(ModeOf(root / "SaveNV") == 0700u, saved);
        const fs::path archive = root / "NVArchive" / "IMEI-111111111111111";
        ASSERT_TRUE(fs::is_directory(archive));
        EXPECT_EQ(FolderContents(fs::directory_iterator(archive)->path()), earlier);
    }
}

TEST(RemoveFolderTreeTest, RemovesByPathKeepingTheArchiveAndTheCurrentFolder) {
    tapfix::test::TempDir dir;
    const fs::path work = dir.Path() / "work";
    WriteBackup(work / "SaveNV", "359876543210984", true);
    WriteBackup(work / "NVArchive" / "IMEI-1" / "20240101-000000", "1", true);
    WriteFileBytes(dir.Path() / "outside", "kept");
    fs::create_symlink(dir.Path() / "outside", work / "SaveNV" / "link");
    const fs::path current = fs::current_path();

    CNvPreservation steps;
    steps.RemoveFolderTree(work / "SaveNV");
    EXPECT_FALSE(fs::exists(work / "SaveNV"));
    steps.RemoveFolderTree(work);
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
