#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "e2e_driver.hpp"
#include "router_facts.hpp"
#include "support/scoped_environment.hpp"

namespace tapfix::test::e2e {
namespace {

using ::testing::HasSubstr;

// The --json events as the README's table documents them: event -> field -> its type, with
// "?" after the type for an optional field.
using EventSchema = std::map<std::string, std::map<std::string, std::string>>;

EventSchema ReadmeEventSchema() {
    std::ifstream readme(TAPFIX_README);
    const std::regex row(R"(^\| `(\w+)` \| ([^|]*) \|)");
    const std::regex field(R"(`(\w+)`(\?)?: (string|integer|boolean))");
    EventSchema schema;
    bool inTable = false;
    for (std::string line; std::getline(readme, line);) {
        inTable = line.starts_with("| event | fields besides") || (inTable && line[0] == '|');
        std::smatch match;
        if (inTable && std::regex_search(line, match, row)) {
            const std::string cell = match[2];
            for (std::sregex_iterator it(cell.begin(), cell.end(), field), end; it != end; ++it) {
                schema[match[1]][(*it)[1]] = (*it)[3].str() + (*it)[2].str();
            }
        }
    }
    return schema;
}

bool HasType(const nlohmann::json& value, const std::string& type) {
    if (type.starts_with("string")) {
        return value.is_string();
    }
    return type.starts_with("boolean") ? value.is_boolean() : value.is_number_integer();
}

// Every way the lines break the schema: one documented event per line with its time, its
// documented fields and no others, and the result last and only there.
std::vector<std::string> SchemaBreaches(const std::string& out, const EventSchema& schema) {
    const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    std::vector<std::string> breaches;
    std::istringstream lines(out);
    std::string last;
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        const bool afterResult = last == "result";
        last = event.is_object() ? event.value("event", "") : "";
        const auto fields = schema.find(last);
        if (afterResult || fields == schema.end() ||
            !std::regex_match(event.value("time", ""), time)) {
            breaches.push_back(line);
            continue;
        }
        for (const auto& [name, value] : event.items()) {
            const auto type = fields->second.find(name);
            const bool known = name == "time" || name == "event" ||
                               (type != fields->second.end() && HasType(value, type->second));
            if (!known) {
                breaches.push_back(name + " in " + line);
            }
        }
        for (const auto& [name, type] : fields->second) {
            if (!type.ends_with('?') && !event.contains(name)) {
                breaches.push_back("no " + name + " in " + line);
            }
        }
    }
    if (last != "result") {
        breaches.push_back("the last line is not the result");
    }
    return breaches;
}

// The first copy waits for good: its router never tells its version, and --yes presses
// "Update" only for a router whose version was read.
TEST(CliEndToEnd, SecondCopyWhileOneRunsSaysSoAndExits) {
    EndToEndDriver driver;
    driver.StartSimulator({"--faults", "diagerror:0x39"});
    const auto first = driver.StartUpdater({"--yes", "--lang", "en"});
    ASSERT_TRUE(first->WaitForOutput("port: COM", Seconds(60))) << first->Out();

    // Another work folder does not make it another copy.
    const ProcessResult second = driver.RunUpdater(
        {"--yes", "--work-dir", (driver.Folder() / "other-work").string()}, Seconds(60));
    EXPECT_EQ(second.exitStatus, 4);
    EXPECT_THAT(second.out, HasSubstr("The program has been running. Cannot open it again!"));
    EXPECT_THAT(second.out, HasSubstr("(pid "));

    first->Signal(SIGINT);
    const ProcessResult ended = first->Finish(Seconds(120));
    EXPECT_EQ(ended.exitStatus, 4) << ended.out << ended.err;
    EXPECT_THAT(ended.out, ::testing::Not(HasSubstr("result:")));
    EXPECT_THAT(ended.out, HasSubstr("hint: Restarting the router…"));
    EXPECT_THAT(ended.out, ::testing::Not(HasSubstr("the update goes on")));
}

TEST(CliEndToEnd, WithoutATerminalOrYesItSaysYesIsNeededAndExits) {
    EndToEndDriver driver;
    const ProcessResult run = driver.RunUpdater({"--lang", "en"}, Seconds(60));
    EXPECT_EQ(run.exitStatus, 4);
    EXPECT_THAT(run.out, HasSubstr("give --yes"));
}

TEST(CliEndToEnd, CtrlCDuringTheUpdateIsRefusedAndTheUpdateGoesOn) {
    EndToEndDriver driver;
    driver.StartSimulator();
    const auto updater = driver.StartUpdater({"--yes", "--lang", "en"});
    ASSERT_TRUE(updater->WaitForOutput("progress: 1%", Seconds(120))) << updater->Out();
    updater->Signal(SIGINT);
    const ProcessResult run = updater->Finish(Seconds(240));
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("message: Still running. Can not exit"));
    EXPECT_THAT(run.out, HasSubstr(kUpdatedResult));
}

TEST(CliEndToEnd, PackedUpdaterChecksItsPackageAndADamagedCopyFails) {
    EndToEndDriver driver;
    const ProcessResult good = driver.RunUpdater({"--check"});
    EXPECT_EQ(good.exitStatus, 0) << good.err;
    EXPECT_THAT(good.out, HasSubstr("dsp2.mbn"));
    EXPECT_THAT(good.out, HasSubstr("totalBytes: "));
    EXPECT_THAT(good.out, HasSubstr("NV items: rf 677"));
    EXPECT_THAT(good.out, HasSubstr("check: ok"));

    const std::filesystem::path damaged = driver.Folder() / "damaged-updater";
    std::filesystem::copy_file(driver.Updater(), damaged);
    {
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(-100000, std::ios::end);
        const char byte = static_cast<char>(file.get());
        file.seekp(-100000, std::ios::end);
        file.put(static_cast<char>(byte ^ 0x5A));
    }
    const ProcessResult bad = driver.Run(damaged, {"--check"});
    EXPECT_EQ(bad.exitStatus, 1);
    EXPECT_THAT(bad.err, HasSubstr("damaged"));
    EXPECT_THAT(bad.out, ::testing::Not(HasSubstr("check: ok")));
}

