#include "app/package_match.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "app_fakes.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::test {
namespace {

constexpr std::string_view kBuildId = "M9615A-CEFWMAZM-2.0.1017";

class PackageMatchTest : public ::testing::Test {
  protected:
    // A file of `size` filler bytes with `text` written at `offset`.
    std::filesystem::path WriteImage(std::size_t size, std::size_t offset, std::string_view text,
                                     char filler = 'x') {
        std::string bytes(size, filler);
        bytes.replace(offset, text.size(), text);
        bytes.resize(size);
        const std::filesystem::path file = dir_.Path() / ("image" + std::to_string(files_++));
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }

    TempDir dir_;
    int files_ = 0;
};

TEST_F(PackageMatchTest, TextIsFoundWhereverItLiesInTheFile) {
    const std::size_t overlap = kBuildId.size() + 18;
    const std::size_t secondWindow = 1024 - overlap;
    struct Case {
        const char* where;
        std::size_t size;
        std::size_t offset;
    };
    const Case cases[] = {
        {"at the start", 4096, 0},
        {"across the first boundary", 4096, 1024 - kBuildId.size() / 2},
        {"ending at the first boundary", 4096, 1024 - kBuildId.size()},
        {"across the second boundary", 4096, secondWindow + 1024 - 5},
        {"at offset 0x400, as in the package", 4096, 0x400},
        {"in the tail after the last whole window", 3000, 3000 - kBuildId.size()},
        {"in a file shorter than one window", 100, 10},
        {"as the whole file", kBuildId.size(), 0},
    };
    for (const Case& c : cases) {
        const std::filesystem::path image = WriteImage(c.size, c.offset, kBuildId);
        EXPECT_TRUE(app::SearchFileForText(image, kBuildId)) << c.where;
        EXPECT_FALSE(app::SearchFileForText(image, "M9615A-OTHER")) << c.where;
    }
}

TEST_F(PackageMatchTest, ZeroBytesReadAsSpaces) {
    const std::filesystem::path image =
        WriteImage(2048, 700, std::string_view("BUILD\0ID", 8), '\0');
    EXPECT_TRUE(app::SearchFileForText(image, "BUILD ID"));
    EXPECT_TRUE(app::SearchFileForText(image, "  BUILD"));
    EXPECT_FALSE(app::SearchFileForText(image, "BUILDID"));
}

TEST(PackageAge, OnlyComparableBuildIdsMakeADowngrade) {
    const struct {
        const char* package;
        const char* router;
        bool downgrade;
    } cases[] = {
        {"M9615A-X-2.0V01", "M9615A-X-2.0V02", true},
        {"M9615A-X-2.0V9", "M9615A-X-2.0V10", true},
        {"M9615A-X-2.0V1.2", "M9615A-X-2.0V1.10", true},
        {"M9615A-X-2.0V1", "M9615A-X-2.0V1.0.1", true},
        {"M9615A-X-2.0V010", "M9615A-X-2.0V9", false},
        {"M9615A-X-2.0V02", "M9615A-X-2.0V02", false},
        {"M9615A-X-2.0V03", "M9615A-X-2.0V02", false},
        {"M9615A-Y-2.0V01", "M9615A-X-2.0V02", false},
        {"M9615A-X-2.0V01b", "M9615A-X-2.0V02", false},
        {"M9615A-X-2.0V", "M9615A-X-2.0V02", false},
        {"M9615A-X-2.0V1..2", "M9615A-X-2.0V02", false},
        {"", "M9615A-X-2.0V02", false},
        {"M9615A-X-2.0V01", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app::IsDowngrade(c.package, c.router), c.downgrade)
            << c.package << " on " << c.router;
    }
}

TEST_F(PackageMatchTest, MissingFileOrTextLongerThanAWindowIsNotFound) {
    EXPECT_FALSE(app::SearchFileForText(dir_.Path() / "absent.mbn", kBuildId));
    const std::string longText(1010, 'x');
    EXPECT_FALSE(app::SearchFileForText(WriteImage(4096, 0, longText), longText));
}

TEST_F(PackageMatchTest, BuildIdIsMatchedUpToItsLastCapitalV) {
    const std::filesystem::path image = WriteImage(4096, 0x400, kBuildId);
    struct Case {
        std::string buildId;
        bool matches;
    };
    const Case cases[] = {
        {std::string(kBuildId) + "V1.2", true},
        {std::string(kBuildId) + "V1V2", false},  // the prefix keeps its first "V1"
        {std::string(kBuildId), true},            // no "V": searched whole
        {"V123", false},                          // empty prefix
        {"", false},
        {"M9615A-CEFWMAZM-2.0.1018V1", false},
        {"m9615a-cefwmazm-2.0.1017V1", false},
    };
    for (const Case& c : cases) {
        InstantClock clock;
        EXPECT_EQ(app::PackageMatchesDevice(image, c.buildId, clock), c.matches) << c.buildId;
        // A miss is searched once more after a pause; an empty prefix is not searched at all.
        const bool searchedTwice = !c.matches && c.buildId.rfind('V') != 0 && !c.buildId.empty();
        EXPECT_EQ(clock.Slept(), searchedTwice
                                     ? platform::ScaledWait(std::chrono::milliseconds(500))
                                     : platform::Milliseconds(0))
            << c.buildId;
    }
}

}  // namespace
}  // namespace tapfix::test
