// Which protocol the device speaks, its version text, and the switch to its download mode.
#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>

#include "device/diag_commands.hpp"
#include "device/dmss_commands.hpp"
#include "device/dmss_protocol.hpp"
#include "device/sahara.hpp"
#include "link/port_discovery.hpp"
#include "platform/utf16.hpp"
#include "session/device_operations.hpp"
#include "session/download_service.hpp"

namespace tapfix::session {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kNoVersionCommand = "SW not support 0x39";
constexpr std::string_view kBootModeText = "Phone in boot mode";
constexpr std::string_view kProgrammerModeText = "Phone in armprg mode";
constexpr std::string_view kNoPhoneText = "No Phone...";

// A Sahara hello: command 1, protocol version 2; word 5 tells whether an image is pending.
constexpr std::uint32_t kSaharaVersion = 2;
constexpr std::uint32_t kHelloImagePending = 0;
constexpr std::uint32_t kHelloImageLoad = 2;

// The version texts the four labels of the version text stand for.
constexpr std::array<std::pair<std::string_view, std::size_t>, 4> kVersionLabels{{
    {"ID_HINT_SW_OUTER", 0},
    {"ID_HINT_PC_OUTER", 1},
    {"ID_HINT_MAC_OUTER", 2},
    {"ID_HINT_INTEGRATE", 3},
}};

constexpr auto kSwitchWait = 20000ms;
constexpr int kSubsystemStatusTries = 100;
constexpr int kPortSearchesAfterSwitch = 200;
constexpr int kSaharaHelloTries = 5;
constexpr int kBootLoaderTries = 40;
constexpr int kDownloadModeQueries = 3;

// The mode text goes where the first version text would be; true, for use as a result.
bool SetModeText(device::VersionRecord& record, std::string_view text) {
    const auto slot = record.begin() + device::diag::kVersionFirstSlot;
    std::fill_n(slot, device::diag::kVersionSlot, 0);
    std::copy_n(text.begin(), std::min(text.size(), device::diag::kVersionTextLength), slot);
    return true;
}

// The port the device shows after the switch, at its location. The normal-mode port it is
// leaving may still be listed when the search begins; while it is, it is not the new port. Both
// questions are put to one listing: asked of two, the old port could be found in the first and
// be gone from the second, and be taken for the new one.
bool FindDownloadPort(const PortContext& context, int leaving, int* port) {
    const platform::PortList ports = platform::ListPorts();
    int found = 0;
    if (!link::FindDiagPort(ports, &found, context.usb) ||
        (found == leaving && !link::IsPortAbsent(ports, leaving))) {
        return false;
    }
    *port = found;
    return true;
}

bool IsSaharaHello(const link::CPacket& packet) {
    return device::SaharaWord(packet, 0) == device::sahara::kHello &&
           device::SaharaWord(packet, 2) == kSaharaVersion;
}

}  // namespace

bool CDownloadService::ReportDeviceVersion(int slot, int portNumber, std::string& text) {
    text.clear();
    if (!ValidSlot(slot)) {
        return false;
    }
    std::lock_guard lock(slotLocks_[static_cast<std::size_t>(slot)]);
    device::VersionRecord record{};
    Probe probe = Probe::Known;
    if (identified_[slot] == 0) {
        probe = ProbeNewDevice(slot, portNumber, record);
        if (probe == Probe::Silent) {
            return false;
        }
    }
    // A Sahara boot stage has just said hello, and it speaks nothing the boot loader's
    // confirming probe could reach: the probe's bytes would only garble its next message.
    const bool confirmed =
        probe == Probe::SaharaHello ? SetModeText(record, kBootModeText) : DetectMode(slot, record);
    identified_[slot] = confirmed ? 1 : 0;
    return confirmed && FormatVersionText(record, text);
}

bool CDownloadService::FormatVersionText(const device::VersionRecord& record,
                                         std::string& text) const {
    std::array<std::string, device::diag::kVersionTexts> versions;
    for (std::size_t k = 0; k < versions.size(); ++k) {
        versions[k] = platform::Utf16ToUtf8(platform::Utf8ToUtf16(device::VersionText(record, k)));
        if (platform::Utf16Length(versions[k]) > device::diag::kVersionTextLength) {
            return false;
        }
    }
    for (const auto& [key, index] : kVersionLabels) {
        text += (text.empty() ? "" : ";") + Text(key) + ":" + versions[index];
    }
    return true;
}

