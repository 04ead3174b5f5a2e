#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A case of the fault campaign drawn from its seed: which routers, which faults strike them,
// when the program is killed, and what the user does after each failed run.
namespace tapfix::soak {

// The simulator's fault kinds the campaign draws from, and the interruptions it adds.
enum class FaultKind {
    Silence,
    BadCrc,
    SplitAnswers,
    Nak,
    ChecksumMismatch,
    PowerLoss,
    NoPortAfterReset,
};

struct Fault {
    FaultKind kind;
    std::string option;  // as `--faults` takes it
};

struct RouterPlan {
    std::string name;  // "A", "B"
    std::string imei;
    std::string mac;
    std::string usbPath;
    std::string usbSerial;  // empty: the router has none
    std::vector<Fault> faults;
    bool programmerReenumerates = false;
    // The first run is killed once the router's trace has this many records; the router is
    // then power-cycled.
    std::optional<std::size_t> killAtRecord;
    // The user takes the router home after a failed first run and brings it back once the
    // other router is done.
    bool leavesAfterFirstFailure = false;
    // Before each retry: unplug and plug in again (true) or leave it plugged in.
    std::vector<bool> replugBeforeRetry;
};

struct CasePlan {
    std::uint64_t seed = 0;
    std::vector<RouterPlan> routers;
};

inline constexpr int kRetries = 3;

CasePlan DrawPlan(std::uint64_t seed);
// One line a case can be told and replayed by.
std::string Describe(const CasePlan& plan);
// The plan kinds a case counts under in the campaign's table ("silence", "kill", "two routers").
std::vector<std::string> Kinds(const CasePlan& plan);

// How long a run of the updater may take at `timeScale`: the update's own waits and the
// faults' delays (a fault not struck yet may strike any run), scaled, plus the host's unscaled
// work under load.
std::chrono::milliseconds RunBound(const RouterPlan& router, double timeScale);

}  // namespace tapfix::soak
