#include "soak_case.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <iostream>

#include "e2e/e2e_driver.hpp"
#include "e2e/router_facts.hpp"
#include "soak/soak_checks.hpp"

namespace tapfix::soak {
namespace {

namespace e2e = tapfix::test::e2e;
namespace checks = tapfix::test::soak;
using e2e::Json;
using e2e::Seconds;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kExitNoRouter = 3;
constexpr std::string_view kReplugAsked = "plug it in again and start the update again";
constexpr int kExitOwnerUnconfirmed = 5;
constexpr int kKillPollMs = 20;
// The router notices a host gone 2 s (scaled) after its port closed; room for a loaded machine.
constexpr Seconds kPowerCycleNotice{1};
constexpr Seconds kRunGrace{30};
// A run not judged by its time still ends: a hung updater is killed and reported.
constexpr milliseconds kUnboundedRun{600000};

class CaseRunner {
  public:
    CaseRunner(const CasePlan& plan, const CaseSettings& settings)
        : plan_(plan),
          settings_(settings),
          driver_(settings.timeScale),
          driverFailures_(DriverFailures()) {}

    CaseOutcome Run() {
        for (std::size_t i = 0; i < plan_.routers.size(); ++i) {
            Prepare(i);
        }
        std::vector<std::size_t> takenHome;
        for (std::size_t i = 0; i < plan_.routers.size() && Sound(); ++i) {
            const int first = FirstRun(i);
            if (first != 0 && plan_.routers[i].leavesAfterFirstFailure) {
                Unplug(i);
                takenHome.push_back(i);
                continue;
            }
            Finish(i, Retry(i, first));
        }
        for (const std::size_t i : takenHome) {
            if (Sound()) {
                Plug(i, false);
                Finish(i, Retry(i, -1));
            }
        }
        if (Sound()) {
            Check();
        }
        if (DriverFailures() != driverFailures_) {
            violations_.push_back("the driver could not play the case (printed above)");
        }
        return {violations_, exits_};
    }

  private:
    // The driver's own trouble (a simulator that did not start) is reported as a failure
    // outside any test.
    static int DriverFailures() {
        return ::testing::UnitTest::GetInstance()->ad_hoc_test_result().total_part_count();
    }

    bool Sound() const { return violations_.empty() && DriverFailures() == driverFailures_; }

    void Prepare(std::size_t i) {
        const RouterPlan& router = plan_.routers[i];
        driver_.PrepareRouter(
            {"--imei", router.imei, "--mac", router.mac},
            [&](Json& state) {
                if (i > 0) {
                    e2e::MakeAnotherRouter(state, router.imei);
                }
            },
            router.name);
        records_.push_back({router.imei, driver_.State(router.name), Json(), -1, false});
    }

    std::vector<std::string> SimulatorOptions(const RouterPlan& router, bool faults) const {
        std::vector<std::string> options{"--usb-path", router.usbPath,
                                         "--power-cycle-on-host-loss"};
        if (!router.usbSerial.empty()) {
            options.insert(options.end(), {"--usb-serial", router.usbSerial});
        }
        if (router.programmerReenumerates) {
            options.push_back("--programmer-reenumerates");
        }
        if (faults) {
            std::string list;
            for (const Fault& fault : router.faults) {
                list += (list.empty() ? "" : ",") + fault.option;
            }
            options.insert(options.end(), {"--faults", list});
        }
        return options;
    }

    void Plug(std::size_t i, bool faults) {
        driver_.StartSimulator(SimulatorOptions(plan_.routers[i], faults), plan_.routers[i].name);
        plugged_ = true;
    }

    void Unplug(std::size_t i) {
        if (plugged_ && !driver_.StopSimulator(plan_.routers[i].name)) {
            violations_.push_back("router " + plan_.routers[i].name + "'s simulator failed");
        }
        plugged_ = false;
    }

    void Replug(std::size_t i) {
        Unplug(i);
        Plug(i, false);
    }

    static std::vector<std::string> Arguments(int lastExit, const RouterPlan& router) {
        std::vector<std::string> args{"--yes", "--lang", "en"};
        if (lastExit == kExitOwnerUnconfirmed) {
            // The user reads the IMEI off the router's label, as the tool asks.
            args.insert(args.end(), {"--resume", router.imei});
        }
        return args;
    }

    int FirstRun(std::size_t i) {
        Plug(i, true);
        const RouterPlan& router = plan_.routers[i];
        return router.killAtRecord ? KilledRun(i, *router.killAtRecord) : CheckedRun(i, -1);
    }

