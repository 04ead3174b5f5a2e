// The station's watcher: which routers it takes on, on which slots, and its exit status.
#include "app/station.hpp"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "app/update_worker.hpp"
#include "support/scoped_environment.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::app {
namespace {

// Time stands still: a worker waiting for its router to answer waits until the station stops.
class StillClock final : public platform::Clock {
  public:
    platform::TimePoint Now() const override { return {}; }
    void Sleep(platform::Milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

platform::PortInfo RouterPort(int number, std::string usbPath) {
    platform::PortInfo port;
    port.number = number;
    port.displayName = "Qualcomm HS-USB Diagnostics 9025 (COM" + std::to_string(number) + ")";
    port.usb.path = std::move(usbPath);
    return port;
}

platform::PortList Ports(std::vector<platform::PortInfo> ports) {
    return platform::PortList{true, {}, std::move(ports)};
}

class StationTest : public ::testing::Test {
  protected:
    // Workers find no port in an empty registry and wait there until the station stops.
    test::TempDir registry_;
    test::ScopedEnvironment ports_{"TAPFIX_PORTS_DIR", registry_.Path().string()};
    StillClock clock_;
    session::CDownloadService service_{clock_};
    SharedState settings_;
    CStation station_{service_, settings_, clock_};
};

TEST_F(StationTest, ANinthRouterWaitsForAFreeSlotAndEachRouterKeepsItsOwn) {
    std::vector<platform::PortInfo> ports;
    for (int n = 1; n <= 9; ++n) {
        ports.push_back(RouterPort(n, "1-" + std::to_string(n)));
    }
    station_.Look(Ports(ports));
    station_.Look(Ports(ports));  // seen again: nobody is taken on twice

    const std::vector<StationRouter> routers = station_.Routers();
    ASSERT_EQ(routers.size(), 9u);
    std::set<int> slots;
    for (const StationRouter& router : routers) {
        if (router.running) {
            slots.insert(router.slot);
            EXPECT_EQ(station_.RouterOnSlot(router.slot)->usb, router.usb);
        }
    }
    EXPECT_EQ(slots.size(), 8u);
    EXPECT_FALSE(routers.back().running) << "the ninth waits";
    EXPECT_FALSE(station_.Idle());
    station_.Stop();
}

TEST_F(StationTest, NamedPortsKeepTheirPlaceWhenTheRouterMovesToAnotherPort) {
    CStation restricted(service_, settings_, clock_);
    restricted.Start(StationOptions{{12}});
    restricted.StopWatching();
    restricted.Look(Ports({RouterPort(11, "1-1"), RouterPort(12, "1-2")}));
    restricted.Look(Ports({RouterPort(11, "1-1"), RouterPort(40, "1-2"), RouterPort(41, "1-3")}));

    const std::vector<StationRouter> routers = restricted.Routers();
    ASSERT_EQ(routers.size(), 1u);
    EXPECT_EQ(routers[0].usb.path, "1-2");
    restricted.Stop();
}

TEST(StationExitStatus, ZeroOnlyWhenEveryRouterWasUpdated) {
    const auto router = [](std::optional<int> result) {
        StationRouter made;
        made.result = result;
        return made;
    };
    const std::vector<std::pair<std::vector<StationRouter>, int>> cases = {
        {{}, kResultNoDevice},
        {{router(std::nullopt)}, kResultNoDevice},
        {{router(0), router(0), router(std::nullopt)}, 0},
        {{router(0), router(-1)}, 4},
        {{router(1), router(0)}, 4},
    };
    for (const auto& [routers, status] : cases) {
        EXPECT_EQ(StationExitStatus(routers), status) << routers.size();
    }
}

}  // namespace
}  // namespace tapfix::app
