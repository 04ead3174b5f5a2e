// DownloadSoftware: from the mode the device is in to every image written, as a list of steps.
#include <chrono>
#include <string>

#include "session/device_operations.hpp"
#include "session/download_service.hpp"

namespace tapfix::session {
namespace {

using namespace std::chrono_literals;

// The image a wait goes before: the combined NAND programmer needs the flash settled.
constexpr std::string_view kSettlingImage = "nandprgcombined";
// Where the bar stands when the images begin: after the programmer and partition steps of
// the download (16 to 20) or of the repair of a device waiting in its boot stage (0 to 3).
constexpr int kMainListBase = 21;
constexpr int kUrgentListBase = 4;

// The entry's file name without folder and extension, as the hints show it.
std::string ImageName(const config::DownloadFile& entry) {
    return entry.path.stem().string();
}

}  // namespace

bool CDownloadService::DownloadSoftware(PortContext& context) {
    static constexpr Step<PortContext> kSteps[] = {
        {.when = &CDownloadService::InNormalMode,
         .hintKey = "ID_HINT_SWITCHQUALDOWNMODE",
         .progress = 16,
         .run = &CDownloadService::SwitchFromNormalMode,
         .failureKey = "ID_ERROR_SWITCHQUALDOWNMODE"},
        {.when = &CDownloadService::InBootLoaderWithoutSahara,
         .run = &CDownloadService::CheckBootLoaderAndPause,
         .failureKey = "ID_ERROR_REPAIRCMD"},
        {.when = &CDownloadService::ProgrammerNotRunning,
         .hintKey = "ID_HINT_DOWNLOADARMPRG",
         .progress = 17,
         .run = &CDownloadService::TransferProgrammer,
         .failureKey = "ID_ERROR_DOWNLOADARMPRG"},
        {.when = &CDownloadService::ProgrammerToStart,
         .hintKey = "ID_HINT_JUMPTOARMPRG",
         .progress = 18,
         .run = &CDownloadService::StartProgrammer,
         .failureKey = "ID_ERROR_JUMPTOARMPRG"},
        {.when = &CDownloadService::ProgrammerRunning,
         .run = &CDownloadService::ProbeRunningProgrammer},
        {.hintKey = "ID_HINT_SENDSECURITYCODE",
         .progress = 19,
         .run = &CDownloadService::EnterTrustMode,
         .failureKey = "ID_ERROR_SENDSECURITYCODE"},
        {.hintKey = "ID_HINT_DOWNPARTITION",
         .progress = 20,
         .run = &CDownloadService::SendConfiguredPartitionTable,
         .failureKey = "ID_ERROR_DOWNPARTITION"},
        {.run = &CDownloadService::DownloadFileList},
    };
    return RunSteps(kSteps, context);
}

// --- conditions: the mode the last detection recorded ---

bool CDownloadService::InNormalMode(const PortContext& context) const {
    const SlotMode mode = ModeOf(context.slot);
    return !mode.bootMode && !mode.programmerMode;
}

bool CDownloadService::InBootLoaderWithoutSahara(const PortContext& context) const {
    return ModeOf(context.slot).bootMode && !SaharaOption();
}

bool CDownloadService::ProgrammerNotRunning(const PortContext& context) const {
    return !ModeOf(context.slot).programmerMode;
}

bool CDownloadService::ProgrammerToStart(const PortContext& context) const {
    return ProgrammerNotRunning(context) && OnBootLoaderRoute(context);
}

bool CDownloadService::ProgrammerRunning(const PortContext& context) const {
    return ModeOf(context.slot).programmerMode;
}

bool CDownloadService::OnBootLoaderRoute(const PortContext&) const {
    return !SaharaOption();
}

// --- steps ---

bool CDownloadService::SwitchFromNormalMode(PortContext& context) {
    if (SwitchToDownloadMode(context)) {
        return true;
    }
    LogLinkError(context.slot);
    return false;
}

bool CDownloadService::CheckBootLoaderAndPause(PortContext& context) {
    if (!CheckBootMode(context.slot)) {
        return false;
    }
    Pause(500ms);
    return true;
}

bool CDownloadService::LoadProgrammerByRoute(PortContext& context) {
    return SaharaOption() ? LoadProgrammerSahara(context) : LoadProgrammerDmss(context.slot);
}

bool CDownloadService::TransferProgrammer(PortContext& context) {
    if (!LoadProgrammerByRoute(context)) {
        return false;
    }
    if (OnBootLoaderRoute(context)) {
        // The boot loader answers in order: its answer to a no-operation says every write
        // before it is done. The 2 s stay the bound; the jump follows either way.
        AwaitRouter(2000ms, [&] { return BootLoaderAnswers(context.slot); });
    }
    return true;
}

bool CDownloadService::ProbeRunningProgrammer(PortContext& context) {
    const int slot = context.slot;
    if (SaharaOption()) {
        Run(op::kProbe, slot);
        if (ProgrammerAnswers(slot)) {
            return true;
        }
        LogHint(slot, "Sahara armprg Hello fail");
        LogKey(slot, "ID_ERROR_DOWNLOADARMPRG");
        return false;
    }
    if (Run(op::kStreamNop, slot)) {
        return true;
    }
    Run(op::kProbe, slot);
    if (Run(op::kStreamNop, slot)) {
        return true;
    }
    LogKey(slot, "ID_ERROR_REPAIRCMD");
    return false;
}

bool CDownloadService::EnterTrustMode(PortContext& context) {
    return EnterSecurityMode(context.slot, config_.trustMode);
}

bool CDownloadService::SendConfiguredPartitionTable(PortContext& context) {
    return SendPartitionTable(context.slot,
                              static_cast<std::uint32_t>(PartitionDownload(context.slot)));
}

bool CDownloadService::DownloadFileList(PortContext& context) {
    return DownloadList(context.slot, config_.files, kMainListBase, true);
}

bool CDownloadService::DownloadUrgentList(PortContext& context) {
    return DownloadList(context.slot, config_.urgentFiles, kUrgentListBase, false);
}

bool CDownloadService::DownloadList(int slot, const std::vector<config::DownloadFile>& files,
                                    int base, bool mainList) {
    ProgressState progress{config_.totalBytes, 0, base};
    for (const config::DownloadFile& entry : files) {
        const std::string name = ImageName(entry);
        if (name == kSettlingImage) {
            Pause(2000ms);
        }
        const std::string line = Text("ID_HINT_DOWNSDPFILE") + name;
        if (mainList) {
            LogHint(slot, line + "...");
            LogLine(slot, line + "(" + std::to_string(entry.dlType) + ")");
        } else {
            LogHint(slot, line);
        }
        if (!DownloadImage(entry, slot, progress)) {
            const std::string failure = Text("ID_ERROR_DOWNSDPFILE");
            LogLine(slot, mainList ? name + " download is fail " + failure + "..."
                                   : name + ":" + failure);
            return false;
        }
    }
    return true;
}

}  // namespace tapfix::session
