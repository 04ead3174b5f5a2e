#include "soak_plan.hpp"

#include <algorithm>
#include <random>
#include <set>

namespace tapfix::soak {
namespace {

using std::chrono::milliseconds;
using Random = std::mt19937_64;

// Two routers of different owners; each differs from the other in every kept item.
struct Identity {
    const char* imei;
    const char* mac;
};
constexpr Identity kIdentities[] = {{"359876543210984", "021A2B3C4D5E"},
                                    {"356938035643809", "0A0B0C0D0E0F"}};

// Sizes of a whole update of the reference firmware (a good run's trace), so that a drawn
// moment can strike: the answers the router sends, the boot loader's writes while the
// programmer loads, the programmer's checksummed units and the images.
constexpr unsigned kAnswers = 3400;
constexpr unsigned kBootWrites = 77;
constexpr unsigned kUnits = 29;
constexpr unsigned kImages = 13;
// Its trace records by stage: the backup until the switch, the download until the reset, the
// restore; a kill is as likely in each stage, though the download is the shortest.
constexpr std::size_t kStageEnds[] = {1300, 1490, 3400};

// What each kind of fault may add to a run, in the update's own (scalable) seconds: an answer
// lost or garbled costs its time-out and a repetition, a lost power the wait for the port's
// return, a missing port the whole wait after the reset and the search.
struct KindFacts {
    FaultKind kind;
    const char* name;
    int delaySeconds;
};
constexpr KindFacts kKinds[] = {
    {FaultKind::Silence, "silence", 15},
    {FaultKind::BadCrc, "bad CRC", 15},
    {FaultKind::SplitAnswers, "split answers", 0},
    {FaultKind::Nak, "NAK", 10},
    {FaultKind::ChecksumMismatch, "checksum mismatch", 10},
    {FaultKind::PowerLoss, "power loss", 30},
    {FaultKind::NoPortAfterReset, "no port after reset", 60},
};

// A good update's waits at full length: the switch to download mode (20 s), the programmer's
// start (20 s + 2 s), the wait after the reset (26 s), the restore's pauses and the search
// for a router that is still booting.
constexpr int kUpdateWaitSeconds = 100;
constexpr int kReenumerationSeconds = 5;
// Split answers wait between their halves without scaling: a millisecond per answer.
constexpr milliseconds kSplitCost{kAnswers};
// The host's own work does not scale: unpacking, NV files through fsync, the machine shared
// with builds.
constexpr milliseconds kWorkSlack{20000};

unsigned Draw(Random& random, unsigned low, unsigned high) {
    return std::uniform_int_distribution<unsigned>(low, high)(random);
}

bool Chance(Random& random, double probability) {
    return std::bernoulli_distribution(probability)(random);
}

Fault DrawFault(Random& random, FaultKind kind) {
    const auto at = [&](unsigned high) { return std::to_string(Draw(random, 1, high)); };
    switch (kind) {
        case FaultKind::Silence:
            return {kind, "silent:" + at(kAnswers)};
        case FaultKind::BadCrc:
            return {kind, "badcrc:" + at(kAnswers)};
        case FaultKind::SplitAnswers:
            return {kind, "split:1"};
        case FaultKind::Nak:
            return {kind, "nak:" + at(kBootWrites)};
        case FaultKind::ChecksumMismatch:
            return {kind, "badsum:" + at(kUnits) + ":" + at(2)};
        case FaultKind::PowerLoss:
            return {kind, "powerloss:" + at(kImages)};
        case FaultKind::NoPortAfterReset:
            return {kind, "noport-after-reset"};
    }
    return {kind, ""};
}

std::vector<Fault> DrawFaults(Random& random) {
    std::vector<Fault> faults;
    std::set<FaultKind> drawn;
    const unsigned count = Draw(random, 1, 2);
    while (faults.size() < count) {
        const FaultKind kind = kKinds[Draw(random, 0, std::size(kKinds) - 1)].kind;
        if (drawn.insert(kind).second) {
            faults.push_back(DrawFault(random, kind));
        }
    }
    return faults;
}

RouterPlan DrawRouter(Random& random, std::size_t index, bool twoRouters) {
    RouterPlan router;
    router.name = std::string(1, static_cast<char>('A' + index));
    router.imei = kIdentities[index].imei;
    router.mac = kIdentities[index].mac;
    // Two routers share a socket half of the time: the one after the other at the same desk.
    router.usbPath = index > 0 && Chance(random, 0.5) ? "1-2" : "1-1";
    if (Chance(random, 0.5)) {
        router.usbSerial = "SER" + router.imei.substr(9);
    }
    router.faults = DrawFaults(random);
    router.programmerReenumerates = Chance(random, 0.5);
    if (Chance(random, 0.35)) {
        const unsigned stage = Draw(random, 0, std::size(kStageEnds) - 1);
        const std::size_t start = stage == 0 ? 1 : kStageEnds[stage - 1];
        router.killAtRecord = Draw(random, start, kStageEnds[stage]);
    }
    router.leavesAfterFirstFailure = twoRouters && index == 0 && Chance(random, 0.5);
    for (int retry = 0; retry < kRetries; ++retry) {
        router.replugBeforeRetry.push_back(Chance(random, 0.5));
    }
    return router;
}

const char* KindName(FaultKind kind) {
    const auto found = std::find_if(std::begin(kKinds), std::end(kKinds),
                                    [&](const KindFacts& facts) { return facts.kind == kind; });
    return found->name;
}

int DelaySeconds(FaultKind kind) {
    const auto found = std::find_if(std::begin(kKinds), std::end(kKinds),
                                    [&](const KindFacts& facts) { return facts.kind == kind; });
    return found->delaySeconds;
}

}  // namespace

CasePlan DrawPlan(std::uint64_t seed) {
    Random random(seed);
    CasePlan plan;
    plan.seed = seed;
    const std::size_t routers = Chance(random, 0.3) ? 2 : 1;
    for (std::size_t index = 0; index < routers; ++index) {
        plan.routers.push_back(DrawRouter(random, index, routers == 2));
    }
    return plan;
}

std::string Describe(const CasePlan& plan) {
    std::string text = "seed " + std::to_string(plan.seed) + ":";
    for (const RouterPlan& router : plan.routers) {
        text += " router " + router.name + " (IMEI " + router.imei + ", usb " + router.usbPath +
                (router.usbSerial.empty() ? "" : " serial " + router.usbSerial) + ") faults ";
        for (const Fault& fault : router.faults) {
            text += fault.option + (&fault == &router.faults.back() ? "" : ",");
        }
        if (router.programmerReenumerates) {
            text += " re-enumerating programmer";
        }
        if (router.killAtRecord) {
            text += " killed at trace record " + std::to_string(*router.killAtRecord);
        }
        if (router.leavesAfterFirstFailure) {
            text += " taken home after a failed first run";
        }
        text += " replug";
        for (const bool replug : router.replugBeforeRetry) {
            text += replug ? " yes" : " no";
        }
        text += ";";
    }
    return text;
}

std::vector<std::string> Kinds(const CasePlan& plan) {
    std::set<std::string> kinds;
    if (plan.routers.size() > 1) {
        kinds.insert("two routers");
    }
    for (const RouterPlan& router : plan.routers) {
        for (const Fault& fault : router.faults) {
            kinds.insert(KindName(fault.kind));
        }
        if (router.programmerReenumerates) {
            kinds.insert("re-enumerating programmer");
        }
        if (router.killAtRecord) {
            kinds.insert("killed, power cycle");
        }
    }
    return {kinds.begin(), kinds.end()};
}

std::chrono::milliseconds RunBound(const RouterPlan& router, double timeScale) {
    int seconds = kUpdateWaitSeconds + (router.programmerReenumerates ? kReenumerationSeconds : 0);
    milliseconds unscaled = kWorkSlack;
    for (const Fault& fault : router.faults) {
        seconds += DelaySeconds(fault.kind);
        unscaled += fault.kind == FaultKind::SplitAnswers ? kSplitCost : milliseconds(0);
    }
    return milliseconds(static_cast<long long>(seconds * 1000 * timeScale)) + unscaled;
}

}  // namespace tapfix::soak
