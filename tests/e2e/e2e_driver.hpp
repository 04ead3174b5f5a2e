#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
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

// The programs of this build and a packed console updater made from the reference firmware.
struct Programs {
    std::filesystem::path simulator;
    std::filesystem::path cli;
    std::filesystem::path pack;
    std::filesystem::path firmwareGenerator;
    std::filesystem::path firmware;  // the reference firmware folder
    std::filesystem::path updater;   // tapfix-cli with the firmware packed in
};
const Programs& SharedPrograms();

// One scenario's folders: ports, state, trace, work folder and a private runtime folder (so
// parallel cases never share the single-instance lock).
class EndToEndDriver {
  public:
    EndToEndDriver();
    ~EndToEndDriver();

    // Starts the simulator with the reference firmware, the state file and the trace, plus
    // `extra` options, and waits for its first port.
    void StartSimulator(const std::vector<std::string>& extra = {});
    // SIGTERM, so it saves its state; true when it ended cleanly.
    bool StopSimulator();

    // The packed updater with these arguments, in this scenario's environment.
    ProcessResult RunUpdater(const std::vector<std::string>& args, Seconds timeout = Seconds(240));
    std::unique_ptr<ChildProcess> StartUpdater(const std::vector<std::string>& args);
    ProcessResult Run(const std::filesystem::path& program, const std::vector<std::string>& args,
                      Seconds timeout = Seconds(240));

    nlohmann::json State() const;
    std::vector<nlohmann::json> Trace() const;
    const std::filesystem::path& Folder() const { return dir_.Path(); }
    const std::filesystem::path& WorkFolder() const { return work_; }
    Environment ProgramEnvironment() const;

  private:
    TempDir dir_;
    std::filesystem::path work_;
    std::unique_ptr<ChildProcess> simulator_;
};

}  // namespace tapfix::test::e2e
