#pragma once

#include <array>
#include <cstdint>
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
#include "session/session_record.hpp"

namespace tapfix::session {

// The download session: takes a connected router from its normal mode to freshly written
// firmware and back, with its calibration data preserved. One object per process; one action
// runs at a time, on the update worker's thread.
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

    // --- reporting ---
    void LogLine(int slot, std::string_view text);
    void LogHint(int slot, std::string_view text);
    void NotifyProgress(int slot, int percent);
    void Notify(const Notification& notification);
    // The display text of a key (ID_HINT_*, ID_ERROR_*, ID_SUCCESS_*).
    std::string Text(std::string_view key) const;

    // --- state the NV steps share ---
    bool WifiMacValid() const { return wifiMacValid_ != 0; }
    void SetWifiMacValid(bool valid) { wifiMacValid_ = valid ? 1 : 0; }

    // --- the device's mode per slot, as the last detection found it ---
    struct SlotMode {
        bool bootMode = false;
        bool programmerMode = false;
        bool identified = false;
        bool saharaPending = false;
    };
    SlotMode ModeOf(int slot) const;

  private:
    platform::Clock& clock_;
    Notifier* notifier_ = nullptr;
    NvSteps* nvSteps_ = nullptr;
    std::uint16_t programmerStartSegment_ = 0;
    SessionRecord nvRecord_;
    std::uint8_t wifiMacValid_ = 1;
    std::array<int, kSlotCount> saharaPending_{};
    std::vector<int> bootMode_;
    std::vector<int> programmerMode_;
    std::vector<int> identified_;
    config::DownloadServiceConfig config_;
    std::mutex serviceLock_;
    std::unique_ptr<device::CBIWcdmaQualcommService> device_;
    std::unique_ptr<config::CLanguageManager> language_;
};

}  // namespace tapfix::session
