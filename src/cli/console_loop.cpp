#include "cli/console_loop.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace tapfix::cli {
namespace {

using State = app::CWindowController::State;

constexpr int kExitOther = 4;

// How often the progress bar's clock is redrawn.
constexpr int kTickMilliseconds = 1000;

// Set by the signal handler on whichever thread the signal lands, read by the loop.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs it lock-free");
int interruptWakeFd = -1;

extern "C" void OnInterrupt(int) {
    interrupted.store(true);
    const char byte = 'i';
    [[maybe_unused]] const ssize_t written = ::write(interruptWakeFd, &byte, 1);
}

// Wakes the loop from other threads and from the signal handler (a self-pipe).
class WakePipe {
  public:
    WakePipe() {
        if (::pipe2(fds_.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
            fds_ = {-1, -1};
        }
    }
    ~WakePipe() {
        for (const int fd : fds_) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    int ReadFd() const { return fds_[0]; }
    int WriteFd() const { return fds_[1]; }
    void Wake() const {
        const char byte = 'n';
        [[maybe_unused]] const ssize_t written = ::write(fds_[1], &byte, 1);
    }
    void Drain() const {
        std::array<char, 64> bytes{};
        while (::read(fds_[0], bytes.data(), bytes.size()) > 0) {
        }
    }

  private:
    std::array<int, 2> fds_{};
};

// Ctrl-C, SIGTERM and a closed terminal become close requests while the loop runs: during an
// update they are refused, since a router cut off halfway has no firmware. A reader that went
// away must not end the update either, so broken pipes only fail the write.
class InterruptHandlers {
  public:
    static constexpr std::array<int, 3> kCloseSignals{SIGINT, SIGTERM, SIGHUP};

    explicit InterruptHandlers(int wakeFd) {
        interruptWakeFd = wakeFd;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kCloseSignals.size(); ++i) {
            ::sigaction(kCloseSignals[i], &action, &previous_[i]);
        }
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, &previousPipe_);
    }
    ~InterruptHandlers() {
        for (std::size_t i = 0; i < kCloseSignals.size(); ++i) {
            ::sigaction(kCloseSignals[i], &previous_[i], nullptr);
        }
        ::sigaction(SIGPIPE, &previousPipe_, nullptr);
        interruptWakeFd = -1;
    }
    InterruptHandlers(const InterruptHandlers&) = delete;
    InterruptHandlers& operator=(const InterruptHandlers&) = delete;

  private:
    std::array<struct sigaction, kCloseSignals.size()> previous_{};
    struct sigaction previousPipe_ {};
};

bool TakeInterrupt() {
    return interrupted.exchange(false);
}

// True when a line (Enter) arrived; `open` turns false at the end of the input.
bool ReadEnter(bool& open) {
    std::array<char, 256> bytes{};
    const ssize_t count = ::read(STDIN_FILENO, bytes.data(), bytes.size());
    if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
        open = false;
        return false;
    }
    for (ssize_t i = 0; i < count; ++i) {
        if (bytes[static_cast<std::size_t>(i)] == '\n') {
            return true;
        }
    }
    return false;
}

class ConsoleLoop {
  public:
    ConsoleLoop(app::CUpdateApplication& application, CConsoleView& view,
                const ConsoleLoopOptions& options)
        : application_(application),
          controller_(application.Controller()),
          view_(view),
          options_(options),
          readInput_(!options.yes) {}

    int Run() {
        application_.Channel().SetWakeUp([this] { wake_.Wake(); });
        const InterruptHandlers handlers(wake_.WriteFd());
        while (!view_.Closed()) {
            WaitForWork();
            application_.Channel().ServePending();
            if (TakeInterrupt()) {
                Interrupt();
            }
            FollowState();
            view_.Tick();
        }
        application_.Channel().SetWakeUp({});
        return ExitStatusFor(controller_.LastResult());
    }

  private:
    void WaitForWork() {
        std::array<pollfd, 2> fds{{{wake_.ReadFd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}}};
        ::poll(fds.data(), readInput_ ? 2 : 1, kTickMilliseconds);
        wake_.Drain();
        if (readInput_ && fds[1].revents != 0 && ReadEnter(readInput_)) {
            PressUpdate();
        }
        if (!options_.yes && !readInput_ && controller_.CurrentState() == State::Waiting) {
            // Nobody is left to press Enter: waiting on would be for ever.
            view_.Say(kYesNeeded);
            controller_.OnCloseRequested();
        }
    }

