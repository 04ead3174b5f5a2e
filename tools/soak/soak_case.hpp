#pragma once

#include <string>
#include <vector>

#include "soak_plan.hpp"

namespace tapfix::soak {

struct CaseOutcome {
    std::vector<std::string> violations;  // empty: every invariant held
    std::vector<int> exits;               // each run's exit status; -1: killed by the plan
};

struct CaseSettings {
    std::string timeScale = "0.03";
    // Whether a run over its bound is a violation: the campaign's machine is measured, a test
    // suite's is not.
    bool boundRuns = true;
    // Every run's output goes to standard error: for replaying a seed that broke a promise.
    bool showRuns = false;
};

// Plays a case as users would: plugs in each router with its faults, runs the console updater,
// kills it where the plan says and power-cycles the router, retries as the tool asks; then
// checks the routers and the work folder. A violation ends the case.
CaseOutcome RunCase(const CasePlan& plan, const CaseSettings& settings);

}  // namespace tapfix::soak
