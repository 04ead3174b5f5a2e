#pragma once

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "e2e/router_facts.hpp"

// What a user cares about after any mix of interruptions, judged from the outside: the
// routers' state files, the work folder, and what each run printed and how long it took.
namespace tapfix::test::soak {

using e2e::Json;
using e2e::PackageFacts;

// One router of a case: whose it is, and its state before the first run and after the last.
struct RouterRecord {
    std::string imei;
    Json before;
    Json after;
    int lastExitStatus = -1;  // of the last run that ended by itself
    // Its last port was a download-mode one: no firmware runs, as on a blank router.
    bool leftInDownloadMode = false;
};

// One run of the console updater as it ended.
struct RunRecord {
    std::vector<std::string> args;
    int exitStatus = -1;  // -1: it had to be killed at its time-out
    std::string out;
    std::chrono::milliseconds took{0};
    std::chrono::milliseconds bound{0};
};

// Each check lists what it found wrong, one line each; empty when all holds.
// The run ended by itself within its bound, with a result line whose number its exit status
// reports.
std::vector<std::string> CheckRun(const RunRecord& run);
// Every router has exactly its own data back, or is blank (or left in its download mode) with
// a complete backup of its own data waiting in the work folder and its last run said the
// download failed or asked whose the data is; none holds another's data.
std::vector<std::string> CheckRouters(const std::vector<RouterRecord>& routers,
                                      const PackageFacts& package,
                                      const std::filesystem::path& workFolder);
// Every backup the tool lists (`--list-backups --json`, one object a line) is complete or
// marked incomplete; a complete one holds exactly its router's data; no folder of the work
// folder holds a half-written backup file outside a temporary name.
std::vector<std::string> CheckBackups(const std::string& listed,
                                      const std::vector<RouterRecord>& routers,
                                      const std::filesystem::path& workFolder);

}  // namespace tapfix::test::soak
