// A shop's station: three routers at three USB places updated by one console at once, one of
// them losing its power in the middle of an image.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e_driver.hpp"
#include "router_facts.hpp"

namespace tapfix::test::e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

struct Router {
    std::string name;
    std::string imei;
    std::string mac;
    std::string usb;
    std::string firstPort;
    std::vector<std::string> faults;
};

const std::vector<Router>& Routers() {
    static const std::vector<Router> routers{
        {"a", "359876543210984", "021A2B3C4D5E", "1-1.2", "10", {}},
        {"b", "356938035643809", "0A0B0C0D0E0F", "1-1.3", "20", {"--faults", "powerloss:3"}},
        {"c", "490154203237518", "0C0C0C0C0C0C", "1-1.4", "30", {}},
    };
    return routers;
}

std::size_t ImagesWritten(const std::vector<Json>& trace) {
    return Events(trace, "image_written").size();
}

class StationEndToEnd : public ::testing::Test {
  protected:
    Json PlugIn(const Router& router, std::vector<std::string> options) {
        driver_.PrepareRouter(
            {"--imei", router.imei, "--mac", router.mac},
            [&](Json& state) { MakeAnotherRouter(state, router.imei); }, router.name);
        options.insert(options.end(), {"--usb-path", router.usb, "--first-port", router.firstPort});
        driver_.StartSimulator(options, router.name);
        return driver_.State(router.name);
    }

    ProcessResult RunStation() {
        return driver_.RunUpdater({"--all", "--exit-when-idle", "--lang", "en"});
    }

    std::map<std::string, Json> Kept(const Json& state) const {
        return KeptData(state, ReadPackageFacts(driver_.WorkFolder(), driver_.Updater()));
    }

    void TearDown() override {
        if (HasFailure()) {
            driver_.ShowLog();
        }
    }

    EndToEndDriver driver_;
};

TEST_F(StationEndToEnd, EachRouterKeepsItsOwnDataAndTheOneThatLostPowerIsResumed) {
    std::map<std::string, Json> before;
    for (const Router& router : Routers()) {
        before[router.name] = PlugIn(router, router.faults);
    }

    const ProcessResult station = RunStation();
    EXPECT_EQ(station.exitStatus, 4) << station.out;
    for (const auto& [name, usb, result] :
         {std::tuple{"a", "1-1.2", "0"}, {"b", "1-1.3", "-1"}, {"c", "1-1.4", "0"}}) {
        EXPECT_THAT(station.out, ::testing::ContainsRegex("\\[[0-7] " + std::string(usb) +
                                                          "\\] result: " + result))
            << name << "\n"
            << station.out;
    }
    EXPECT_THAT(station.out, HasSubstr("summary: ")) << station.out;
    std::map<std::string, std::vector<Json>> traces;
    for (const Router& router : Routers()) {
        traces[router.name] = driver_.Trace(0, router.name);
        driver_.StopSimulator(router.name);
    }
    const PackageFacts package = ReadPackageFacts(driver_.WorkFolder(), driver_.Updater());
    for (const std::string name : {"a", "c"}) {
        EXPECT_THAT(Differences(Kept(before[name]), Kept(driver_.State(name))), IsEmpty())
            << name << " has its own data back";
        EXPECT_EQ(FlashedImages(driver_.State(name)), package.images) << name;
        // Written once, by its own worker: another worker's traffic would write it twice.
        EXPECT_EQ(ImagesWritten(traces[name]), package.images.size()) << name;
    }
    EXPECT_THAT(Differences(Kept(before["a"]), Kept(before["c"])), Not(IsEmpty()))
        << "the routers hold different data, so a mix-up would show";

    // The next station run finds the router that lost its power blank and gives it its own
    // data, proven by the USB place its backup was taken at.
    driver_.StartSimulator({"--usb-path", "1-1.3", "--first-port", "20"}, "b");
    const ProcessResult resume = RunStation();
    EXPECT_EQ(resume.exitStatus, 0) << resume.out;
    EXPECT_THAT(resume.out, ::testing::ContainsRegex("\\[[0-7] 1-1.3\\] result: 0"));
    driver_.StopSimulator("b");
    EXPECT_THAT(Differences(Kept(before["b"]), Kept(driver_.State("b"))), IsEmpty());
    EXPECT_EQ(FlashedImages(driver_.State("b")), package.images);
}

}  // namespace
}  // namespace tapfix::test::e2e
