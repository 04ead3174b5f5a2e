#pragma once

#include <optional>
#include <vector>

#include "sim/diag_common.hpp"

namespace tapfix::sim {

// The firmware's vendor DIAG subsystems: the on-board NV backup service (0xF0), Wi-Fi
// configuration values (0xCD) and settings restore (0xD0), the Wi-Fi MAC requests
// (0xCE/0xCF, 0xFA, 0xD3, 0xC8), the special download-mode flag (0xAA), the autorun action
// (0xA1) and the partition table read (0xC9).
class VendorServices {
  public:
    // The answer, or nothing when the request's subsystem is none of these.
    std::optional<Bytes> Handle(diag::Exchange& exchange, const DeviceProfile& profile);

  private:
    struct OnboardResult {
        std::uint8_t state = 0;
        std::uint32_t first = 0;
        std::uint32_t second = 0;
    };
    struct OnboardList {
        bool collecting = false;
        unsigned sent = 0;
        unsigned parsed = 0;
        std::vector<std::uint32_t> items;
    };
    struct PendingWifiValue {
        std::uint8_t first = 0;
        std::uint8_t second = 0;
        Bytes data;
    };

    Bytes Onboard(diag::Exchange& exchange, const DeviceProfile& profile);
    Bytes OnboardListBatch(diag::Exchange& exchange, const DeviceProfile& profile);
    Bytes OnboardRestore(diag::Exchange& exchange, const DeviceProfile& profile);
    Bytes OnboardState(diag::Exchange& exchange);
    OnboardResult RunOnboardBackup(DeviceState& state) const;
    Bytes WifiValue(diag::Exchange& exchange);
    Bytes WifiRestore(diag::Exchange& exchange);
    Bytes Mac(diag::Exchange& exchange, int kind);
    // The special download-mode flag and the autorun action: one value byte kept as it is.
    Bytes StoreFlag(diag::Exchange& exchange, const char* name, std::uint8_t& flag);
    Bytes PartitionTable(diag::Exchange& exchange);

    OnboardList list_;
    std::optional<OnboardResult> result_;
    unsigned busyPolls_ = 0;
    std::optional<PendingWifiValue> pendingWifiValue_;
};

}  // namespace tapfix::sim
