#include "config/package.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "config/download_config.hpp"
#include "config/failure_text.hpp"
#include "reference/download_xml.hpp"
#include "reference/firmware.hpp"
#include "support/file_bytes.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::config {
namespace {

const std::string kProgram =
    "\x7F"
    "ELF program bytes";

// The reference firmware packed into a small stand-in program.
class PackedProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(reference::GenerateReferenceFirmware({Firmware(), false, "BUILD-7"}, error))
            << error;
        test::WriteFileBytes(Program(), kProgram);
        ASSERT_TRUE(WritePackage(Program(), Firmware(), Packed(), error)) << error;
        std::filesystem::create_directory(Work());
    }
    std::filesystem::path Firmware() const { return dir.Path() / "firmware"; }
    std::filesystem::path Program() const { return dir.Path() / "program"; }
    std::filesystem::path Packed() const { return dir.Path() / "packed"; }
    std::filesystem::path Work() const { return dir.Path() / "work"; }

    bool WorkFolderIsEmpty() const { return std::filesystem::is_empty(Work()); }

    test::TempDir dir;
};

TEST_F(PackedProgram, ExtractsTheTwentyFilesAndPointsTheConfigurationAtThem) {
    CFirmwarePackage package;
    ASSERT_TRUE(package.Open(Packed())) << package.LastError();
    ASSERT_EQ(package.Entries().size(), 20u);
    EXPECT_EQ(package.Entries().front().name, "9615-cdp-image-9615-cdp.yaffs2");
    EXPECT_EQ(package.Entries()[6].resourceId, 151u);
    EXPECT_EQ(package.Entries().back().name, "download.xml");
    EXPECT_TRUE(test::ReadFileBytes(Packed()).starts_with(test::ReadFileBytes(Program())));

    std::filesystem::create_directories(Work() / "SaveNV");
    test::WriteFileBytes(Work() / "SaveNV" / "Channel0.nv", "kept");
    test::WriteFileBytes(Work() / "Channel0.nv", "backup");
    ASSERT_TRUE(package.ExtractPackage(Work())) << package.LastError();
    for (const PackageFile& file : PackageTable()) {
        EXPECT_EQ(test::ReadFileBytes(Work() / file.name),
                  test::ReadFileBytes(Firmware() / file.name))
            << file.name;
    }

    // A second start overwrites the package files and nothing else.
    test::WriteFileBytes(Work() / "rpm.mbn", "stale");
    ASSERT_TRUE(package.ExtractPackage(Work())) << package.LastError();
    EXPECT_EQ(test::ReadFileBytes(Work() / "rpm.mbn"), test::ReadFileBytes(Firmware() / "rpm.mbn"));
    EXPECT_EQ(test::ReadFileBytes(Work() / "SaveNV" / "Channel0.nv"), "kept");
    EXPECT_EQ(test::ReadFileBytes(Work() / "Channel0.nv"), "backup");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Work()), {}), 22);

    std::string error;
    const std::string folder = FolderText(Work());
    ASSERT_TRUE(PointConfigAtWorkFolder(Work() / "download.xml", Work(), Work(), error)) << error;
    std::string expected = reference::PackageDownloadXml();
    for (const std::string name : {"ITEM_VERSIONFILE_PATH", "ITEM_NVFILE_PATH"}) {
        const std::string empty = "<" + name + "></" + name + ">";
        expected.replace(expected.find(empty), empty.size(),
                         "<" + name + ">" + folder + "</" + name + ">");
    }
    EXPECT_EQ(test::ReadFileBytes(Work() / "download.xml"), expected);

    DownloadServiceConfig config;
    ASSERT_TRUE(LoadConfig(Work() / "download.xml", config, error)) << error;
    EXPECT_TRUE(config.loaded);
    EXPECT_EQ(config.files.size(), 13u);
    EXPECT_EQ(config.urgentFiles.size(), 3u);
    EXPECT_EQ(config.versionFilePath, folder);

    // A side file holds the same archive without a program in front.
    ASSERT_TRUE(WritePackage({}, Firmware(), dir.Path() / "side", error)) << error;
    CFirmwarePackage side;
    ASSERT_TRUE(side.Open(dir.Path() / "side")) << side.LastError();
    EXPECT_EQ(side.ArchiveStart(), 0u);
    EXPECT_TRUE(side.Verify()) << side.LastError();

    // Packing a packed program again replaces its package instead of stacking a second one.
    ASSERT_TRUE(WritePackage(Packed(), Firmware(), dir.Path() / "repacked", error)) << error;
    EXPECT_EQ(test::ReadFileBytes(dir.Path() / "repacked"), test::ReadFileBytes(Packed()));
}

