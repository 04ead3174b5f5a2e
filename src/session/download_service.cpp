#include "session/download_service.hpp"

namespace tapfix::session {

CDownloadService::CDownloadService(platform::Clock& clock)
    : clock_(clock),
      device_(std::make_unique<device::CBIWcdmaQualcommService>()),
      language_(std::make_unique<config::CLanguageManager>()) {}

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

CDownloadService::SlotMode CDownloadService::ModeOf(int slot) const {
    const auto entry = [slot](const std::vector<int>& table) {
        return slot >= 0 && static_cast<std::size_t>(slot) < table.size() && table[slot] != 0;
    };
    SlotMode mode;
    mode.bootMode = entry(bootMode_);
    mode.programmerMode = entry(programmerMode_);
    mode.identified = entry(identified_);
    mode.saharaPending = slot >= 0 && slot < kSlotCount && saharaPending_[slot] != 0;
    return mode;
}

std::string CDownloadService::Text(std::string_view key) const {
    return language_->GetText(key);
}

}  // namespace tapfix::session