CDownloadService::Probe CDownloadService::ProbeNewDevice(int slot, int portNumber,
                                                         device::VersionRecord& record) {
    if (!ReopenLink(slot, portNumber)) {
        return Probe::Silent;
    }
    if (SaharaOption()) {
        if (DetectSahara(slot)) {
            return Probe::SaharaHello;
        }
        return ReadSaharaDeviceVersion(slot, record) ? Probe::Answered : Probe::Silent;
    }
    if (ProbeNormalMode(slot, record)) {
        return Probe::Answered;
    }
    if (BootLoaderAnswers(slot)) {
        SetMode(slot, true, false);
    } else if (ProgrammerAnswers(slot)) {
        SetMode(slot, false, true);
    } else {
        SetMode(slot, false, false);
        Run(op::kProbe, slot);
    }
    return Probe::Answered;
}

bool CDownloadService::DetectSahara(int slot) {
    if (!SaharaHelloArrives(slot)) {
        return false;
    }
    const auto mode = device::SaharaWord(Link(slot), 5);
    if (mode != kHelloImagePending && mode != kHelloImageLoad) {
        return false;
    }
    SetMode(slot, true, false);
    saharaPending_[slot] = mode == kHelloImagePending ? 1 : 0;
    return true;
}

bool CDownloadService::ReadSaharaDeviceVersion(int slot, device::VersionRecord& record) {
    if (ProbeNormalMode(slot, record)) {
        return true;
    }
    if (!ProgrammerAnswers(slot)) {
        return false;
    }
    SetMode(slot, false, true);
    return true;
}

bool CDownloadService::ProbeNormalMode(int slot, device::VersionRecord& record) {
    if (!ReadVersionOrEsn(slot, record)) {
        return false;
    }
    SetMode(slot, false, false);
    return true;
}

bool CDownloadService::ReadVersionOrEsn(int slot, device::VersionRecord& record) {
    if (device::GetSoftwareVersion(Link(slot), record)) {
        return true;
    }
    std::uint32_t esn = 0;
    if (!device::GetEsn(Link(slot), esn)) {
        return false;
    }
    SetModeText(record, kNoVersionCommand);
    return true;
}

bool CDownloadService::BootLoaderAnswers(int slot) {
    // Any good frame passes the no-operation, and a running programmer answers it with an
    // error frame: only the boot loader's ACK tells a boot loader.
    if (!Run(op::kBootLoaderNop, slot)) {
        return false;
    }
    const auto answer = Link(slot).DecodedPayload();
    return !answer.empty() && answer[0] == device::dmss::kAck;
}

bool CDownloadService::ProgrammerAnswers(int slot) {
    std::string flashId;
    return device_->SlotStreamHello(slot, flashId) == 0;
}

bool CDownloadService::DetectMode(int slot, device::VersionRecord& record) {
    if (!ValidSlot(slot)) {
        return false;
    }
    const SlotMode mode = ModeOf(slot);
    bool confirmed = false;
    if (!mode.bootMode && !mode.programmerMode) {
        confirmed = ReadVersionOrEsn(slot, record);
    } else if (mode.bootMode && !mode.programmerMode) {
        confirmed = BootLoaderAnswers(slot);
        SetModeText(record, kBootModeText);
    } else if (!mode.bootMode && mode.programmerMode) {
        confirmed = ProgrammerAnswers(slot);
        SetModeText(record, kProgrammerModeText);
    }
    if (!confirmed) {
        SetModeText(record, kNoPhoneText);
    }
    return confirmed;
}

bool CDownloadService::CheckBootMode(int slot) {
    device::FlashInfoRecord info{};
    if (device::GetFlashInfo(Link(slot), info)) {
        return true;
    }
    Run(op::kProbe, slot);
    return device::GetFlashInfo(Link(slot), info);
}

