// Which way an update goes, and whose saved data a router gets back.
#include "app/route_decision.hpp"

#include <gtest/gtest.h>

#include "app/shared_state.hpp"
#include "support/test_names.hpp"

namespace tapfix::test {
namespace {

using app::ImeiAnswer;
using app::Ownership;
using app::RouterFindings;
using app::UpdateRoute;

nv::StoredBackup Copy(std::string imei, std::string path, std::string serial,
                      nv::RestoreState restore = nv::RestoreState::None) {
    nv::StoredBackup copy;
    copy.folder = "SaveNV/IMEI-" + imei;
    copy.record.imei = std::move(imei);
    copy.record.usb = {std::move(path), std::move(serial)};
    copy.record.restore = restore;
    return copy;
}

// Newest first, as they are listed: B and A were taken at the same USB port; C's restore was
// cut short.
const nv::StoredBackup kB = Copy("222222222222222", "1-1", "SB");
const nv::StoredBackup kA = Copy("111111111111111", "1-1", "SA");
const nv::StoredBackup kC = Copy("333333333333333", "1-2", "", nv::RestoreState::Incomplete);
// A router with no copy here.
const std::string kD = "444444444444444";

RouterFindings Running(std::string imei, bool fits = true) {
    RouterFindings router;
    router.versionRead = true;
    router.packageFits = fits;
    router.imeiAnswer = imei.empty() ? ImeiAnswer::Inactive : ImeiAnswer::Read;
    router.imei = std::move(imei);
    return router;
}

RouterFindings Silent(ImeiAnswer answer = ImeiAnswer::NoAnswer, std::string imei = {}) {
    RouterFindings router;
    router.imeiAnswer = answer;
    router.imei = std::move(imei);
    return router;
}

RouterFindings Blank(platform::UsbLocation usb = {}) {
    RouterFindings router;
    router.downloadMode = true;
    router.usb = std::move(usb);
    return router;
}

RouterFindings Stuck() {
    RouterFindings router;
    router.silentInDownloadMode = true;
    return router;
}

RouterFindings At(RouterFindings router, platform::UsbLocation usb) {
    router.usb = std::move(usb);
    return router;
}

RouterFindings Answering(RouterFindings router, ImeiAnswer answer) {
    router.imeiAnswer = answer;
    return router;
}

struct RouteCase {
    const char* name;
    RouterFindings router;
    std::vector<nv::StoredBackup> pending;
    std::string chosen;
    UpdateRoute route;
    // Indexes into `pending`: the copy, or the candidates asked about.
    std::vector<std::size_t> copies;
    Ownership ownership = Ownership::None;
    // AskOwner: the route a confirmed copy takes.
    UpdateRoute confirmedRoute = UpdateRoute::Resume;
};

// One case a line.
// clang-format off
const RouteCase kCases[] = {
    {"healthy router", Running(kD), {kB, kA}, "", UpdateRoute::Normal, {}},
    {"package does not fit", Running(kD, false), {}, "", UpdateRoute::VersionMismatch, {}},
    {"a choice never overrides an IMEI", Running(kD), {kB, kA}, kA.record.imei, UpdateRoute::Normal, {}},
    {"own copy not restored yet is backed up anew", Running(kA.record.imei), {kB, kA}, "",
     UpdateRoute::Normal, {}},
    {"own restore cut short is finished first", Running(kC.record.imei), {kB, kC}, "",
     UpdateRoute::FinishRestore, {1}, Ownership::Imei, UpdateRoute::FinishRestore},
    {"no IMEI, nothing saved here", Running(""), {}, "", UpdateRoute::NoImei, {}},
    {"no IMEI, no restore cut short", Running(""), {kB, kA}, "", UpdateRoute::AskOwner, {0, 1},
     Ownership::None, UpdateRoute::FinishRestore},
    {"no IMEI, stopped after its reset", At(Running(""), {"1-1", ""}), {kA}, "", UpdateRoute::AskOwner,
     {0}, Ownership::None, UpdateRoute::FinishRestore},
    {"no IMEI, its serial after its reset", At(Running(""), {"1-4", "SA"}), {kB, kA}, "",
     UpdateRoute::FinishRestore, {1}, Ownership::UsbSerial, UpdateRoute::FinishRestore},
    {"IMEI read refused, not taken for erased", Answering(At(Running(""), {"1-1", ""}), ImeiAnswer::Refused),
     {kA}, "", UpdateRoute::NoImei, {}},
    {"no IMEI, a restore cut short somewhere", Running(""), {kB, kC}, "", UpdateRoute::AskOwner, {1, 0},
     Ownership::None, UpdateRoute::FinishRestore},
    {"no IMEI, the only copy, cut short at its port", At(Running(""), {"1-2", ""}), {kC}, "",
     UpdateRoute::FinishRestore, {0}, Ownership::UsbPort, UpdateRoute::FinishRestore},
    // Another router failed at the same socket since: either may be this one.
    {"no IMEI, a cut-short copy beside another at its port", At(Running(""), {"1-2", ""}),
     {Copy("5", "1-2", ""), kC}, "", UpdateRoute::AskOwner, {1, 0}, Ownership::None, UpdateRoute::FinishRestore},
    {"no IMEI, a cut-short copy shares its serial", At(Running(""), {"1-9", "SC"}),
     {Copy("5", "1-1", "SC"), Copy("6", "1-2", "SC", nv::RestoreState::Incomplete)}, "", UpdateRoute::AskOwner,
     {1, 0}, Ownership::None, UpdateRoute::FinishRestore},
    {"answers lost: not taken for blank", Silent(), {kA}, "", UpdateRoute::VersionMismatch, {}},
    {"IMEI read, version not", Silent(ImeiAnswer::Read, kA.record.imei), {kA}, kA.record.imei,
     UpdateRoute::VersionMismatch, {}},
    {"half-flashed, nothing saved here", Blank(), {}, "", UpdateRoute::NoSavedData, {}},
    {"silent on a download-mode port", Stuck(), {kA}, kA.record.imei, UpdateRoute::NeedsReplug, {}},
    {"IMEI inactive, nothing saved here", Silent(ImeiAnswer::Inactive), {}, "", UpdateRoute::NoImei, {}},
    {"serial proves B", Blank({"1-1", "SB"}), {kB, kA}, "", UpdateRoute::Resume, {0}, Ownership::UsbSerial},
    {"a serial on two copies proves nothing", Blank({"1-3", "SA"}), {kA, Copy("1", "1-4", "SA")}, "",
     UpdateRoute::AskOwner, {0, 1}},
    {"two copies at the port", Blank({"1-1", ""}), {kB, kA}, "", UpdateRoute::AskOwner, {0, 1}},
    {"the only copy, at the port", Blank({"1-1", ""}), {kA}, "", UpdateRoute::Resume, {0}, Ownership::UsbPort},
    {"another serial at the copy's port", Blank({"1-1", "SX"}), {kA}, "", UpdateRoute::AskOwner, {0}},
    {"chosen A", Blank({"1-1", "SB"}), {kB, kA}, kA.record.imei, UpdateRoute::Resume, {1}, Ownership::Chosen},
    {"chosen IMEI without a copy", Blank(), {kB, kA}, "999999999999999", UpdateRoute::AskOwner, {0, 1}},
    {"IMEI inactive, one copy", Silent(ImeiAnswer::Inactive), {kA}, "", UpdateRoute::AskOwner, {0}},
};
// clang-format on

void ExpectDecision(const app::RouteDecision& decision, const RouteCase& c) {
    EXPECT_EQ(decision.route, c.route);
    EXPECT_EQ(decision.copies, c.copies);
    EXPECT_EQ(decision.ownership, c.ownership);
    if (c.route == UpdateRoute::AskOwner) {
        EXPECT_EQ(decision.confirmedRoute, c.confirmedRoute);
    }
}

class RouteDecisionTest : public ::testing::TestWithParam<RouteCase> {};

TEST_P(RouteDecisionTest, GivesARouterOnlyDataProvenOrConfirmedToBeItsOwn) {
    const RouteCase& c = GetParam();
    ExpectDecision(app::DecideRoute(c.router, c.pending, c.chosen), c);
}

INSTANTIATE_TEST_SUITE_P(Routers, RouteDecisionTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return TestNameOf(info.param.name); });

// A backup the user names goes only to the router that reports its IMEI; a router without
// one follows the rules of a resume.
// clang-format off
const RouteCase kRestoreCases[] = {
    {"its own router", Running(kA.record.imei), {kA}, "", UpdateRoute::FinishRestore, {0}, Ownership::Imei},
    {"another router", Running(kD), {kA}, kA.record.imei, UpdateRoute::OtherRouter, {}},
    {"a router without firmware", Blank({"1-1", "SA"}), {kA}, "", UpdateRoute::NeedsFirmware, {}},
    {"a router that does not answer", Silent(), {kA}, kA.record.imei, UpdateRoute::Unanswered, {}},
    {"silent on a download-mode port", Stuck(), {kA}, kA.record.imei, UpdateRoute::NeedsReplug, {}},
    {"no IMEI, its serial", At(Silent(ImeiAnswer::Inactive), {"1-4", "SA"}), {kA}, "",
     UpdateRoute::FinishRestore, {0}, Ownership::UsbSerial},
    {"no IMEI, where it was taken", At(Silent(ImeiAnswer::Inactive), {"1-1", ""}), {kA}, "",
     UpdateRoute::AskOwner, {0}, Ownership::None, UpdateRoute::FinishRestore},
    {"no IMEI, named", Silent(ImeiAnswer::Inactive), {kA}, kA.record.imei, UpdateRoute::FinishRestore, {0},
     Ownership::Chosen},
    // Every router updated at that socket left its backups there.
    {"no IMEI, at the backup's port", At(Silent(ImeiAnswer::Inactive), {"1-1", ""}), {kA}, "",
     UpdateRoute::AskOwner, {0}, Ownership::None, UpdateRoute::FinishRestore},
    {"no IMEI, unproven", Silent(ImeiAnswer::Inactive), {kA}, "", UpdateRoute::AskOwner, {0}, Ownership::None,
     UpdateRoute::FinishRestore},
};
// clang-format on

class RestoreDecisionTest : public RouteDecisionTest {};

TEST_P(RestoreDecisionTest, WritesABackupOnlyToItsOwnRouter) {
    const RouteCase& c = GetParam();
    ExpectDecision(app::DecideRestore(c.router, c.pending, c.chosen), c);
}

INSTANTIATE_TEST_SUITE_P(Backups, RestoreDecisionTest, ::testing::ValuesIn(kRestoreCases),
                         [](const auto& info) { return TestNameOf(info.param.name); });

// --yes presses "Update" for a router the worker can settle, and waits for one that has not
// answered yet.
TEST(ReadyForUpdateTest, WaitsForARouterThatHasNotAnsweredYet) {
    const auto facts = [](std::string version, std::uint16_t imeiStatus, bool downloadMode,
                          bool portOpened = true) {
        app::DeviceFacts read;
        read.portOpened = portOpened;
        read.version = std::move(version);
        read.imei = imeiStatus == 0 ? "359876543210984" : "";
        read.imeiStatus = imeiStatus;
        read.downloadMode = downloadMode;
        return read;
    };
    const std::pair<app::DeviceFacts, bool> cases[] = {
        {facts("TFR_9X15_V1.0.0B05", 0, false), true},
        {facts("", 0xFFFF, true), true},
        // A download-mode port another program holds says nothing about the router.
        {facts("", 0xFFFF, true, false), false},
        {facts("", 5, false), true},
        {facts("", 0xFFFF, false), false},
        {facts("", 4, false), false},
        {facts("", 0, false), false},
    };
    for (const auto& [read, ready] : cases) {
        EXPECT_EQ(app::ReadyForUpdate(read), ready) << read.version << " " << read.imeiStatus << " "
                                                    << read.downloadMode << " " << read.portOpened;
    }
}

}  // namespace
}  // namespace tapfix::test
