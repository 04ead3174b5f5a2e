#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tapfix::bench {

// One time the simulated router left the bus and came back, read from its trace.
struct Reenumeration {
    using Seconds = std::chrono::duration<double>;

    std::string reason;
    // The router's own time: from the request that sent it away to its next port appearing.
    Seconds routerTime{0};
    // The host's: from that port appearing to the first request the router heard there. None
    // when the router heard nothing more, or never came back.
    std::optional<Seconds> hostTime;
};

// Every re-enumeration of a trace, in order; one whose port never came back is left out.
std::vector<Reenumeration> ReadReenumerations(const std::vector<nlohmann::json>& trace);

}  // namespace tapfix::bench
