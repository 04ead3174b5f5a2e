#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "config/download_config.hpp"
#include "config/language_manager.hpp"
#include "device/device_service.hpp"
#include "device/diag_protocol.hpp"
#include "platform/clock.hpp"
#include "session/notifier.hpp"
#include "session/nv_steps.hpp"
#include "session/port_context.hpp"
#include "session/progress.hpp"
#include "session/session_record.hpp"

namespace tapfix::session {

// The download session: takes a connected router from its normal mode to freshly written
// firmware and back, with its calibration data preserved. One object per process; one action
// runs at a time per slot, so up to eight routers are updated at once, each on its own slot and
// worker thread. The configuration is read-only while actions run: what an action changes
// (its operation, a kept partition table, its NV record, the programmer's start) is the slot's.
class CDownloadService {
  public:
    static constexpr int kSlotCount = device::CBIWcdmaQualcommService::kSlotCount;

    explicit CDownloadService(platform::Clock& clock = platform::SystemClock());
    virtual ~CDownloadService();
    CDownloadService(const CDownloadService&) = delete;
    CDownloadService& operator=(const CDownloadService&) = delete;

    // --- wiring (start-up) ---
    // Receiver of every notification; none: nothing is sent.
    void SetNotifier(Notifier* notifier) { notifier_ = notifier; }
    void SetNvSteps(NvSteps* steps) { nvSteps_ = steps; }
    config::DownloadServiceConfig& Config() { return config_; }
    const config::DownloadServiceConfig& Config() const { return config_; }
    device::CBIWcdmaQualcommService& Device() { return *device_; }
    // The slot's link; the slot must be 0..7.
    link::CPacket& Link(int slot);
    config::CLanguageManager& Language() { return *language_; }
    platform::Clock& Clock() { return clock_; }

    // --- actions ---
    int Download(PortContext& context);
    int Operation_Download(PortContext& context);
    int Operation_Repair(PortContext& context);
    int Operation_BackupNV(PortContext& context);
    int Operation_RestoreNV(PortContext& context);
    bool DownloadSoftware(PortContext& context);
    bool ReportDeviceVersion(int slot, int portNumber, std::string& text);
    bool ReopenLink(int slot, int portNumber);
    bool CheckPackageFiles();
    void AfterDownload(PortContext context);

    // --- the steps of the actions ---
    // Mode detection and the switch to download mode.
    bool DetectMode(int slot, device::VersionRecord& record);
    bool SwitchToDownloadMode(PortContext& context);
    bool CheckDownloadMode(int slot);
    bool CheckBootMode(int slot);
    // The flash programmer: written by the boot loader and started, or pulled by Sahara.
    bool LoadProgrammerDmss(int slot);
    bool StartProgrammer(PortContext& context);
    bool LoadProgrammerSahara(PortContext& context);
    // What the running programmer is sent.
    bool EnterSecurityMode(int slot, std::uint8_t trustMode);
    bool SendPartitionTable(int slot, std::uint32_t overrideFlag);
    bool OpenMultiImage(const config::DownloadFile& entry, int slot);
    bool DownloadImage(const config::DownloadFile& entry, int slot, ProgressState& progress);
    bool DownloadUrgentList(PortContext& context);
    // Back from the download mode.
    bool ResetMobileSDP(PortContext& context);
    bool ResetMobileDMP(int slot);
    bool FuncEnableDLMode(int slot);

    // --- reporting ---
    void LogLine(int slot, std::string_view text);
    void LogHint(int slot, std::string_view text);
    void NotifyProgress(int slot, int percent);
    void Notify(const Notification& notification);
    // The display text of a key (ID_HINT_*, ID_ERROR_*, ID_SUCCESS_*).
    std::string Text(std::string_view key) const;
    // LogLine / LogHint with a key's text.
    void LogKey(int slot, std::string_view key) { LogLine(slot, Text(key)); }
    void HintKey(int slot, std::string_view key) { LogHint(slot, Text(key)); }

    // --- state the NV steps share, per slot ---
    // The slot's last action wrote a fresh NV backup of the device to files. Only such a backup
    // may be kept for a resume: an older one in the work folder may be another router's.
    bool BackupTaken(int slot) const { return SlotState(slot).backupTaken; }
    bool WifiMacValid(int slot) const { return SlotState(slot).wifiMacValid != 0; }
    void SetWifiMacValid(int slot, bool valid) { SlotState(slot).wifiMacValid = valid ? 1 : 0; }
    // The action mode the slot's action runs (what its progress counts towards).
    int Operation(int slot) const { return SlotState(slot).operation; }
    void SetOperation(int slot, int actionMode) { SlotState(slot).operation = actionMode; }
    // The partition-table flag the slot's action sends: the configuration's, unless the action
    // keeps the router's table.
    std::int32_t PartitionDownload(int slot) const;
    // Where the slot's backup is taken before it becomes a pending copy: the work folder for
    // slot 0, a folder of its own inside it for every other slot, so that no two routers'
    // files ever meet.
    std::filesystem::path NvFolder(int slot) const;