    void PressUpdate() {
        if (controller_.CurrentState() != State::Waiting) {
            return;  // an update runs or has ended: Enter means nothing any more
        }
        if (!controller_.UpdateEnabled()) {
            view_.Say("no router yet: the update can start once its port is shown");
            return;
        }
        controller_.OnUpdateClicked();
        if (controller_.CurrentState() == State::Updating) {
            view_.UpdateStarted();
        }
    }

    void Interrupt() {
        // A close that restarts the router first is not refused: no update goes on then.
        if (!controller_.OnCloseRequested() && controller_.CurrentState() != State::Closing) {
            view_.Say("the update goes on: stopping now could leave the router without firmware");
        }
    }

    void FollowState() {
        if (view_.Closed()) {
            return;
        }
        const State state = controller_.CurrentState();
        // The watcher shows the version, then the port: a whole cycle is on screen before
        // "Update" is pressed.
        const bool portShown = !view_.Value(app::kControlPortValue).empty();
        if (state == State::Waiting && controller_.UpdateEnabled() && portShown) {
            // --yes waits for a router that has not answered yet: pressed now, the update
            // would take it for the wrong router, or for none.
            if (options_.yes) {
                if (application_.ReadyForUpdate()) {
                    PressUpdate();
                }
            } else if (!announced_) {
                announced_ = true;
                view_.Say("press Enter to start the update");
            }
        }
        // The window stays open after "no device" so a user can re-plug the router; nobody
        // will at a pipe, and an update that ended has nothing left to wait for.
        const bool noDevice = controller_.LastResult() == app::kResultNoDevice;
        if ((noDevice && !options_.interactive && state == State::Waiting) ||
            state == State::Ended) {
            controller_.OnCloseRequested();
        }
    }

    app::CUpdateApplication& application_;
    app::CWindowController& controller_;
    CConsoleView& view_;
    const ConsoleLoopOptions options_;
    WakePipe wake_;
    bool readInput_;
    bool announced_ = false;
};

// The station's loop: serves the notifications, redraws the table, refuses Ctrl-C while an
// update is being written, and with --exit-when-idle ends once nothing is left to do.
class StationLoop {
  public:
    StationLoop(app::CUpdateApplication& application, CStationView& view, bool exitWhenIdle)
        : application_(application),
          station_(*application.Station()),
          view_(view),
          exitWhenIdle_(exitWhenIdle) {}

    int Run() {
        application_.Channel().SetWakeUp([this] { wake_.Wake(); });
        const InterruptHandlers handlers(wake_.WriteFd());
        for (bool running = true; running;) {
            std::array<pollfd, 1> fds{{{wake_.ReadFd(), POLLIN, 0}}};
            ::poll(fds.data(), fds.size(), kTickMilliseconds);
            wake_.Drain();
            application_.Channel().ServePending();
            running = !(TakeInterrupt() && Interrupt()) && !(exitWhenIdle_ && station_.Idle());
            view_.DrawTable(station_.Routers());
        }
        station_.StopWatching();
        application_.Channel().SetWakeUp({});
        return app::StationExitStatus(station_.Routers());
    }

  private:
    // True when the station may end now.
    bool Interrupt() {
        if (station_.UpdatesRunning()) {
            view_.Say("the updates go on: stopping now could leave a router without firmware");
            return false;
        }
        return true;
    }

    app::CUpdateApplication& application_;
    app::CStation& station_;
    CStationView& view_;
    const bool exitWhenIdle_;
    WakePipe wake_;
};

}  // namespace

int RunStation(app::CUpdateApplication& application, CStationView& view, bool exitWhenIdle) {
    return StationLoop(application, view, exitWhenIdle).Run();
}

int RunConsole(app::CUpdateApplication& application, CConsoleView& view,
               const ConsoleLoopOptions& options) {
    return ConsoleLoop(application, view, options).Run();
}

int ExitStatusFor(std::optional<int> result) {
    if (!result) {
        return kExitOther;
    }
    switch (*result) {
        case app::kResultSuccess:
        case app::kResultVersionMismatch:
        case app::kResultNoImei:
        case app::kResultNoDevice:
        case app::kResultOwnerUnconfirmed:
        case app::kResultNoSavedData:
        case app::kResultOtherRouter:
            return *result;
        default:
            return kExitOther;
    }
}

}  // namespace tapfix::cli