TEST(PackEndToEnd, WhatWouldNotLoadIsRefusedInOneLineAndBadOptionsExitTwo) {
    EndToEndDriver driver;
    const std::filesystem::path firmware = SharedPackage(Route::BootLoader).firmware;
    const std::filesystem::path broken = driver.Folder() / "broken";
    std::filesystem::copy(firmware, broken);
    std::filesystem::resize_file(broken / "download.xml", 3000);
    const std::string out = (driver.Folder() / "out").string();
    const struct {
        std::vector<std::string> args;
        int exitStatus;
        const char* says;
    } cases[] = {
        {{"--firmware", broken.string(), "--output", out}, 1, "download.xml: line "},
        {{"--firmware", (firmware / "rpm.mbn").string(), "--output", out}, 1, "is not a folder"},
        {{"--firmware", firmware.string()}, 2, "--output"},
        {{"--sign", "key", "--output", out}, 2, "--firmware"},
        {{"--list", (driver.Folder() / "absent").string()}, 1, "does not exist"},
    };
    for (const auto& c : cases) {
        const ProcessResult run = driver.Run(SharedPrograms().pack, c.args, Seconds(120));
        EXPECT_EQ(run.exitStatus, c.exitStatus) << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.says));
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST(PackEndToEnd, SignedUpdaterVerifiesAndAnUnsignedOneTouchesNoRouterWhereAKeyIsTrusted) {
    EndToEndDriver driver;
    const std::filesystem::path publisher = driver.Folder() / "publisher";
    const std::filesystem::path trusted = driver.Folder() / "trusted";
    const std::filesystem::path updater = driver.Folder() / "signed-updater";
    ASSERT_EQ(driver.Run(SharedPrograms().pack, {"--keygen", publisher.string()}).exitStatus, 0);
    std::filesystem::create_directory(trusted);
    std::filesystem::copy(publisher.string() + ".pub", trusted);
    const ProcessResult pack =
        driver.Run(SharedPrograms().pack,
                   {"--firmware", SharedPackage(Route::BootLoader).firmware.string(), "--into",
                    SharedPrograms().cli.string(), "--output", updater.string(), "--sign",
                    publisher.string() + ".key", "--build-id", "M9615A-CEFWMAZM-2.0.1017V01"});
    ASSERT_EQ(pack.exitStatus, 0) << pack.err;
    const ScopedEnvironment keys("TAPFIX_KEYS_PATH", trusted.string());

    const ProcessResult check = driver.Run(updater, {"--check"});
    EXPECT_EQ(check.exitStatus, 0) << check.err;
    EXPECT_THAT(check.out, HasSubstr("(trusted): verified"));
    EXPECT_THAT(check.out, HasSubstr("build=M9615A-CEFWMAZM-2.0.1017V01"));

    driver.StartSimulator();
    const ProcessResult refused = driver.RunUpdater({"--yes", "--lang", "en"}, Seconds(120));
    EXPECT_EQ(refused.exitStatus, 4) << refused.out << refused.err;
    EXPECT_THAT(refused.out, HasSubstr("11111111111111111111111111111!"));
    EXPECT_THAT(refused.out, HasSubstr("the package is not signed"));
    EXPECT_TRUE(Events(driver.Trace(), "request").empty());
}

// The simulator's own command line: every fault in its help, a usage error in one line.
TEST(CliEndToEnd, SimulatorHelpListsEveryFaultAndANegativeTimeIsRefused) {
    EndToEndDriver driver;
    const ProcessResult help = driver.Run(SharedPrograms().simulator, {"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_THAT(help.out, HasSubstr("sahara-swap:K"));
    EXPECT_THAT(help.out, HasSubstr("dlflag-refused:N"));
    const ProcessResult negative = driver.Run(SharedPrograms().simulator, {"--exit-after", "-1"});
    EXPECT_EQ(negative.exitStatus, 2);
    EXPECT_THAT(negative.err, HasSubstr("--exit-after: must be a number of at least 0, not -1"));
    EXPECT_LT(negative.err.size(), 200U) << negative.err;
}

TEST(CliEndToEnd, JsonOfAWholeUpdateAndOfARefusalFollowsTheReadmesSchema) {
    const EventSchema schema = ReadmeEventSchema();
    ASSERT_EQ(schema.size(), 10u) << "the README's event table";
    const struct {
        const char* name;
        std::vector<std::string> simulator;
        int exitStatus;
        const char* explained;
    } cases[] = {
        {"update", {}, 0, "router port found"},
        {"refusal", {"--build-id-prefix", "M9615A-OTHERVENDOR-9.9.9"}, 1, "refused, result 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EndToEndDriver driver;
        driver.StartSimulator(c.simulator);
        const ProcessResult run = driver.RunUpdater({"--yes", "--json", "--lang", "en"});
        EXPECT_EQ(run.exitStatus, c.exitStatus) << run.err;
        EXPECT_THAT(SchemaBreaches(run.out, schema), ::testing::IsEmpty());
        const std::string last = run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1);
        EXPECT_EQ(nlohmann::json::parse(last).value("result", -1), c.exitStatus);
        EXPECT_THAT(run.out, HasSubstr(c.explained));
    }
}

}  // namespace
}  // namespace tapfix::test::e2e
