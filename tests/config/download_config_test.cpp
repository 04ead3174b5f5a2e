#include "config/download_config.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "config/xml_document.hpp"
#include "reference/download_xml.hpp"
#include "support/file_bytes.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::config {
namespace {

const char* const kMainFiles[] = {"rpm.mbn",
                                  "sbl1.mbn",
                                  "sbl2.mbn",
                                  "dsp1.mbn",
                                  "dsp2.mbn",
                                  "appsboot.mbn",
                                  "9615-cdp-image-9615-cdp.yaffs2",
                                  "9615-cdp-usr-image.usrfs.yaffs2",
                                  "9615-cdp-qvodata-image.usrfs.yaffs2",
                                  "efs.mbn",
                                  "9615-cdp-recovery-image-9615-cdp.yaffs2",
                                  "recovery-boot-oe-msm9615.img",
                                  "boot-oe-msm9615.img"};

// A work folder with the package's images (each a different size) and a download.xml whose
// settings block is `settings`. The folder lies inside another one, for files outside it.
class ConfigFolder {
  public:
    ConfigFolder() {
        std::filesystem::create_directory(Folder());
        std::uint32_t size = 100;
        for (const char* name : kMainFiles) {
            test::WriteFileBytes(Folder() / name, std::string(size, 'x'));
            sizes[name] = size;
            size += 37;
        }
    }
    std::filesystem::path Folder() const { return dir.Path() / "work"; }
    std::filesystem::path Outside() const { return dir.Path(); }
    std::string FolderText() const { return Folder().string() + "/"; }
    std::filesystem::path Xml() const { return Folder() / "download.xml"; }

    // Writes the work folder into the package's download.xml as start-up does.
    void WritePackageXml() {
        test::WriteFileBytes(Xml(), reference::PackageDownloadXml());
        XmlDocument document;
        ASSERT_TRUE(document.LoadFile(Xml()));
        ASSERT_TRUE(document.FindChild("DOWNLOADBL") && document.EnterChild());
        for (const char* item : {"ITEM_VERSIONFILE_PATH", "ITEM_NVFILE_PATH"}) {
            ASSERT_TRUE(document.FindChild(item) && document.EnterChild() &&
                        document.SetElementText(FolderText()) && document.LeaveElement());
        }
        ASSERT_TRUE(document.SaveFile(Xml()));
    }

    void WriteSettings(const std::string& items) {
        test::WriteFileBytes(Xml(), "<phone><DOWNLOADBL><ITEM_VERSIONFILE_PATH>" + FolderText() +
                                        "</ITEM_VERSIONFILE_PATH>" + items +
                                        "</DOWNLOADBL></phone>");
    }

