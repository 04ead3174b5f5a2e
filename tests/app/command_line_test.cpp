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

// Each command line gives the value `field` reads from its options, or is refused (nullopt).
template <typename Value>
using ParseCases = std::vector<std::pair<std::vector<std::string>, std::optional<Value>>>;

template <typename Value, typename Field>
void ExpectParsed(const ParseCases<Value>& cases, Field field) {
    for (const auto& [args, value] : cases) {
        const std::optional<app::StartupOptions> options = Parse(args);
        EXPECT_EQ(options.has_value(), value.has_value()) << ::testing::PrintToString(args);
        if (options && value) {
            EXPECT_EQ(field(*options), *value) << ::testing::PrintToString(args);
        }
    }
}

TEST(StartupOptions, StartInRussianUnlessEnglishIsAskedFor) {
    const ParseCases<bool> cases = {
        {{}, false},
        {{"--lang", "ru"}, false},
        {{"--lang", "en"}, true},
        {{"--lang", "de"}, std::nullopt},
        {{"--lang"}, std::nullopt},
    };
    ExpectParsed(cases, [](const app::StartupOptions& options) { return options.english; });
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
    const ParseCases<std::string> cases = {
        {{}, ""},
        {{"--resume", "359876543210984"}, "359876543210984"},
        {{"--resume", "35987654321098"}, std::nullopt},
        {{"--resume", "000000000000000"}, std::nullopt},
        {{"--resume", "35987654321098X"}, std::nullopt},
        {{"--resume"}, std::nullopt},
    };
    ExpectParsed(cases, [](const app::StartupOptions& options) { return options.resumeImei; });
}

}  // namespace
}  // namespace tapfix::test
