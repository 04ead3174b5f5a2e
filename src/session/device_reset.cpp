// Back from the download mode: the programmer's reset with the search for the rebooted
// device, and the steps that end every update.
#include <chrono>
#include <string>

#include "device/diag_commands.hpp"
#include "link/port_discovery.hpp"
#include "session/device_operations.hpp"
#include "session/download_service.hpp"

namespace tapfix::session {
namespace {

using namespace std::chrono_literals;

constexpr int kPortSearchesAfterReset = 101;
constexpr int kReopenAttempts = 3;
constexpr auto kReopenPause = 2000ms;
constexpr int kStageAttempts = 3;

// The diagnostic port of the rebooted device, at its location. The programmer's download port
// may still be listed when the search begins; it is not the port the device comes back on.
bool FindRebootedPort(PortContext& context) {
    const auto found =
        link::FindRouterPort(platform::ListPorts(), context.usb, link::RouterPortNames::DiagOnly);
    if (!found) {
        return false;
    }
    context.portNumber = found->number;
    return true;
}

}  // namespace

bool CDownloadService::ResetMobileSDP(PortContext& context) {
    const int slot = context.slot;
    Run(op::kStreamReset, slot);
    Pause(25000ms);
    for (int search = 0; !FindRebootedPort(context); ++search) {
        if (search == kPortSearchesAfterReset) {
            return false;
        }
        Pause(500ms);
    }
    Pause(1000ms);
    // A program that probes every new port (ModemManager) may hold it for a moment.
    for (int attempt = 1; !ReopenLink(slot, context.portNumber) && attempt < kReopenAttempts;
         ++attempt) {
        Pause(kReopenPause);
    }
    device::VersionRecord versions{};
    const std::string line = "ResetMobileSDP 0 InitPort:Com" + std::to_string(context.portNumber);
    if (device::GetSoftwareVersion(Link(slot), versions)) {
        LogLine(slot, line + " success");
        return true;
    }
    LogLine(slot, line + " fail");
    Run(op::kProbe, slot);
    return false;
}

bool CDownloadService::ResetMobileDMP(int slot) {
    Run(op::kSetOffline, slot);
    const bool reset = Run(op::kResetPhone, slot);
    Pause(5000ms);
    return reset;
}

bool CDownloadService::FuncEnableDLMode(int slot) {
    return device::SetSpecialDlMode(Link(slot));
}

bool CDownloadService::AutoRun(int slot) {
    return device::AutoRunAction(Link(slot));
}

void CDownloadService::AfterDownload(PortContext context) {
    const int slot = context.slot;
    if (!ValidSlot(slot)) {
        return;
    }
    // A stage that fails three times ends the sequence: a device that refuses the flag is
    // neither given the autorun action nor reset.
    LogLine(slot, "Enter AfterDownload:FuncEnableDLMode Function");
    if (!AfterDownloadStage(slot, "FuncEnableDLMode", &CDownloadService::FuncEnableDLMode) ||
        !AfterDownloadStage(slot, {}, &CDownloadService::AutoRun)) {
        return;
    }
    LogLine(slot, "Enter AfterDownload:ResetMobileDMP Function");
    AfterDownloadStage(slot, "ResetMobileDMP", &CDownloadService::ResetMobileDMP);
}

bool CDownloadService::AfterDownloadStage(int slot, std::string_view name,
                                          bool (CDownloadService::*stage)(int)) {
    for (int attempt = 1; attempt <= kStageAttempts; ++attempt) {
        // A refusal leaves no reason of its own: the line must not show an older one.
        Link(slot).SetLastError("");
        const bool done = (this->*stage)(slot);
        if (!name.empty()) {
            LogLine(slot, "AfterDownload: " + std::to_string(attempt) + " " + std::string(name) +
                              ":" + (done ? std::string("success") : Link(slot).LastError()));
        }
        if (done) {
            return true;
        }
        Pause(1000ms);
    }
    return false;
}

}  // namespace tapfix::session
