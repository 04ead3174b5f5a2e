#include "session/download_service.hpp"

#include <algorithm>
#include <array>

#include "session/device_operations.hpp"

namespace tapfix::session {
namespace {

// Package-wide lines have no device of their own; they go with the slot the system uses.
constexpr int kPackageSlot = 0;
// How often a wait for the router looks: the Parts' own search interval.
constexpr std::chrono::milliseconds kRouterPoll{200};

// The programmers of the two routes, the partition table, then the file list: every file the
// download may need, in the order they are tested.
constexpr std::string_view kSaharaProgrammer = "armprg.bin";
constexpr std::string_view kBootProgrammer = "narmprg.bin";
constexpr std::string_view kPartitionTable = "partition.mbn";

bool PackageFilePresent(const std::filesystem::path& folder, const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        return false;
    }
    const auto path = file.is_absolute() ? file : folder / file;
    const bool regular = std::filesystem::is_regular_file(path, ec);
    return regular && std::filesystem::file_size(path, ec) > 1 && !ec;
}

}  // namespace

CDownloadService::CDownloadService(platform::Clock& clock)
    : clock_(clock),
      device_(std::make_unique<device::CBIWcdmaQualcommService>()),
      language_(std::make_unique<config::CLanguageManager>()) {
    // Sized once for every slot: workers of several slots read them at once, and a table
    // that grew under one of them would move beneath the others.
    GrowModeTables(kSlotCount - 1);
}

CDownloadService::~CDownloadService() = default;

link::CPacket& CDownloadService::Link(int slot) {
    return *device_->Link(slot);
}

void CDownloadService::Notify(const Notification& notification) {
    if (notifier_ != nullptr) {
        notifier_->Notify(notification);
    }
}

void CDownloadService::LogLine(int slot, std::string_view text) {
    Notify(TextNotification(kNotifyLog, slot, std::string(text)));
}

void CDownloadService::LogHint(int slot, std::string_view text) {
    Notify(TextNotification(kNotifyHint, slot, std::string(text), true));
}

void CDownloadService::NotifyProgress(int slot, int percent) {
    Notify(ValueNotification(kNotifyProgress, slot, percent));
}

void CDownloadService::LogLinkError(int slot) {
    LogLine(slot, Link(slot).LastError());
}

CDownloadService::SlotMode CDownloadService::ModeOf(int slot) const {
    const auto entry = [slot](const std::vector<int>& table) {
        return slot >= 0 && static_cast<std::size_t>(slot) < table.size() && table[slot] != 0;
    };
    SlotMode mode;
    mode.bootMode = entry(bootMode_);
    mode.programmerMode = entry(programmerMode_);
    mode.identified = entry(identified_);
    mode.saharaPending = ValidSlot(slot) && saharaPending_[slot] != 0;
    return mode;
}

void CDownloadService::GrowModeTables(int slot) {
    const std::size_t size = static_cast<std::size_t>(slot) + 1;
    for (std::vector<int>* table : {&bootMode_, &programmerMode_, &identified_}) {
        if (table->size() < size) {
            table->resize(size, 0);
        }
    }
}

void CDownloadService::ForgetDevice(int slot) {
    if (!ValidSlot(slot)) {
        return;
    }
    std::lock_guard lock(slotLocks_[static_cast<std::size_t>(slot)]);
    for (std::vector<int>* table : {&bootMode_, &programmerMode_, &identified_}) {
        (*table)[static_cast<std::size_t>(slot)] = 0;
    }
    saharaPending_[static_cast<std::size_t>(slot)] = 0;
}

void CDownloadService::SetMode(int slot, bool bootMode, bool programmerMode) {
    GrowModeTables(slot);
    bootMode_[slot] = bootMode ? 1 : 0;
    programmerMode_[slot] = programmerMode ? 1 : 0;
}

std::string CDownloadService::Text(std::string_view key) const {
    return language_->GetText(key);
}

bool CDownloadService::Run(int number, int slot) {
    return device_->RunSlotCommand(number, slot) == 0;
}

void CDownloadService::Pause(std::chrono::milliseconds duration) {
    clock_.Sleep(platform::ScaledWait(duration));
}