    // --- the device's mode per slot, as the last detection found it ---
    struct SlotMode {
        bool bootMode = false;
        bool programmerMode = false;
        bool identified = false;
        bool saharaPending = false;
    };
    SlotMode ModeOf(int slot) const;
    // Another router (or none) is on the slot now: what detection learnt of the one before,
    // including a boot stage waiting for Sahara, does not hold for it.
    void ForgetDevice(int slot);

  private:
    // What an action changes, per slot.
    struct SlotAction {
        int operation = kActionDownload;
        bool keepsPartitionTable = false;
        SessionRecord nvRecord;
        std::uint8_t wifiMacValid = 1;
        bool backupTaken = false;
        std::uint16_t programmerStartSegment = 0;
    };
    SlotAction& SlotState(int slot) { return slots_.at(static_cast<std::size_t>(slot)); }
    const SlotAction& SlotState(int slot) const {
        return slots_.at(static_cast<std::size_t>(slot));
    }

    // One action's run: the device and folders it works on and its NV working record.
    struct ActionRun {
        PortContext& context;
        SessionRecord& record;
    };
    static int SlotOf(const PortContext& context) { return context.slot; }
    static int SlotOf(const ActionRun& run) { return run.context.slot; }

    // One step of a sequence: when it applies, it hints its key, sends its progress, runs, and
    // on failure logs its key and ends the sequence.
    static constexpr int kNoProgress = -1;
    template <typename Argument>
    struct Step {
        bool (CDownloadService::*when)(const Argument&) const = nullptr;  // nullptr: always
        std::string_view hintKey{};
        int progress = kNoProgress;
        bool (CDownloadService::*run)(Argument&) = nullptr;
        std::string_view failureKey{};
    };
    template <typename Argument, std::size_t N>
    bool RunSteps(const Step<Argument> (&steps)[N], Argument& argument) {
        const int slot = SlotOf(argument);
        for (const Step<Argument>& step : steps) {
            if (step.when != nullptr && !(this->*step.when)(argument)) {
                continue;
            }
            if (!step.hintKey.empty()) {
                HintKey(slot, step.hintKey);
            }
            if (step.progress != kNoProgress) {
                NotifyProgress(slot, step.progress);
            }
            if (!(this->*step.run)(argument)) {
                if (!step.failureKey.empty()) {
                    LogKey(slot, step.failureKey);
                }
                return false;
            }
        }
        return true;
    }

    static bool ValidSlot(int slot) { return slot >= 0 && slot < kSlotCount; }
    // ValidSlot, and a log line when it is not.
    bool KnownSlot(int slot);
    // The context's action on its (valid) slot, with the slot's action state set up.
    int RunAction(PortContext& context);
    // What a new port is given before it is opened: the udev rules that let the user open it
    // run as it appears.
    static constexpr std::chrono::milliseconds kPortSettle{100};
    // Device operation `number` on the slot's link; true on success.
    bool Run(int number, int slot);
    // A named wait, scaled.
    void Pause(std::chrono::milliseconds duration);
    // A wait that ends on the router's event: asks `ready` every 200 ms until it holds, for at
    // most `bound` (scaled), the fixed wait it stands for. True when it held.
    bool AwaitRouter(std::chrono::milliseconds bound, const std::function<bool()>& ready);
    void GrowModeTables(int slot);
    // Logs why the slot's port did not open, once per reason: the watcher reopens the port
    // every cycle, and a port held by another program is named once, not every few seconds.
    void ReportOpenFailure(int slot, const std::string& failure);
    void SetMode(int slot, bool bootMode, bool programmerMode);
    bool SaharaOption() const { return config_.saharaProgrammer != 0; }
    bool HighSpeedUsb() const { return config_.highSpeedUsb != 0; }
    bool WifiIdentityKept() const { return config_.nvOption == 2 && config_.ufi != 0; }
    std::filesystem::path ImageFolder() const { return config_.versionFilePath; }
    void LogLinkError(int slot);

