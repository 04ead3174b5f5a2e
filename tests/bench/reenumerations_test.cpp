// The router's and the host's time around each re-enumeration, read from a simulator trace.
#include "reenumerations.hpp"

#include <gtest/gtest.h>

namespace tapfix::bench {
namespace {

nlohmann::json Record(const char* event, int ms, nlohmann::json fields = nlohmann::json::object()) {
    fields["event"] = event;
    fields["ms"] = ms;
    return fields;
}

TEST(Reenumerations, RouterTimeRunsToItsPortAndHostTimeToTheFirstRequestHeardThere) {
    const std::vector<nlohmann::json> trace = {
        Record("request", 0),
        Record("reenumerate", 100, {{"reason", "switch to downloader"}}),
        Record("port_removed", 200),
        Record("port_added", 3200),
        // The Sahara boot stage's own hello is no request of the host.
        Record("sahara", 3200, {{"name", "hello"}}),
        Record("sahara", 3450, {{"name", "hello_response"}}),
        Record("reenumerate", 4000, {{"reason", "reset"}}),
        Record("port_removed", 4100),
        Record("port_added", 12100),
        Record("port_removed", 12500),
        Record("request", 13000),
        Record("reenumerate", 14000, {{"reason", "reset"}}),
    };
    const auto found = ReadReenumerations(trace);
    ASSERT_EQ(found.size(), 2u) << "the last one never came back";
    EXPECT_EQ(found[0].reason, "switch to downloader");
    EXPECT_DOUBLE_EQ(found[0].routerTime.count(), 3.1);
    ASSERT_TRUE(found[0].hostTime.has_value());
    EXPECT_DOUBLE_EQ(found[0].hostTime->count(), 0.25);
    EXPECT_DOUBLE_EQ(found[1].routerTime.count(), 8.1);
    EXPECT_FALSE(found[1].hostTime.has_value()) << "a request on a later port is not this one's";
}

}  // namespace
}  // namespace tapfix::bench