bool CDownloadService::CheckDownloadMode(int slot) {
    for (int attempt = 0; attempt < kDownloadModeQueries; ++attempt) {
        if (Run(op::kDownloadModeQuery, slot)) {
            return true;
        }
        Run(op::kProbe, slot);
    }
    return false;
}

bool CDownloadService::SwitchToDownloadMode(PortContext& context) {
    const int slot = context.slot;
    ReopenLink(slot, context.portNumber);
    Run(op::kProbe, slot);
    PrepareSwitch(slot);
    bool bootStageAnswered = false;
    {
        // The device leaves the bus now; nobody else may probe for it until it is back.
        std::lock_guard lock(slotLocks_[static_cast<std::size_t>(slot)]);
        Run(op::kSwitchToDownloader, slot);
        if (HighSpeedUsb()) {
            bootStageAnswered = AwaitBootStage(context);
            if (!FindPortAfterSwitch(context)) {
                LogKey(slot, "ID_ERROR_USBPORT");
                return false;
            }
        } else {
            Pause(500ms);
        }
    }
    ReopenLink(slot, context.portNumber);
    if (!SaharaOption()) {
        return FindBootLoader(context);
    }
    // A Sahara boot stage says hello once: heard already, it is not waited for again.
    return bootStageAnswered || AwaitSaharaHello(context);
}

void CDownloadService::PrepareSwitch(int slot) {
    if (SaharaOption()) {
        Run(op::kSetOffline, slot);
        return;
    }
    Run(op::kSendSpc, slot);
    Run(op::kSetOffline, slot);
    for (int attempt = 1; !Run(op::kSubsystemStatus, slot) && attempt < kSubsystemStatusTries;
         ++attempt) {
        Pause(200ms);
    }
}

// The switch's 20 s are the bound of a wait for the router: it ends as soon as its boot stage
// has shown its port at the router's location and answered there (the boot loader's
// no-operation acknowledged, or the Sahara hello received). Linux binds the port's driver at
// once, so there is nothing else to wait for.
bool CDownloadService::AwaitBootStage(const PortContext& context) {
    const int slot = context.slot;
    return AwaitRouter(kSwitchWait, [&] {
        int port = 0;
        if (!FindDownloadPort(context, context.portNumber, &port)) {
            return false;
        }
        Pause(kPortSettle);
        return ReopenLink(slot, port) &&
               (SaharaOption() ? SaharaHelloArrives(slot) : BootLoaderAnswers(slot));
    });
}

bool CDownloadService::FindPortAfterSwitch(PortContext& context) {
    Notify(ValueNotification(kNotifyPortSearch, context.slot, context.portNumber));
    const int leaving = context.portNumber;
    for (int search = 1;; ++search) {
        if (FindDownloadPort(context, leaving, &context.portNumber)) {
            return true;
        }
        if (search == kPortSearchesAfterSwitch) {
            return false;
        }
        Pause(200ms);
    }
}

bool CDownloadService::AwaitSaharaHello(PortContext& context) {
    ReopenLink(context.slot, context.portNumber);
    ProbeWithReopens(context, kSaharaHelloTries, &CDownloadService::SaharaHelloArrives);
    // The hello may have come before the port was open; the transfer answers it anyway.
    return true;
}

bool CDownloadService::ProbeWithReopens(PortContext& context, int tries,
                                        bool (CDownloadService::*probe)(int)) {
    for (int attempt = 0; attempt < tries; ++attempt) {
        if ((this->*probe)(context.slot)) {
            return true;
        }
        ReopenLink(context.slot, context.portNumber);
        Pause(1000ms);
    }
    return false;
}

bool CDownloadService::SaharaHelloArrives(int slot) {
    link::CPacket& link = Link(slot);
    link.ResetBuffers();
    return device::SaharaRead(link) && IsSaharaHello(link);
}

bool CDownloadService::FindBootLoader(PortContext& context) {
    const int slot = context.slot;
    ReopenLink(slot, context.portNumber);
    Run(op::kProbe, slot);
    device::FlashInfoRecord info{};
    if (device::GetFlashInfo(Link(slot), info)) {
        return true;
    }
    ReopenLink(slot, context.portNumber);
    return ProbeWithReopens(context, kBootLoaderTries, &CDownloadService::BootLoaderAnswers);
}

}  // namespace tapfix::session
