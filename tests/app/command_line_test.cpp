#include "app/command_line.hpp"

#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tapfix::test {
namespace {

// What the front-ends' start-up options become; nullopt when the command line is refused.
std::optional<app::StartupOptions> Parse(std::vector<std::string> args) {
    CLI::App cli;
    app::StartupOptions options;
    app::AddStartupOptions(cli, options);
    std::vector<char*> argv{const_cast<char*>("program")};
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    try {
        cli.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError&) {
        return std::nullopt;
    }
    return options;
}

TEST(StartupOptions, StartInRussianUnlessEnglishIsAskedFor) {
    const std::pair<std::vector<std::string>, std::optional<bool>> cases[] = {
        {{}, false},
        {{"--lang", "ru"}, false},
        {{"--lang", "en"}, true},
        {{"--lang", "de"}, std::nullopt},
        {{"--lang"}, std::nullopt},
    };
    for (const auto& [args, english] : cases) {
        const std::optional<app::StartupOptions> options = Parse(args);
        EXPECT_EQ(options.has_value(), english.has_value()) << ::testing::PrintToString(args);
        if (options && english) {
            EXPECT_EQ(options->english, *english) << ::testing::PrintToString(args);
        }
    }
}

TEST(StartupOptions, FoldersFilesAndVerboseReachTheStartUp) {
    const std::optional<app::StartupOptions> options =
        Parse({"--work-dir", "/w", "--package", "/p.pkg", "-v"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->workFolder, "/w");
    EXPECT_EQ(options->package, "/p.pkg");
    EXPECT_TRUE(options->verbose);
    EXPECT_TRUE(options->textFile.empty());
    EXPECT_FALSE(options->allowUnsigned || options->allowDowngrade);
    EXPECT_FALSE(Parse({"--texts", "/no/such/file"}));
    const std::optional<app::StartupOptions> allowing =
        Parse({"--allow-unsigned", "--allow-downgrade"});
    ASSERT_TRUE(allowing);
    EXPECT_TRUE(allowing->allowUnsigned && allowing->allowDowngrade);
}

TEST(StartupOptions, ResumeTakesARealImeiOnly) {
    const std::pair<std::vector<std::string>, std::optional<std::string>> cases[] = {
        {{}, ""},
        {{"--resume", "359876543210984"}, "359876543210984"},
        {{"--resume", "35987654321098"}, std::nullopt},
        {{"--resume", "000000000000000"}, std::nullopt},
        {{"--resume", "35987654321098X"}, std::nullopt},
        {{"--resume"}, std::nullopt},
    };
    for (const auto& [args, imei] : cases) {
        const std::optional<app::StartupOptions> options = Parse(args);
        EXPECT_EQ(options.has_value(), imei.has_value()) << ::testing::PrintToString(args);
        if (options && imei) {
            EXPECT_EQ(options->resumeImei, *imei);
        }
    }
}

}  // namespace
}  // namespace tapfix::test
