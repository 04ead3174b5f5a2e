// The campaign's checks must catch what they are there for: a run that lies about its result
// or overruns its bound, a router left without its data or with another's, and a backup that
// is half-written, unlisted or someone else's.
#include "soak_checks.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.hpp"

namespace tapfix::test::soak {
namespace {

using std::chrono::milliseconds;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

struct RunCase {
    const char* name;
    int exitStatus;
    const char* out;
    milliseconds took;
    const char* problem;  // empty: the run is sound
};

TEST(SoakChecks, RunsEndWithTheirResultInTime) {
    const RunCase cases[] = {
        {"updated", 0, "hint: x\nresult: 0 Update successfully!\n", milliseconds(10), ""},
        {"failed download", 4, "result: -1 Download failed\n", milliseconds(10), ""},
        {"resume asked", 5, "result: 5 Nothing was written\n", milliseconds(10), ""},
        {"status not the result's", 0, "result: -1 Download failed\n", milliseconds(10),
         "exit status 0"},
        {"no result line", 4, "hint: Downloading\n", milliseconds(10), "without a result line"},
        {"result not last", 0, "result: 0 ok\nhint: more\n", milliseconds(10), "without a result"},
        {"over its bound", 0, "result: 0 ok\n", milliseconds(2000), "its bound is 1000 ms"},
        {"killed at its time-out", -1, "", milliseconds(10), "did not end"},
    };
    for (const RunCase& c : cases) {
        RunRecord run;
        run.exitStatus = c.exitStatus;
        run.out = c.out;
        run.took = c.took;
        run.bound = milliseconds(1000);
        const std::vector<std::string> problems = CheckRun(run);
        if (std::string_view(c.problem).empty()) {
            EXPECT_THAT(problems, IsEmpty()) << c.name;
        } else {
            ASSERT_THAT(problems, SizeIs(1)) << c.name;
            EXPECT_THAT(problems[0], HasSubstr(c.problem)) << c.name;
        }
    }
}

Json Router(const char* nvValue, const char* mac, bool blank = false) {
    return {{"nv", {{"10", nvValue}, {"4678", mac}}},
            {"efs", Json::object()},
            {"wifi", {{"ssid", std::string("ssid-") + nvValue}, {"password", "p"}}},
            {"blank", blank}};
}

void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

// A backup folder as the updater writes it: one NV record of item 10, the MAC, its record.
void WriteBackup(const std::filesystem::path& folder, const std::string& imei, char firstByte,
                 const std::string& mac, bool complete = true) {
    std::string record(136, '\0');
    record[0] = 10;
    record[4] = firstByte;
    WriteFile(folder / "Channel0.nv", record);
    WriteFile(folder / "wifi_mac", mac);
    WriteFile(folder / "device_identity",
              "imei=" + imei + "\ncomplete=" + (complete ? "1" : "0") + "\n");
}

class SoakRouterChecks : public ::testing::Test {
  protected:
    std::vector<std::string> Check() const { return CheckRouters(routers_, package_, dir_.Path()); }

    TempDir dir_;
    PackageFacts package_{{10}, {}, {}};
    std::vector<RouterRecord> routers_{
        {"111", Router("aa", "021a2b3c4d5e"), Router("aa", "021a2b3c4d5e"), 0, false},
        {"222", Router("bb", "0a0b0c0d0e0f"), Router("bb", "0a0b0c0d0e0f"), 0, false}};
};

TEST_F(SoakRouterChecks, EveryRouterKeepsItsOwnData) {
    EXPECT_THAT(Check(), IsEmpty());
    routers_[1].after = Router("aa", "0a0b0c0d0e0f");
    const std::vector<std::string> problems = Check();
    ASSERT_THAT(problems, SizeIs(2));
    EXPECT_THAT(problems[0], HasSubstr("router 222 lost or changed NV item 10"));
    EXPECT_THAT(problems[1], HasSubstr("router 222 holds router 111's NV item 10"));
}

TEST_F(SoakRouterChecks, ABlankRouterNeedsItsOwnCompleteCopyAndAFailureSaid) {
    routers_[1].after = Router("", "", true);
    routers_[1].lastExitStatus = 4;
    const std::filesystem::path copy = dir_.Path() / "SaveNV" / "IMEI-222";
    WriteBackup(copy, "222", '\xbb', "0A0B0C0D0E0F");
    EXPECT_THAT(Check(), IsEmpty());

    routers_[1].after = Router("", "");
    EXPECT_THAT(Check(), SizeIs(1)) << "firmware runs without the router's data";
    routers_[1].leftInDownloadMode = true;
    EXPECT_THAT(Check(), IsEmpty());

    routers_[1].lastExitStatus = 0;
    EXPECT_THAT(Check(), SizeIs(1)) << "a blank router reported as updated";
    routers_[1].lastExitStatus = 4;
    WriteBackup(copy, "222", '\xaa', "0A0B0C0D0E0F");
    EXPECT_THAT(Check(), SizeIs(1)) << "the copy holds the other router's item";
    WriteBackup(copy, "222", '\xbb', "0A0B0C0D0E0F", false);
    EXPECT_THAT(Check(), SizeIs(1)) << "an incomplete copy";
}

TEST_F(SoakRouterChecks, BackupsAreListedWholeAndTheirRoutersOwn) {
    const std::filesystem::path own = dir_.Path() / "NVArchive" / "IMEI-111" / "t1";
    const std::filesystem::path mixed = dir_.Path() / "NVArchive" / "IMEI-222" / "t2";
    const std::filesystem::path partial = dir_.Path() / "SaveNV" / "IMEI-222";
    WriteBackup(own, "111", '\xaa', "021A2B3C4D5E");
    WriteBackup(mixed, "222", '\xbb', "021A2B3C4D5E");
    WriteBackup(partial, "222", '\xaa', "x", false);
    WriteFile(partial / ".Channel0.nv.partial", "half");
    const auto line = [](const std::filesystem::path& folder, const char* imei, bool complete) {
        return Json{{"folder", folder.string()}, {"imei", imei}, {"complete", complete}}.dump() +
               "\n";
    };
    EXPECT_THAT(
        CheckBackups(line(own, "111", true) + line(partial, "222", false), routers_, dir_.Path()),
        ElementsAre(HasSubstr(mixed.string() + " is not listed")));
    const std::vector<std::string> problems = CheckBackups(
        line(own, "111", true) + line(mixed, "222", true) + line(partial, "222", false), routers_,
        dir_.Path());
    EXPECT_THAT(problems, ElementsAre(HasSubstr("holds what its router did not have: MAC")));

    WriteFile(own / "Channel0.nv", std::string(100, 'x'));
    EXPECT_THAT(CheckBackups(line(own, "111", true) + line(mixed, "222", false) +
                                 line(partial, "222", false),
                             routers_, dir_.Path()),
                Contains(HasSubstr("half-written")));
}

}  // namespace
}  // namespace tapfix::test::soak
