#include "reenumerations.hpp"

#include <algorithm>

namespace tapfix::bench {
namespace {

using Trace = std::vector<nlohmann::json>;

bool IsEvent(const nlohmann::json& record, std::string_view event) {
    return record.value("event", "") == event;
}

// A request of the host, as the router saw it (a Sahara boot stage speaks first: its own hello
// is no request).
bool IsRequest(const nlohmann::json& record) {
    return IsEvent(record, "request") ||
           (IsEvent(record, "sahara") && record.value("name", "") != "hello");
}

double Milliseconds(const nlohmann::json& record) {
    return record.value("ms", 0.0);
}

}  // namespace

std::vector<Reenumeration> ReadReenumerations(const Trace& trace) {
    std::vector<Reenumeration> found;
    for (auto sent = trace.begin(); sent != trace.end(); ++sent) {
        if (!IsEvent(*sent, "reenumerate")) {
            continue;
        }
        const auto back = std::find_if(sent, trace.end(), [](const nlohmann::json& record) {
            return IsEvent(record, "port_added");
        });
        if (back == trace.end()) {
            continue;
        }
        Reenumeration reenumeration{
            sent->value("reason", ""),
            Reenumeration::Seconds((Milliseconds(*back) - Milliseconds(*sent)) / 1e3),
            std::nullopt};
        const auto gone = std::find_if(back, trace.end(), [](const nlohmann::json& record) {
            return IsEvent(record, "port_removed");
        });
        const auto heard = std::find_if(back, gone, IsRequest);
        if (heard != gone) {
            reenumeration.hostTime =
                Reenumeration::Seconds((Milliseconds(*heard) - Milliseconds(*back)) / 1e3);
        }
        found.push_back(std::move(reenumeration));
    }
    return found;
}

}  // namespace tapfix::bench
