#include "e2e_driver.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <iostream>
#include <iterator>

extern char** environ;

namespace tapfix::test::e2e {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReadSliceMs = 100;

// The environment of this process with `overrides` applied, as execve wants it.
std::vector<std::string> MergedEnvironment(const Environment& overrides) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const bool replaced = std::any_of(
            overrides.begin(), overrides.end(),
            [&](const auto& override) { return text.substr(0, text.find('=')) == override.first; });
        if (!replaced) {
            merged.emplace_back(text);
        }
    }
    for (const auto& [name, value] : overrides) {
        merged.push_back(name + "=" + value);
    }
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, kReadSliceMs));
}

std::filesystem::path MustMakeFolder(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    return folder;
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !ended_) {
        ::kill(pid_, SIGKILL);
        Reap(true);
    }
    for (const int fd : {outFd_, errFd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool ChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const Environment& environment) {
    std::array<int, 2> out{};
    std::array<int, 2> err{};
    if (::pipe2(out.data(), O_CLOEXEC) != 0 || ::pipe2(err.data(), O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<std::string> argv{program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = MergedEnvironment(environment);
    std::vector<char*> argvPointers = Pointers(argv);
    std::vector<char*> envpPointers = Pointers(envp);
    pid_ = ::fork();
    if (pid_ == 0) {
        const int nothing = ::open("/dev/null", O_RDONLY);
        ::dup2(nothing, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execve(argvPointers[0], argvPointers.data(), envpPointers.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    return pid_ > 0;
}

bool ChildProcess::ReadSome(int milliseconds) {
    std::array<pollfd, 2> fds{{{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}}};
    if (outFd_ < 0 && errFd_ < 0) {
        return false;
    }
    ::poll(fds.data(), fds.size(), milliseconds);
    const std::array<std::pair<int*, std::string*>, 2> sinks{
        {{&outFd_, &result_.out}, {&errFd_, &result_.err}}};
    for (std::size_t i = 0; i < sinks.size(); ++i) {
        int& fd = *sinks[i].first;
        if (fd < 0 || fds[i].revents == 0) {
            continue;
        }
        std::array<char, 4096> bytes{};
        const ssize_t count = ::read(fd, bytes.data(), bytes.size());
        if (count > 0) {
            sinks[i].second->append(bytes.data(), static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            ::close(fd);
            fd = -1;
        }
    }
    return true;
}

bool ChildProcess::Reap(bool wait) {
    int status = 0;
    if (::waitpid(pid_, &status, wait ? 0 : WNOHANG) != pid_) {
        return false;
    }
    ended_ = true;
    result_.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

bool ChildProcess::WaitForOutput(std::string_view text, Seconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (result_.out.find(text) == std::string::npos) {
        if (Clock::now() >= deadline || !ReadSome(RemainingMs(deadline))) {
            return false;
        }
    }
    return true;
}

void ChildProcess::Signal(int signal) const {
    if (pid_ > 0 && !ended_) {
        ::kill(pid_, signal);
    }
}

bool ChildProcess::Running(int milliseconds) {
    if (!ReadSome(milliseconds)) {
        ::poll(nullptr, 0, milliseconds);
    }
    return !ended_ && !Reap(false);
}

ProcessResult ChildProcess::Finish(Seconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (Clock::now() < deadline && ReadSome(RemainingMs(deadline))) {
    }
    if (!ended_ && !Reap(false)) {
        while (Clock::now() < deadline && !Reap(false)) {
            ::poll(nullptr, 0, kReadSliceMs);
        }
        if (!ended_) {
            ::kill(pid_, SIGKILL);
            Reap(true);
            result_.exitStatus = -1;
        }
    }
    return result_;
}

const Programs& SharedPrograms() {
    static const Programs programs{TAPFIX_SIM_PROGRAM, TAPFIX_CLI_PROGRAM, TAPFIX_PACK_PROGRAM,
                                   TAPFIX_FIRMWARE_PROGRAM};
    return programs;
}

namespace {

Package MakePackage(const std::filesystem::path& folder, const std::vector<std::string>& options) {
    const Programs& programs = SharedPrograms();
    const Package made{folder / "firmware", folder / "tapfix-update-cli"};
    std::vector<std::string> args{"--output", made.firmware.string()};
    args.insert(args.end(), options.begin(), options.end());
    ChildProcess generator;
    generator.Start(programs.firmwareGenerator, args, {});
    EXPECT_EQ(generator.Finish(Seconds(120)).exitStatus, 0) << generator.Out();
    ChildProcess pack;
    pack.Start(programs.pack,
               {"--firmware", made.firmware.string(), "--into", programs.cli.string(), "--output",
                made.updater.string()},
               {});
    EXPECT_EQ(pack.Finish(Seconds(120)).exitStatus, 0) << pack.Out();
    std::filesystem::permissions(made.updater, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    return made;
}

}  // namespace

const Package& SharedPackage(Route route) {
    static TempDir folder;
    if (route == Route::Sahara) {
        static const Package sahara = MakePackage(folder.Path() / "sahara", {"--sahara"});
        return sahara;
    }
    static const Package bootLoader = MakePackage(folder.Path() / "boot-loader", {});
    return bootLoader;
}

EndToEndDriver::EndToEndDriver(std::string_view timeScale, Route route)
    : timeScale_(timeScale),
      package_(SharedPackage(route)),
      work_(dir_.Path() / "state" / "tapfix" / "TapfixUpdate" / "") {
    MustMakeFolder(dir_.Path() / "ports");
    MustMakeFolder(dir_.Path() / "runtime");
}

EndToEndDriver::~EndToEndDriver() {
    while (!simulators_.empty()) {
        StopSimulator(simulators_.begin()->first);
    }
}

std::filesystem::path EndToEndDriver::StateFile(std::string_view router) const {
    return dir_.Path() /
           (router.empty() ? std::string("state.json") : std::string(router) + ".json");
}

std::filesystem::path EndToEndDriver::TraceFile(std::string_view router) const {
    return dir_.Path() /
           (router.empty() ? std::string("trace.jsonl") : std::string(router) + ".trace.jsonl");
}

Environment EndToEndDriver::ProgramEnvironment() const {
    return {{"TAPFIX_PORTS_DIR", (dir_.Path() / "ports").string()},
            {"TAPFIX_TIME_SCALE", timeScale_},
            {"XDG_RUNTIME_DIR", (dir_.Path() / "runtime").string()},
            {"XDG_STATE_HOME", (dir_.Path() / "state").string()}};
}

std::vector<std::string> EndToEndDriver::SimulatorArguments(const std::vector<std::string>& extra,
                                                            std::string_view router) const {
    std::vector<std::string> args{"--state",    StateFile(router).string(),
                                  "--trace",    TraceFile(router).string(),
                                  "--firmware", package_.firmware.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

void EndToEndDriver::PrepareRouter(const std::vector<std::string>& extra,
                                   const std::function<void(nlohmann::json& state)>& edit,
                                   std::string_view router) {
    std::filesystem::remove(StateFile(router));
    std::vector<std::string> args = SimulatorArguments(extra, router);
    // A new router's state is written as the simulator starts; it stops again at once.
    args.insert(args.end(), {"--exit-after", "0.001"});
    const ProcessResult made = Run(SharedPrograms().simulator, args, Seconds(60));
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    EditState(edit, router);
    std::filesystem::remove(TraceFile(router));
}

void EndToEndDriver::EditState(const std::function<void(nlohmann::json& state)>& edit,
                               std::string_view router) {
    nlohmann::json state = State(router);
    ASSERT_TRUE(state.is_object());
    edit(state);
    std::ofstream(StateFile(router)) << state.dump();
}

void EndToEndDriver::StartSimulator(const std::vector<std::string>& extra,
                                    std::string_view router) {
    auto& simulator = simulators_[std::string(router)];
    simulator = std::make_unique<ChildProcess>();
    ASSERT_TRUE(simulator->Start(SharedPrograms().simulator, SimulatorArguments(extra, router),
                                 ProgramEnvironment()));
    ASSERT_TRUE(simulator->WaitForOutput("port added", Seconds(30))) << simulator->Out();
}

bool EndToEndDriver::StopSimulator(std::string_view router) {
    const auto found = simulators_.find(router);
    if (found == simulators_.end()) {
        return false;
    }
    found->second->Signal(SIGTERM);
    const ProcessResult result = found->second->Finish(Seconds(30));
    simulators_.erase(found);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return result.exitStatus == 0;
}

ProcessResult EndToEndDriver::RunUpdater(const std::vector<std::string>& args, Seconds timeout) {
    return Run(package_.updater, args, timeout);
}

std::unique_ptr<ChildProcess> EndToEndDriver::StartUpdater(const std::vector<std::string>& args) {
    auto updater = std::make_unique<ChildProcess>();
    EXPECT_TRUE(updater->Start(package_.updater, args, ProgramEnvironment()));
    return updater;
}

ProcessResult EndToEndDriver::Run(const std::filesystem::path& program,
                                  const std::vector<std::string>& args, Seconds timeout) {
    ChildProcess child;
    EXPECT_TRUE(child.Start(program, args, ProgramEnvironment()));
    return child.Finish(timeout);
}

void EndToEndDriver::ShowLog() const {
    std::ifstream log(work_ / "tapfix.log");
    std::cerr << "tapfix.log:\n" << log.rdbuf();
}

nlohmann::json EndToEndDriver::State(std::string_view router) const {
    std::ifstream in(StateFile(router));
    return nlohmann::json::parse(in, nullptr, false);
}

std::vector<nlohmann::json> EndToEndDriver::Trace(std::size_t from, std::string_view router) const {
    std::ifstream in(TraceFile(router));
    std::vector<nlohmann::json> records;
    std::size_t index = 0;
    for (std::string line; std::getline(in, line) && !in.eof(); ++index) {
        if (index >= from) {
            records.push_back(nlohmann::json::parse(line, nullptr, false));
        }
    }
    return records;
}

std::size_t EndToEndDriver::TraceLength(std::string_view router) const {
    std::ifstream in(TraceFile(router), std::ios::binary);
    return static_cast<std::size_t>(
        std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

std::optional<std::size_t> EndToEndDriver::WaitForTrace(
    const std::function<bool(const nlohmann::json&)>& wanted, Seconds timeout, std::size_t from,
    std::string_view router) const {
    const Clock::time_point deadline = Clock::now() + timeout;
    do {
        const std::vector<nlohmann::json> records = Trace(from, router);
        const auto found = std::find_if(records.begin(), records.end(), wanted);
        if (found != records.end()) {
            return from + static_cast<std::size_t>(found - records.begin());
        }
        ::poll(nullptr, 0, kReadSliceMs);
    } while (Clock::now() < deadline);
    return std::nullopt;
}

}  // namespace tapfix::test::e2e
