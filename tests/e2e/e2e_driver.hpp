#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/temp_dir.hpp"

// Runs the programs as a user would: the simulated router on a private port registry with a
// state file and a trace, and the console updater against it. Cases are data for this driver.
namespace tapfix::test::e2e {

using Seconds = std::chrono::seconds;
using Environment = std::vector<std::pair<std::string, std::string>>;

struct ProcessResult {
    int exitStatus = -1;  // -1 when it had to be killed
    std::string out;
    std::string err;
};

// A program started with pipes on its output; killed when it is still running at the end.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::filesystem::path& program, const std::vector<std::string>& args,
               const Environment& environment);
    // Reads its output until standard output holds `text`; false when the time ran out or the
    // program ended first.
    bool WaitForOutput(std::string_view text, Seconds timeout);
    void Signal(int signal) const;
    // Reads its output for up to `milliseconds`; false once it has ended.
    bool Running(int milliseconds);
    // Waits for the end (killing it after the time-out) and hands back all it printed.
    ProcessResult Finish(Seconds timeout);
    const std::string& Out() const { return result_.out; }

  private:
    // Reads what is available within `milliseconds`; false once both pipes are closed.
    bool ReadSome(int milliseconds);
    bool Reap(bool wait);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    ProcessResult result_;
    bool ended_ = false;
};

// The programs of this build.
struct Programs {
    std::filesystem::path simulator;
    std::filesystem::path cli;
    std::filesystem::path pack;
    std::filesystem::path firmwareGenerator;
};
const Programs& SharedPrograms();

// How the flash programmer reaches the router: the package chooses, the router must agree.
enum class Route { BootLoader, Sahara };

// A reference firmware folder for a route and tapfix-cli with it packed in, made once per
// process when first asked for.
struct Package {
    std::filesystem::path firmware;
    std::filesystem::path updater;
};
const Package& SharedPackage(Route route);

// The console's last line after a successful update.
inline constexpr std::string_view kUpdatedResult =
    "result: 0 Update successfully!  Please unplug the device and plug it in again.";

// Two programs under the sanitizers share the machine with other tests: the waits of a real
// update at 3 % of their length leave the router room to re-enumerate.
inline constexpr std::string_view kDefaultTimeScale = "0.03";

// One scenario's folders: ports, state, trace, work folder and a private runtime folder (so
// parallel cases never share the single-instance lock).
class EndToEndDriver {
  public:
    // Both programs run their waits at `timeScale` of their real length; the updater carries
    // the package of `route`.
    explicit EndToEndDriver(std::string_view timeScale = kDefaultTimeScale,
                            Route route = Route::BootLoader);
    ~EndToEndDriver();

    // Several routers may be plugged in at once, each a simulator of its own with its own state
    // and trace, named by `router` (the empty name is the first router).

    // Lets the simulator write a new router's state with `extra` options (the last router's
    // state is replaced), then changes it with `edit`: the router the next StartSimulator
    // brings up.
    void PrepareRouter(const std::vector<std::string>& extra,
                       const std::function<void(nlohmann::json& state)>& edit,
                       std::string_view router = {});
    // Changes the stopped router's state file: what happened to it while it was unplugged.
    void EditState(const std::function<void(nlohmann::json& state)>& edit,
                   std::string_view router = {});
    // Starts the simulator with the reference firmware, the state file and the trace, plus
    // `extra` options, and waits for its first port.
    void StartSimulator(const std::vector<std::string>& extra = {}, std::string_view router = {});
    // SIGTERM, so it saves its state; true when it ended cleanly.
    bool StopSimulator(std::string_view router = {});

    // The packed updater with these arguments, in this scenario's environment.
    ProcessResult RunUpdater(const std::vector<std::string>& args, Seconds timeout = Seconds(240));
    std::unique_ptr<ChildProcess> StartUpdater(const std::vector<std::string>& args);
    ProcessResult Run(const std::filesystem::path& program, const std::vector<std::string>& args,
                      Seconds timeout = Seconds(240));

    nlohmann::json State(std::string_view router = {}) const;
    // How many trace records have been written whole so far.
    std::size_t TraceLength(std::string_view router = {}) const;
    // The trace records from the `from`th on (a line still being written is left out).
    std::vector<nlohmann::json> Trace(std::size_t from = 0, std::string_view router = {}) const;
    // Waits until a trace record from the `from`th on satisfies `wanted`; its index, or
    // nothing when the time ran out.
    std::optional<std::size_t> WaitForTrace(
        const std::function<bool(const nlohmann::json&)>& wanted, Seconds timeout,
        std::size_t from = 0, std::string_view router = {}) const;
    // Prints the updater's log to standard error: for a case that failed.
    void ShowLog() const;
    const std::filesystem::path& Folder() const { return dir_.Path(); }
    const std::filesystem::path& WorkFolder() const { return work_; }
    const std::filesystem::path& Updater() const { return package_.updater; }
    Environment ProgramEnvironment() const;

  private:
    std::vector<std::string> SimulatorArguments(const std::vector<std::string>& extra,
                                                std::string_view router) const;
    std::filesystem::path StateFile(std::string_view router) const;
    std::filesystem::path TraceFile(std::string_view router) const;

    TempDir dir_;
    std::string timeScale_;
    const Package& package_;
    std::filesystem::path work_;
    std::map<std::string, std::unique_ptr<ChildProcess>, std::less<>> simulators_;
};

}  // namespace tapfix::test::e2e
