#include "session_harness.hpp"

#include "bench_setup.hpp"
#include "config/package.hpp"
#include "reference/firmware.hpp"

namespace tapfix::bench {

void StepNotifier::Notify(const session::Notification& notification) {
    if (notification.kind == session::kNotifyHint) {
        step_ = notification.text;
    } else if (notification.kind == session::kNotifyLog) {
        lastLine_ = notification.text;
    }
}

SessionHarness::Options SessionHarness::WholeUpdate(session::NvSteps& steps) {
    Options options;
    options.link = UsbLink();
    options.programmerReenumerates = true;
    options.nvSteps = &steps;
    return options;
}

SessionHarness::SessionHarness(const Options& options, platform::Clock& clock) : service_(clock) {
    if (MakePrivateFolder(folder_, failure_)) {
        work_ = folder_ / "work";
        Prepare(options);
    }
}

SessionHarness::~SessionHarness() {
    for (int slot = 0; slot < session::CDownloadService::kSlotCount; ++slot) {
        service_.Link(slot).ClosePort();
    }
    for (const auto& router : routers_) {
        router->Stop();
    }
    RemoveFolder(folder_);
}

bool SessionHarness::Prepare(const Options& options) {
    reference::ReferenceFirmwareOptions firmware;
    firmware.output = work_;
    firmware.full = options.fullSizes;
    const auto configFile = work_ / "download.xml";
    if (!reference::GenerateReferenceFirmware(firmware, failure_) ||
        !config::PointConfigAtWorkFolder(configFile, work_, work_, failure_) ||
        !config::LoadConfig(configFile, service_.Config(), failure_)) {
        return false;
    }
    FlushToDisk(work_);
    service_.Language().SetLanguage(config::UiLanguage::English);
    service_.SetNotifier(&notifier_);
    service_.SetNvSteps(options.nvSteps);

    sim::RouterOptions router;
    router.registry = PortRegistry(folder_);
    router.initialMode = options.mode;
    router.defaults.buildIdPrefix = firmware.buildId;
    router.profile.link = options.link;
    router.profile.programmerReenumerates = options.programmerReenumerates;
    if (!sim::LoadProgrammers(work_, router.profile, &failure_)) {
        return false;
    }
    // Ports far apart, so that no router's new port number is another's old one.
    constexpr int kPortsPerRouter = 20;
    for (int index = 0; index < options.routers; ++index) {
        sim::RouterOptions each = router;
        each.usb.path = "1-" + std::to_string(index + 1);
        // Each router its own identity: backups are kept by it.
        each.defaults.imei.back() =
            static_cast<char>('0' + (each.defaults.imei.back() - '0' + index) % 10);
        each.defaults.wifiMac.back() = static_cast<char>('0' + index);
        each.firstPortNumber = router.firstPortNumber + index * kPortsPerRouter;
        routers_.push_back(std::make_unique<sim::SimulatedRouter>(std::move(each)));
        if (!routers_.back()->Start(&failure_)) {
            return false;
        }
    }
    return true;
}

session::PortContext SessionHarness::Context(int index) const {
    session::PortContext context;
    context.imageFolder = work_;
    context.nvRoot = work_;
    if (static_cast<std::size_t>(index) >= routers_.size()) {
        return context;
    }
    if (routers_.size() > 1) {
        context.slot = index;
        context.usb.path = "1-" + std::to_string(index + 1);
    }
    if (const auto port = routers_[static_cast<std::size_t>(index)]->CurrentPort()) {
        context.portNumber = port->number;
    }
    return context;
}

bool SessionHarness::OpenLink() {
    link::CPacket& link = service_.Link(0);
    if (!link.OpenPort(Context().portNumber)) {
        failure_ = "cannot open the router's port: " + link.OpenFailure();
        return false;
    }
    return true;
}

}  // namespace tapfix::bench
