#include "support/session_fixture.hpp"

#include <cstdlib>

#include "config/package.hpp"
#include "platform/clock.hpp"
#include "platform/port_enumeration.hpp"
#include "reference/firmware.hpp"
#include "sim/mode_handler.hpp"

namespace tapfix::test {

void RecordingNotifier::Notify(const session::Notification& notification) {
    std::lock_guard lock(mutex_);
    recorded_.push_back(notification);
}

std::vector<session::Notification> RecordingNotifier::Recorded() const {
    std::lock_guard lock(mutex_);
    return recorded_;
}

std::vector<std::string> RecordingNotifier::Texts(int kind) const {
    std::vector<std::string> texts;
    for (const auto& notification : Recorded()) {
        if (notification.kind == kind) {
            texts.push_back(notification.text);
        }
    }
    return texts;
}

std::vector<int> RecordingNotifier::Progress() const {
    std::vector<int> values;
    for (const auto& notification : Recorded()) {
        if (notification.kind == session::kNotifyProgress) {
            values.push_back(notification.value);
        }
    }
    return values;
}

void RecordingNotifier::Clear() {
    std::lock_guard lock(mutex_);
    recorded_.clear();
}

SessionFixture::SessionFixture() : work_(dir_.Path() / "work") {
    platform::SetTimeScale(0.01);

    reference::ReferenceFirmwareOptions firmware;
    firmware.output = work_;
    firmware.buildId = std::string(kBuildId);
    std::string error;
    EXPECT_TRUE(reference::GenerateReferenceFirmware(firmware, error)) << error;
    const auto configFile = work_ / "download.xml";
    EXPECT_TRUE(config::PointConfigAtWorkFolder(configFile, work_, work_, error)) << error;
    EXPECT_TRUE(config::LoadConfig(configFile, service_.Config(), error)) << error;
    service_.SetNotifier(&notifier_);
}

SessionFixture::~SessionFixture() {
    for (int slot = 0; slot < session::CDownloadService::kSlotCount; ++slot) {
        service_.Link(slot).ClosePort();
    }
    if (router_) {
        router_->Stop();
    }
}

sim::RouterOptions SessionFixture::RouterOptions(sim::DeviceMode mode) const {
    sim::RouterOptions options;
    options.registry = dir_.Path() / "ports";
    options.initialMode = mode;
    options.defaults.buildIdPrefix = std::string(kBuildId);
    std::string error;
    EXPECT_TRUE(sim::LoadProgrammers(work_, options.profile, &error)) << error;
    return options;
}

void SessionFixture::StartRouter(sim::RouterOptions options) {
    router_ = std::make_unique<sim::SimulatedRouter>(std::move(options));
    std::string error;
    ASSERT_TRUE(router_->Start(&error)) << error;
}

session::PortContext SessionFixture::Context() const {
    session::PortContext context;
    context.imageFolder = work_;
    context.nvRoot = work_;
    if (router_) {
        if (const auto port = router_->CurrentPort()) {
            context.portNumber = port->number;
            // Where the watcher found the router: the registry tells.
            for (const platform::PortInfo& listed : platform::ListPorts().ports) {
                if (listed.number == port->number) {
                    context.usb = listed.usb;
                }
            }
        }
    }
    return context;
}

std::vector<nlohmann::json> SessionFixture::Events(std::string_view event) const {
    std::vector<nlohmann::json> found;
    for (const auto& record : router_->TraceRecords()) {
        if (record.at("event") == event) {
            found.push_back(record);
        }
    }
    return found;
}

}  // namespace tapfix::test