    int Retry(std::size_t i, int lastExit) {
        for (int retry = 0; retry < kRetries && lastExit != 0 && Sound(); ++retry) {
            // "No router found", or the tool asked for it: the user plugs it in again.
            if (plan_.routers[i].replugBeforeRetry[retry] || !plugged_ ||
                lastExit == kExitNoRouter || lastOut_.find(kReplugAsked) != std::string::npos) {
                Replug(i);
            }
            lastExit = CheckedRun(i, lastExit);
        }
        // A question asked on the last retry is answered: the user reads the IMEI off the label.
        if (lastExit == kExitOwnerUnconfirmed && Sound()) {
            lastExit = CheckedRun(i, lastExit);
        }
        return lastExit;
    }

    void Finish(std::size_t i, int lastExit) {
        Unplug(i);
        records_[i].after = driver_.State(plan_.routers[i].name);
        records_[i].lastExitStatus = lastExit;
        records_[i].leftInDownloadMode = LastPortMode(i) != "normal";
    }

    std::string LastPortMode(std::size_t i) const {
        const std::vector<Json> ports =
            e2e::Events(driver_.Trace(0, plan_.routers[i].name), "port_added");
        return ports.empty() ? "normal" : ports.back().value("mode", "normal");
    }

    checks::RunRecord NewRun(std::size_t i, int lastExit) const {
        checks::RunRecord run;
        run.args = Arguments(lastExit, plan_.routers[i]);
        run.bound = settings_.boundRuns ? RunBound(plan_.routers[i], std::stod(settings_.timeScale))
                                        : kUnboundedRun;
        return run;
    }

    int CheckedRun(std::size_t i, int lastExit) {
        checks::RunRecord run = NewRun(i, lastExit);
        const auto started = Clock::now();
        const auto updater = driver_.StartUpdater(run.args);
        const e2e::ProcessResult result =
            updater->Finish(std::chrono::ceil<Seconds>(run.bound) + kRunGrace);
        return Judge(i, run, result, started);
    }

    int Judge(std::size_t i, checks::RunRecord& run, const e2e::ProcessResult& result,
              Clock::time_point started) {
        exits_.push_back(result.exitStatus);
        lastOut_ = result.out;
        if (settings_.showRuns) {
            std::cerr << "run " << exits_.size() << " of router " << plan_.routers[i].name
                      << ", exit " << result.exitStatus << ":\n"
                      << result.out << result.err << "\n";
        }
        run.exitStatus = result.exitStatus;
        run.out = result.out;
        run.took = std::chrono::duration_cast<milliseconds>(Clock::now() - started);
        for (const std::string& problem : checks::CheckRun(run)) {
            violations_.push_back("router " + plan_.routers[i].name + ", run " +
                                  std::to_string(exits_.size()) + ": " + problem + "\n" +
                                  result.out);
        }
        return result.exitStatus;
    }

    // Kills the updater once the router's trace has grown by `records`, then the router's
    // power is cut and it is plugged in again; a run that ended before is judged as any run.
    int KilledRun(std::size_t i, std::size_t records) {
        checks::RunRecord run = NewRun(i, -1);
        const std::string& name = plan_.routers[i].name;
        const std::size_t from = driver_.TraceLength(name);
        const auto started = Clock::now();
        const auto updater = driver_.StartUpdater(run.args);
        while (updater->Running(kKillPollMs)) {
            if (driver_.TraceLength(name) >= from + records || Clock::now() - started > run.bound) {
                const std::size_t killedAt = driver_.TraceLength(name);
                updater->Signal(SIGKILL);
                updater->Finish(Seconds(10));
                exits_.push_back(-1);
                PowerCycle(i, killedAt);
                return -1;
            }
        }
        return Judge(i, run, updater->Finish(Seconds(10)), started);
    }

    void PowerCycle(std::size_t i, std::size_t killedAt) {
        // A router that was being written notices the host's loss and cycles its power
        // itself; any other is unplugged and plugged in again by the user.
        driver_.WaitForTrace([](const Json& r) { return r.value("event", "") == "power_cycle"; },
                             kPowerCycleNotice, killedAt, plan_.routers[i].name);
        Replug(i);
    }

    void Check() {
        const e2e::PackageFacts package =
            e2e::ReadPackageFacts(driver_.WorkFolder(), driver_.Updater());
        for (const std::string& problem :
             checks::CheckRouters(records_, package, driver_.WorkFolder())) {
            violations_.push_back(problem);
        }
        const e2e::ProcessResult listed = driver_.RunUpdater({"--list-backups", "--json"});
        for (const std::string& problem :
             checks::CheckBackups(listed.out, records_, driver_.WorkFolder())) {
            violations_.push_back(problem);
        }
    }

    const CasePlan& plan_;
    CaseSettings settings_;
    e2e::EndToEndDriver driver_;
    std::vector<checks::RouterRecord> records_;
    std::vector<std::string> violations_;
    std::vector<int> exits_;
    std::string lastOut_;
    bool plugged_ = false;
    int driverFailures_;
};

}  // namespace

CaseOutcome RunCase(const CasePlan& plan, const CaseSettings& settings) {
    return CaseRunner(plan, settings).Run();
}

}  // namespace tapfix::soak