    test::TempDir dir;
    std::map<std::string, std::uint32_t> sizes;
};

std::string Item(const std::string& name, const std::string& value) {
    return "<" + name + ">" + value + "</" + name + ">";
}

TEST(LoadConfig, ReadsThePackageFileAfterTheWorkFolderIsWrittenIntoIt) {
    ConfigFolder folder;
    folder.WritePackageXml();
    DownloadServiceConfig config;
    std::string error;
    ASSERT_TRUE(LoadConfig(folder.Xml(), config, error)) << error;
    ASSERT_TRUE(config.loaded);
    EXPECT_EQ(config.nvOption, 2);
    EXPECT_EQ(config.versionFilePath, folder.FolderText());
    EXPECT_EQ(config.nvFilePath, folder.FolderText());
    EXPECT_EQ(config.saveLockData, 1);
    EXPECT_EQ(config.commonNv, (std::vector<std::int32_t>{550, 23, 52, 4678, 1943}));
    ASSERT_EQ(config.rfNv.size(), 677u);
    EXPECT_EQ(std::set<std::int32_t>(config.rfNv.begin(), config.rfNv.end()).size(), 655u);
    EXPECT_EQ(config.rfNv.front(), 6700);
    EXPECT_EQ(config.rfNv.back(), 22);
    EXPECT_EQ(*std::max_element(config.rfNv.begin(), config.rfNv.end()), 7226);
    EXPECT_EQ(config.lockNv.size(), 29u);
    EXPECT_EQ(config.lockNv.back(), 8028);
    ASSERT_EQ(config.efsRfNv.size(), 299u);
    EXPECT_EQ(std::set<std::int32_t>(config.efsRfNv.begin(), config.efsRfNv.end()).size(), 299u);
    EXPECT_EQ(config.efsRfNv.front(), 20207);
    EXPECT_EQ(config.efsRfNv.back(), 23764);
    ASSERT_EQ(config.efsRfNvOver6w.size(), 12u);
    EXPECT_EQ(config.efsRfNvOver6w[1].number, 67301);
    EXPECT_EQ(config.efsRfNvOver6w[1].efsPath, "nv/item_files/mcs/tcxomgr/ft_table");
    EXPECT_EQ(config.efsRfNvOver6w[10].efsPath, "nv/item_files/conf/mcs_tcxomgr.conf");
    EXPECT_EQ(config.autorunSubId, 161);
    EXPECT_EQ(config.certificationSubId, 207);
    EXPECT_EQ(config.dvbhEfsPath, "brew/mod/cmla/");
    EXPECT_EQ(config.programmerFile, "armprg.bin");
    EXPECT_EQ(config.saharaProgrammer, 0);  // absent: falls back to "armprg.bin", read as 0
    EXPECT_EQ(config.highSpeedUsb, 1);
    EXPECT_EQ(config.trustMode, 1);
    EXPECT_EQ(config.partitionDownload, 1);
    EXPECT_EQ(config.readWifiMacDiagCmd, 3);
    EXPECT_EQ(config.ufi, 1);

    ASSERT_EQ(config.files.size(), 13u);
    ASSERT_EQ(config.urgentFiles.size(), 3u);
    EXPECT_EQ(config.fileEntries.size(), 13u);
    std::uint32_t expectedTotal = 0;
    for (std::size_t i = 0; i < 13; ++i) {
        const DownloadFile& file = config.files[i];
        EXPECT_EQ(file.path, folder.Folder() / kMainFiles[i]);
        EXPECT_EQ(file.size, folder.sizes[kMainFiles[i]]);
        EXPECT_EQ(file.OpenCode, 0x0e);
        EXPECT_EQ(file.dlType, 4);
        EXPECT_EQ(file.bOpenMutilWithName, 1);
        expectedTotal += file.size;
    }
    EXPECT_EQ(config.files[6].partitionName, "0:SYSTEM");
    for (const DownloadFile& file : config.urgentFiles) {
        EXPECT_EQ(file.dlType, 0);
        expectedTotal += file.size;  // the boot images count a second time
    }
    EXPECT_EQ(config.urgentFiles[2].partitionName, "0:SBL2");
    EXPECT_EQ(config.totalBytes, expectedTotal);
}

TEST(LoadConfig, ValueGrammarsAndTheKeyFallback) {
    EXPECT_EQ(ReadInt("  -42abc"), -42);
    EXPECT_EQ(ReadInt("0x0e"), 0);
    EXPECT_EQ(ReadInt("armprg.bin"), 0);
    EXPECT_EQ(ReadInt("99999999999"), 2147483647);
    EXPECT_EQ(ReadHex("0e"), 14);
    EXPECT_EQ(ReadHex(" 0x0e"), 14);
    EXPECT_EQ(ReadHex("0X1FF"), 0xFF);
    EXPECT_EQ(ReadNumberList(""), (std::vector<std::int32_t>{0}));
    EXPECT_EQ(ReadNumberList("1,,2"), (std::vector<std::int32_t>{1, 0, 2}));
    EXPECT_EQ(ReadNumberList("1,2,"), (std::vector<std::int32_t>{1, 2, 0}));
    EXPECT_EQ(ReadNumberList("1, 2"), (std::vector<std::int32_t>{1, 2}));

    // ITEM_RFNV and ITEM_NVFILE_PATH are missing, ITEM_UFI stands before ITEM_HSUSB.
    ConfigFolder folder;
    folder.WriteSettings(Item("ITEM_COMMONNV", "7,8") + Item("ITEM_LOCKNV", "") +
                         Item("ITEM_EFS_RFNV", "5") + Item("ITEM_EFS_RFNV_OVER6W", "1,nv/x") +
                         Item("ITEM_UFI", "1") + Item("ITEM_HSUSB", "1") +
                         Item("ITEM_DOWNLOAD_FILElIST", "  rpm.mbn ,0e,0,4") +
                         Item("ITEM_DOWNLOAD_URGFLIELIST", "sbl1.mbn,0x0e,0,0"));
    DownloadServiceConfig config;
    std::string error;
    ASSERT_TRUE(LoadConfig(folder.Xml(), config, error)) << error;
    EXPECT_TRUE(config.loaded);
    EXPECT_EQ(config.rfNv, (std::vector<std::int32_t>{7, 8}));
    EXPECT_EQ(config.lockNv, (std::vector<std::int32_t>{0}));
    EXPECT_EQ(config.nvFilePath, folder.FolderText());
    EXPECT_EQ(config.saharaProgrammer, 1);  // missing: the text "1,nv/x" of the pair list
    EXPECT_EQ(config.highSpeedUsb, 1);
    EXPECT_EQ(config.ufi, 0);  // behind the search position: the boot list's text, read as 0
    ASSERT_EQ(config.files.size(), 1u);
    EXPECT_EQ(config.files[0].path, folder.Folder() / "rpm.mbn");
    EXPECT_EQ(config.files[0].OpenCode, 14);
    EXPECT_EQ(config.files[0].bOpenMutilWithName, 0);
    EXPECT_EQ(config.files[0].partitionName, "");
    ASSERT_EQ(config.urgentFiles.size(), 1u);
    EXPECT_EQ(config.urgentFiles[0].OpenCode, 14);
    EXPECT_EQ(config.totalBytes, folder.sizes["rpm.mbn"] + folder.sizes["sbl1.mbn"]);
}

TEST(LoadConfig, RefusesFilesAndEntriesItCannotUse) {
    ConfigFolder folder;
    test::WriteFileBytes(folder.Folder() / "one.bin", "1");
    const auto fileList = [](const std::string& text) {
        return Item("ITEM_EFS_RFNV_OVER6W", "1,nv/a") + Item("ITEM_DOWNLOAD_FILElIST", text);
    };
    const std::pair<std::string, std::string> cases[] = {
        {fileList("one.bin,0e,0,4"), "shorter than 2 bytes"},
        {fileList("absent.bin,0e,0,4"), "absent.bin"},
        {fileList("rpm.mbn,0e,0"), "needs a file name"},
        {fileList("rpm.mbn,0e,0,4;"), "needs a file name"},
        {fileList(std::string(300, 'n') + ",0e,0,4"), "255"},
        {Item("ITEM_EFS_RFNV_OVER6W", "1,a;2"), "ITEM_EFS_RFNV_OVER6W: entry \"2\""},
        {Item("ITEM_EFS_RFNV", "5"), "ITEM_EFS_RFNV_OVER6W (missing"},
    };
    for (const auto& [items, reason] : cases) {
        folder.WriteSettings(items);
        DownloadServiceConfig config;
        std::string error;
        EXPECT_FALSE(LoadConfig(folder.Xml(), config, error)) << items;
        EXPECT_FALSE(config.loaded);
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }

    test::WriteFileBytes(folder.Xml(), "<phone><DOWNLOADBL>" + Item("ITEM_VERSIONFILE_PATH", "") +
                                           "</DOWNLOADBL></phone>");
    DownloadServiceConfig config;
    std::string error;
    EXPECT_FALSE(LoadConfig(folder.Xml(), config, error));
    EXPECT_NE(error.find("ITEM_VERSIONFILE_PATH"), std::string::npos);

    // Without a settings block the load "succeeds" and the download stays refused.
    for (const std::string& text :
         {std::string("<phone><DOWNLOADUI/></phone>"), std::string("\x01\x02")}) {
        test::WriteFileBytes(folder.Xml(), text);
        DownloadServiceConfig empty;
        EXPECT_TRUE(LoadConfig(folder.Xml(), empty, error));
        EXPECT_FALSE(empty.loaded);
    }
}

// Names are checked before any file is measured, so an absent file listed earlier, even in
// the other list, does not hide a name that reaches outside the folder.
TEST(LoadConfig, RefusesListedNamesThatLeaveTheImageFolder) {
    namespace fs = std::filesystem;
    ConfigFolder folder;
    test::WriteFileBytes(folder.Outside() / "x", "outside the work folder");
    fs::create_directory(folder.Folder() / "sub");
    test::WriteFileBytes(folder.Folder() / "sub" / "inner.mbn", "inside");
    fs::create_symlink(folder.Outside() / "x", folder.Folder() / "escape.mbn");
    fs::create_directory_symlink(folder.Outside(), folder.Folder() / "up");
    fs::create_symlink(folder.Folder() / "rpm.mbn", folder.Folder() / "alias.mbn");
    const auto lists = [](const std::string& files, const std::string& urgent) {
        return Item("ITEM_EFS_RFNV_OVER6W", "1,nv/a") + Item("ITEM_DOWNLOAD_FILElIST", files) +
               Item("ITEM_DOWNLOAD_URGFLIELIST", urgent);
    };
    const std::string inside = folder.FolderText() + "rpm.mbn";
    struct Case {
        std::string items;
        std::string reason;  // empty: the lists load
        bool nameRefused = true;
    };
    const Case cases[] = {
        {lists("../x,0e,0,4", "rpm.mbn,0e,0,4"), "entry \"../x,0e,0,4\" climbs out"},
        {lists("rpm.mbn,0e,0,4", " sub/../../x ,0e,0,4"), "URGFLIELIST: entry \" sub/../../x"},
        {lists("absent.mbn,0e,0,4", "../x,0e,0,4"), "\"../x,0e,0,4\" climbs out"},
        {lists("/etc/passwd,0e,0,4", "rpm.mbn,0e,0,4"), "\"/etc/passwd,0e,0,4\" names an absolute"},
        {lists(inside + ",0e,0,4", "rpm.mbn,0e,0,4"), "names an absolute path"},
        {lists("escape.mbn,0e,0,4", "rpm.mbn,0e,0,4"), "\"escape.mbn,0e,0,4\" resolves outside"},
        {lists("up/x,0e,0,4", "rpm.mbn,0e,0,4"), "\"up/x,0e,0,4\" resolves outside"},
        {lists("rpm.mbn,0e,0,4;sub/x\\..\\..\\x,0e,0,4", "rpm.mbn,0e,0,4"), "missing", false},
        {lists("alias.mbn,0e,0,4;./sub/inner.mbn,0e,0,4", "rpm.mbn,0e,0,4"), "", false},
    };
    for (const Case& c : cases) {
        folder.WriteSettings(c.items);
        DownloadServiceConfig config;
        std::string error;
        EXPECT_EQ(LoadConfig(folder.Xml(), config, error), c.reason.empty()) << c.items;
        EXPECT_EQ(config.loaded, c.reason.empty()) << c.items;
        if (!c.reason.empty()) {
            EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        }
        if (c.nameRefused) {
            EXPECT_TRUE(config.files.empty() && config.fileEntries.empty()) << c.items;
        }
    }
}

// The package's own download.xml with one name changed is refused as a whole.
TEST(LoadConfig, RefusesThePackageFileWhenOneNameLeavesTheFolder) {
    ConfigFolder folder;
    test::WriteFileBytes(folder.Outside() / "x", "outside the work folder");
    for (const std::string& name : {std::string("../x"), std::string("/etc/passwd")}) {
        folder.WritePackageXml();
        std::string xml = test::ReadFileBytes(folder.Xml());
        const std::size_t at = xml.find("efs.mbn,");
        ASSERT_NE(at, std::string::npos);
        xml.replace(at, std::string("efs.mbn").size(), name);
        test::WriteFileBytes(folder.Xml(), xml);
        DownloadServiceConfig config;
        std::string error;
        EXPECT_FALSE(LoadConfig(folder.Xml(), config, error));
        EXPECT_FALSE(config.loaded);
        EXPECT_NE(error.find("entry \"" + name + ","), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace tapfix::config