bool CDownloadService::AwaitRouter(std::chrono::milliseconds bound,
                                   const std::function<bool()>& ready) {
    const platform::TimePoint end = clock_.Now() + platform::ScaledWait(bound);
    for (;;) {
        if (ready()) {
            return true;
        }
        const platform::TimePoint now = clock_.Now();
        if (now >= end) {
            return false;
        }
        clock_.Sleep(std::min(platform::ScaledWait(kRouterPoll),
                              std::chrono::ceil<platform::Milliseconds>(end - now)));
    }
}

bool CDownloadService::ReopenLink(int slot, int portNumber) {
    if (!ValidSlot(slot)) {
        return false;
    }
    if (Run(op::kIsPortOpen, slot)) {
        Run(op::kClosePort, slot);
    }
    // A Sahara boot stage speaks first: its hello must survive the open.
    link::CPacket& link = Link(slot);
    const bool opened = SaharaOption() ? link.OpenPortNoDtr(portNumber) : link.OpenPort(portNumber);
    ReportOpenFailure(slot, opened ? std::string() : link.OpenFailure());
    return opened;
}

void CDownloadService::ReportOpenFailure(int slot, const std::string& failure) {
    std::string& last = openFailures_[static_cast<std::size_t>(slot)];
    if (!failure.empty() && failure != last) {
        LogLine(slot, "Cannot open the port: " + failure);
    }
    last = failure;
}

bool CDownloadService::CheckPackageFiles() {
    // Every slot's action checks the package, and the check names the programmers in the
    // configuration: one check at a time.
    std::lock_guard lock(packageCheckLock_);
    const std::filesystem::path folder = ImageFolder();
    const auto missing = [&](const std::filesystem::path& file) {
        if (PackageFilePresent(folder, file)) {
            return false;
        }
        LogLine(kPackageSlot, Text("ID_ERROR_FILEEXIT") + file.filename().string());
        return true;
    };
    config_.programmerFile = kSaharaProgrammer;
    if (missing(kSaharaProgrammer)) {
        return false;
    }
    config_.bootProgrammerFile = kBootProgrammer;
    if (missing(kBootProgrammer) || missing(kPartitionTable)) {
        return false;
    }
    return std::none_of(config_.files.begin(), config_.files.end(),
                        [&](const config::DownloadFile& entry) { return missing(entry.path); });
}

bool CDownloadService::KnownSlot(int slot) {
    if (!ValidSlot(slot)) {
        LogLine(slot, "No such slot: " + std::to_string(slot));
        return false;
    }
    return true;
}

std::int32_t CDownloadService::PartitionDownload(int slot) const {
    return SlotState(slot).keepsPartitionTable ? 0 : config_.partitionDownload;
}

std::filesystem::path CDownloadService::NvFolder(int slot) const {
    const std::filesystem::path workFolder(config_.nvFilePath);
    if (slot == 0) {
        return workFolder;
    }
    return workFolder / ("Slot" + std::to_string(slot)) / "";
}

int CDownloadService::Download(PortContext& context) {
    LogLine(context.slot, "CDownloadService::Download Enter");
    const int result = KnownSlot(context.slot) ? RunAction(context) : -1;
    LogLine(context.slot, "CDownloadService::Download Leave");
    return result;
}

int CDownloadService::RunAction(PortContext& context) {
    using Action = int (CDownloadService::*)(PortContext&);
    static constexpr std::array<Action, 4> kActions{
        &CDownloadService::Operation_Download, &CDownloadService::Operation_Repair,
        &CDownloadService::Operation_BackupNV, &CDownloadService::Operation_RestoreNV};

    SlotAction& state = SlotState(context.slot);
    state.operation = context.actionMode;
    state.backupTaken = false;
    // An action may keep this router's partition table (its on-board backup needs it); the
    // next router on the slot is not bound by that.
    state.keepsPartitionTable = false;
    int result = -1;
    if (context.actionMode >= 0 && static_cast<std::size_t>(context.actionMode) < kActions.size()) {
        result = (this->*kActions[static_cast<std::size_t>(context.actionMode)])(context);
    }
    state.keepsPartitionTable = false;
    return result;
}

}  // namespace tapfix::session