    // The steps of the actions and their conditions (actions.cpp).
    bool ChecksDownloadMode(const ActionRun& run) const;
    bool BacksUpFirst(const ActionRun& run) const;
    bool Resumes(const ActionRun& run) const;
    bool SaharaPendingOnSlot(const ActionRun& run) const;
    bool KeepsNv(const ActionRun& run) const;
    bool KeepsBackup(const ActionRun& run) const;
    bool HasPendingCopy(const ActionRun& run) const;
    bool Proceed(ActionRun& run);
    bool ReadyToAct(ActionRun& run);
    bool PackageReady(ActionRun& run);
    bool StartsInNormalMode(ActionRun& run);
    bool DownloadModeConfirmed(ActionRun& run);
    bool ReadBarcodeUnchecked(ActionRun& run);
    bool InitRecord(ActionRun& run);
    bool BackupBeforeDownload(ActionRun& run);
    bool SaveWifiMac(ActionRun& run);
    bool RunDownloadSoftware(ActionRun& run);
    bool LeaveDownloadModes(ActionRun& run);
    bool ResetAndReopen(ActionRun& run);
    bool ReadNewVersion(ActionRun& run);
    bool KeepPendingCopy(ActionRun& run);
    // The saved backup of a resume or a restore: its NV item file and EFS folder are there, and
    // its Wi-Fi MAC is read into the record when the identity is kept.
    bool LoadSavedBackup(ActionRun& run);
    bool MarkRestoreStarted(ActionRun& run);
    bool RestoreOnce(ActionRun& run);
    bool RestoreWithRepetitions(ActionRun& run);
    bool FinishPendingCopy(ActionRun& run);
    bool WriteMacFile(ActionRun& run);
    bool RepairHasSomethingToDo(ActionRun& run);
    bool KeepPartitionTable(ActionRun& run);
    bool RepairPendingSahara(ActionRun& run);

    // The steps of DownloadSoftware and their conditions (download_software.cpp).
    bool InNormalMode(const PortContext& context) const;
    bool InBootLoaderWithoutSahara(const PortContext& context) const;
    bool ProgrammerNotRunning(const PortContext& context) const;
    bool ProgrammerToStart(const PortContext& context) const;
    bool ProgrammerRunning(const PortContext& context) const;
    bool OnBootLoaderRoute(const PortContext& context) const;
    bool SwitchFromNormalMode(PortContext& context);
    bool CheckBootLoaderAndPause(PortContext& context);
    bool LoadProgrammerByRoute(PortContext& context);
    bool TransferProgrammer(PortContext& context);
    bool ProbeRunningProgrammer(PortContext& context);
    bool EnterTrustMode(PortContext& context);
    bool SendConfiguredPartitionTable(PortContext& context);
    bool DownloadFileList(PortContext& context);
    // Writes every image of a list; the main list's lines tell more than the urgent list's.
    bool DownloadList(int slot, const std::vector<config::DownloadFile>& files, int base,
                      bool mainList);

    // Detection and the switch (mode_detection.cpp).
    bool FormatVersionText(const device::VersionRecord& record, std::string& text) const;
    // What the first probes of a device not identified yet found.
    enum class Probe { Known, Silent, Answered, SaharaHello };
    Probe ProbeNewDevice(int slot, int portNumber, device::VersionRecord& record);
    bool DetectSahara(int slot);
    bool ReadSaharaDeviceVersion(int slot, device::VersionRecord& record);
    bool ProbeNormalMode(int slot, device::VersionRecord& record);
    bool ReadVersionOrEsn(int slot, device::VersionRecord& record);
    bool BootLoaderAnswers(int slot);
    bool ProgrammerAnswers(int slot);
    bool SaharaHelloArrives(int slot);
    void PrepareSwitch(int slot);
    // Waits for the router's boot stage after the switch; true when it answered its probe.
    bool AwaitBootStage(const PortContext& context);
    bool FindPortAfterSwitch(PortContext& context);
    bool AwaitSaharaHello(PortContext& context);
    // Up to `tries` probes, the link reopened and 1 s waited after each miss.
    bool ProbeWithReopens(PortContext& context, int tries, bool (CDownloadService::*probe)(int));
    bool FindBootLoader(PortContext& context);

    // Follows a device that re-enumerates after the jump; true when its programmer answered
    // the hello (programmer_loading.cpp).
    bool FollowStartedProgrammer(PortContext& context);
    // Finds the router's port, opens the link there and greets the programmer; true when it
    // answered the hello.
    bool GreetProgrammer(PortContext& context);

    // The end of an update (device_reset.cpp).
    bool AutoRun(int slot);
    // Up to three attempts of `stage`, 1 s apart; each outcome logged when `name` is given.
    bool AfterDownloadStage(int slot, std::string_view name, bool (CDownloadService::*stage)(int));

    platform::Clock& clock_;
    Notifier* notifier_ = nullptr;
    NvSteps* nvSteps_ = nullptr;
    std::array<SlotAction, kSlotCount> slots_{};
    std::array<int, kSlotCount> saharaPending_{};
    std::array<std::string, kSlotCount> openFailures_;
    std::vector<int> bootMode_;
    std::vector<int> programmerMode_;
    std::vector<int> identified_;
    config::DownloadServiceConfig config_;
    // Held while the slot's router is probed or re-enumerates: nobody else may talk to it then.
    // Per slot, so one router's re-enumeration never holds up another's update.
    std::array<std::mutex, kSlotCount> slotLocks_;
    std::mutex packageCheckLock_;
    std::unique_ptr<device::CBIWcdmaQualcommService> device_;
    std::unique_ptr<config::CLanguageManager> language_;
};

}  // namespace tapfix::session