TEST_F(PackedProgram, DamagedPackagesAreRefusedAndWriteNothing) {
    const std::string packed = test::ReadFileBytes(Packed());
    CFirmwarePackage reference;
    ASSERT_TRUE(reference.Open(Packed()));
    const PackageEntry& dsp2 = reference.Entries()[9];

    std::string flipped = packed;
    flipped[kProgram.size() + dsp2.offset + dsp2.size / 2] ^= 0x01;
    test::WriteFileBytes(dir.Path() / "flipped", flipped);
    CFirmwarePackage damaged;
    ASSERT_TRUE(damaged.Open(dir.Path() / "flipped"));
    EXPECT_FALSE(damaged.ExtractPackage(Work()));
    EXPECT_NE(damaged.LastError().find("dsp2.mbn does not match its SHA-256"), std::string::npos)
        << damaged.LastError();
    EXPECT_TRUE(WorkFolderIsEmpty());

    const std::pair<std::string, std::string> cases[] = {
        {packed.substr(0, packed.size() - 5), "no package at the end"},
        {packed.substr(0, packed.size() / 2), "no package at the end"},
        {test::ReadFileBytes(Program()), "no package at the end"},
        {std::string(packed).replace(packed.size() - 16, 8,
                                     std::string("\xFF\xFF\xFF\x7F\0\0\0\0", 8)),
         "outside the file"},
        {std::string(packed).replace(packed.size() - 8, 8, std::string("\x10\0\0\0\0\0\0\0", 8)),
         "index is damaged"},
        {std::string(packed).replace(packed.size() - 24, 4, std::string("\x02\0\0\0", 4)),
         "version 2"},
    };
    for (const auto& [bytes, reason] : cases) {
        test::WriteFileBytes(dir.Path() / "bad", bytes);
        CFirmwarePackage package;
        EXPECT_FALSE(package.Open(dir.Path() / "bad"));
        EXPECT_NE(package.LastError().find(reason), std::string::npos) << package.LastError();
        EXPECT_FALSE(package.ExtractPackage(Work()));
        EXPECT_TRUE(WorkFolderIsEmpty());
    }
}

TEST_F(PackedProgram, MissingFileAndFolderSayWhyTheyCannotBeRead) {
    for (const auto& [file, reason] : {std::pair{dir.Path() / "absent", "it does not exist"},
                                       std::pair{dir.Path(), "it is a folder"}}) {
        CFirmwarePackage package;
        EXPECT_FALSE(package.Open(file));
        EXPECT_NE(package.LastError().find(reason), std::string::npos) << package.LastError();
    }
}

TEST_F(PackedProgram, PackingInPlaceKeepsTheExecuteBit) {
    std::filesystem::permissions(Program(), std::filesystem::perms::owner_all);
    std::string error;
    ASSERT_TRUE(WritePackage(Program(), Firmware(), Program(), error)) << error;
    EXPECT_EQ(std::filesystem::status(Program()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

TEST_F(PackedProgram, BrokenConfigurationIsRefusedInOneLineNamingFileAndLine) {
    const std::string xml = test::ReadFileBytes(Firmware() / "download.xml");
    std::string binary(64 * 1024, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<char>((i * 7919) % 251);
    }
    const std::pair<std::string, std::string> cases[] = {
        {xml.substr(0, xml.size() / 2), "line "},
        {"<phone>\n<DOWNLOADBL>\n<ITEM_MODE>0</ITEM_MODE>\n<<<>>&&\n", "line 4"},
        {binary, "line "},
        {std::string(xml).replace(xml.find("rpm.mbn,"), 3, "xyz"), "xyz.mbn missing"},
    };
    std::string error;
    ASSERT_TRUE(CheckFirmwareFolder(Firmware(), error)) << error;
    for (const auto& [bytes, named] : cases) {
        test::WriteFileBytes(Firmware() / "download.xml", bytes);
        EXPECT_FALSE(CheckFirmwareFolder(Firmware(), error));
        const std::string line = FailureLine(error);
        EXPECT_LE(
            std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xC0) != 0x80; }), 200)
            << line;
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_NE(line.find("download.xml: "), std::string::npos) << line;
        EXPECT_NE(line.find(named), std::string::npos) << line;
    }
}

TEST_F(PackedProgram, PackingRefusesAnIncompleteFolderAndNamesWhatIsMissing) {
    std::filesystem::remove(Firmware() / "sbl1.mbn");
    std::filesystem::remove(Firmware() / "download.xml");
    std::string error;
    EXPECT_FALSE(WritePackage(Program(), Firmware(), dir.Path() / "out", error));
    EXPECT_NE(error.find("lacks: sbl1.mbn download.xml"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "out"));
}

}  // namespace
}  // namespace tapfix::config
