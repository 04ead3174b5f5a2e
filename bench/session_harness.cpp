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
    if (router_) {
        router_->Stop();
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

    sim::RouterOptions router;
    router.registry = PortRegistry(folder_);
    router.initialMode = options.mode;
    router.defaults.buildIdPrefix = firmware.buildId;
    router.profile.link = options.link;
    router.profile.programmerReenumerates = options.programmerReenumerates;
    if (!sim::LoadProgrammers(work_, router.profile, &failure_)) {
        return false;
    }
    router_ = std::make_unique<sim::SimulatedRouter>(std::move(router));
    return router_->Start(&failure_);
}

session::PortContext SessionHarness::Context() const {
    session::PortContext context;
    context.imageFolder = work_;
    context.nvRoot = work_;
    if (const auto port = router_ ? router_->CurrentPort() : std::nullopt) {
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
