#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "config/download_config.hpp"
#include "config/package.hpp"
#include "link/wire.hpp"
#include "reference/firmware.hpp"
#include "support/file_bytes.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::reference {
namespace {

std::uint32_t Word(const std::string& bytes, std::size_t offset) {
    return wire::ReadLe32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                          offset)
        .value_or(0);
}

TEST(ReferenceFirmware, WritesEveryPackageFileWithItsHeaders) {
    test::TempDir dir;
    std::string error;
    ASSERT_TRUE(GenerateReferenceFirmware({dir.Path(), false, "BUILD-ID-42"}, error)) << error;
    EXPECT_TRUE(config::MissingPackageFiles(dir.Path()).empty());
    std::uintmax_t total = 0;
    for (const config::PackageFile& file : config::PackageTable()) {
        total += std::filesystem::file_size(dir.Path() / file.name);
    }
    EXPECT_LT(total, 8u * 1024 * 1024);

    const std::string table = test::ReadFileBytes(dir.Path() / "partition.mbn");
    ASSERT_EQ(table.size(), 576u);
    EXPECT_EQ(Word(table, 0), 0xAA7D1B9Au);
    EXPECT_EQ(Word(table, 4), 0x1F7D48BCu);
    EXPECT_EQ(Word(table, 8), 3u);
    EXPECT_EQ(Word(table, 12), 20u);
    EXPECT_STREQ(table.c_str() + 16, "0:MIBIB");

    EXPECT_TRUE(test::ReadFileBytes(dir.Path() / "boot-oe-msm9615.img").starts_with("ANDROID!"));
    EXPECT_TRUE(test::ReadFileBytes(dir.Path() / "dsp1.mbn")
                    .starts_with("\x7F"
                                 "ELF\x01\x01"));
    EXPECT_EQ(Word(test::ReadFileBytes(dir.Path() / "rpm.mbn"), 0), 0x17u);
    EXPECT_EQ(Word(test::ReadFileBytes(dir.Path() / "sbl2.mbn"), 0), 0x16u);
    EXPECT_EQ(Word(test::ReadFileBytes(dir.Path() / "armprg.bin"), 0), 7u);
    EXPECT_EQ(Word(test::ReadFileBytes(dir.Path() / "sbl1.mbn"), 0), 0x844BDCD1u);
    EXPECT_TRUE(test::ReadFileBytes(dir.Path() / "setup.exe").starts_with("MZ"));

    // The build id stands where the updater's 1,024-byte block search reaches it.
    const std::string dsp2 = test::ReadFileBytes(dir.Path() / "dsp2.mbn");
    EXPECT_EQ(dsp2.find("BUILD-ID-42"), kBuildIdOffset);
    EXPECT_GE(dsp2.size(), kBuildIdOffset + 1024);

    // Same input, same bytes: packages built twice compare equal.
    test::TempDir again;
    ASSERT_TRUE(GenerateReferenceFirmware({again.Path(), false, "BUILD-ID-42"}, error));
    EXPECT_EQ(test::ReadFileBytes(again.Path() / "dsp2.mbn"), dsp2);
    EXPECT_FALSE(GenerateReferenceFirmware({again.Path(), false, ""}, error));
}

TEST(ReferenceFirmware, TheSaharaPackageDiffersOnlyInTheProgrammerRoute) {
    for (const bool sahara : {false, true}) {
        test::TempDir dir;
        std::string error;
        ReferenceFirmwareOptions options{dir.Path(), false, "BUILD-ID-42"};
        options.sahara = sahara;
        ASSERT_TRUE(GenerateReferenceFirmware(options, error)) << error;
        ASSERT_TRUE(config::PointConfigAtWorkFolder(dir.Path() / "download.xml", dir.Path(),
                                                    dir.Path(), error))
            << error;
        config::DownloadServiceConfig config;
        ASSERT_TRUE(config::LoadConfig(dir.Path() / "download.xml", config, error)) << error;
        EXPECT_EQ(config.saharaProgrammer, sahara ? 1 : 0);
        // The keys read after it are still found: the element sits where the reader looks.
        EXPECT_EQ(config.highSpeedUsb, 1);
        EXPECT_EQ(config.files.size(), 13u);
        EXPECT_EQ(config.readWifiMacDiagCmd, 3);
    }
}

}  // namespace
}  // namespace tapfix::reference
