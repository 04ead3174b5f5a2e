// The fault campaign: `tapfix-soak [CASES] [SEED] [--time-scale X] [--jobs N] [--show-runs]` plays
// CASES cases drawn from the seeds SEED, SEED+1, ... and prints each violation with the seed and
// plan that replays it, then a table of what was run. A case mostly waits for the router, so N
// cases (default 2) run side by side, each with its own routers, registry and work folder.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "soak_case.hpp"
#include "soak_plan.hpp"

namespace {

using namespace tapfix::soak;
using Clock = std::chrono::steady_clock;

struct Options {
    unsigned cases = 20;
    std::uint64_t seed = 1;
    std::string timeScale = "0.03";
    unsigned jobs = 2;
    bool showRuns = false;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--time-scale" && i + 1 < argc) {
            options.timeScale = argv[++i];
        } else if (arg == "--show-runs") {
            options.showRuns = true;
        } else if (arg == "--jobs" && i + 1 < argc) {
            options.jobs = std::max(1u, static_cast<unsigned>(std::stoul(argv[++i])));
        } else if (!arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos &&
                   positional < 2) {
            if (positional++ == 0) {
                options.cases = static_cast<unsigned>(std::stoul(arg));
            } else {
                options.seed = std::stoull(arg);
            }
        } else {
            return false;
        }
    }
    return true;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

struct Tally {
    unsigned cases = 0;
    unsigned violations = 0;
    std::size_t runs = 0;
    std::map<std::string, unsigned> kinds;
};

void PrintTable(const Options& options, const Tally& tally, double minutes,
                const std::string& loadBefore) {
    std::printf("\n| campaign | figure |\n|---|---|\n");
    std::printf("| cases (seeds %llu to %llu) | %u |\n",
                static_cast<unsigned long long>(options.seed),
                static_cast<unsigned long long>(options.seed + options.cases - 1), tally.cases);
    std::printf("| runs of the updater | %zu |\n", tally.runs);
    for (const auto& [kind, count] : tally.kinds) {
        std::printf("| cases with %s | %u |\n", kind.c_str(), count);
    }
    std::printf("| violations | %u |\n", tally.violations);
    std::printf("| time taken | %.1f min at TAPFIX_TIME_SCALE=%s |\n", minutes,
                options.timeScale.c_str());
    std::printf("| load average (1, 5, 15 min) | %s at the start, %s at the end |\n",
                loadBefore.c_str(), LoadAverage().c_str());
}

// Plays case `index` and adds it to the tally; the lines of one case stay together.
void PlayCase(const Options& options, unsigned index, Tally& tally, std::mutex& mutex) {
    const CasePlan plan = DrawPlan(options.seed + index);
    const auto started = Clock::now();
    const CaseOutcome outcome = RunCase(plan, {options.timeScale, true, options.showRuns});
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::string exits;
    for (const int exit : outcome.exits) {
        exits += (exits.empty() ? "" : " ") + (exit < 0 ? "killed" : std::to_string(exit));
    }
    const std::lock_guard lock(mutex);
    ++tally.cases;
    tally.runs += outcome.exits.size();
    for (const std::string& kind : Kinds(plan)) {
        ++tally.kinds[kind];
    }
    std::printf("case %u/%u %s exits %s, %.1f s: %s\n", tally.cases, options.cases,
                Describe(plan).c_str(), exits.c_str(), seconds,
                outcome.violations.empty() ? "ok" : "VIOLATION");
    for (const std::string& violation : outcome.violations) {
        std::printf("  violation: %s\n", violation.c_str());
    }
    if (!outcome.violations.empty()) {
        ++tally.violations;
        std::printf("  replay: scripts/soak 1 %llu\n", static_cast<unsigned long long>(plan.seed));
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    // The end-to-end driver reports its own trouble as test failures: printed, and counted.
    ::testing::InitGoogleTest(&argc, argv);
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::cerr
            << "usage: tapfix-soak [CASES] [SEED] [--time-scale X] [--jobs N] [--show-runs]\n";
        return 2;
    }
    const std::string loadBefore = LoadAverage();
    const auto started = Clock::now();
    Tally tally;
    std::mutex mutex;
    unsigned next = 0;
    const auto worker = [&] {
        for (;;) {
            unsigned index = 0;
            {
                const std::lock_guard lock(mutex);
                if (next == options.cases) {
                    return;
                }
                index = next++;
            }
            PlayCase(options, index, tally, mutex);
        }
    };
    std::vector<std::thread> workers;
    for (unsigned job = 0; job < options.jobs; ++job) {
        workers.emplace_back(worker);
    }
    for (std::thread& thread : workers) {
        thread.join();
    }
    const double minutes = std::chrono::duration<double>(Clock::now() - started).count() / 60;
    PrintTable(options, tally, minutes, loadBefore);
    return tally.violations == 0 ? 0 : 1;
}
