#include "platform/debug_output.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "support/temp_dir.hpp"

namespace tapfix::test {
namespace {

using ::testing::MatchesRegex;

std::vector<std::string> Lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(DebugOutput, EveryTextIsOneTimestampedLine) {
    struct Case {
        std::string text;
        std::string logged;
    };
    const Case cases[] = {
        {"CDownloadService::Download Enter", "CDownloadService::Download Enter"},
        {"two\nlines\r\n", "two lines  "},
        {"", ""},
        {"恢复nv失败，重新恢复!", "恢复nv失败，重新恢复!"},
        // A router's version text must not clear the screen of whoever reads the log.
        {"V1\x1b[2J\x07", "V1?[2J?"},
        {"C1 \xc2\x9b and Latin-1 \x9b", "C1 ? and Latin-1 ?"},
    };
    for (const Case& c : cases) {
        const std::string line = platform::FormatDebugLine(c.text);
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\n');
        const std::string body = line.substr(0, line.size() - 1);
        EXPECT_THAT(
            body.substr(0, 24),
            MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} "));
        EXPECT_EQ(body.substr(24), c.logged);
    }
}

TEST(DebugOutput, AppendsToAPrivateLogFileAcrossRuns) {
    TempDir dir;
    const std::filesystem::path file = dir.Path() / platform::DebugOutput::kFileName;
    std::string error;
    {
        platform::DebugOutput output;
        output.Write("before the file is open");
        ASSERT_TRUE(output.Open(file, error)) << error;
        output.Write("first run");
    }
    {
        platform::DebugOutput output;
        ASSERT_TRUE(output.Open(file, error)) << error;
        output.Write("second run");
    }
    const std::vector<std::string> lines = Lines(file);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], ::testing::EndsWith(" first run"));
    EXPECT_THAT(lines[1], ::testing::EndsWith(" second run"));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(DebugOutput, LinesFromManyThreadsStayWhole) {
    TempDir dir;
    const std::filesystem::path file = dir.Path() / "log";
    platform::DebugOutput output;
    std::string error;
    ASSERT_TRUE(output.Open(file, error)) << error;
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&output, t] {
            for (int i = 0; i < kLines; ++i) {
                output.Write("writer " + std::to_string(t) + " line " + std::to_string(i) +
                             std::string(100, '.'));
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    const std::vector<std::string> lines = Lines(file);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
    for (const std::string& line : lines) {
        EXPECT_THAT(line, MatchesRegex(".* writer [0-9] line [0-9]+\\.{100}"));
    }
}

TEST(DebugOutput, UnwritableLogIsRefusedWithItsPath) {
    TempDir dir;
    platform::DebugOutput output;
    std::string error;
    EXPECT_FALSE(output.Open(dir.Path() / "missing" / "log", error));
    EXPECT_NE(error.find("missing"), std::string::npos);
}

}  // namespace
}  // namespace tapfix::test
