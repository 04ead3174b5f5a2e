#pragma once

#include <array>
#include <filesystem>

#include "device/vendor.hpp"

namespace tapfix::session {

// The NV working record of one action: what the backup learnt that the restore needs.
struct SessionRecord {
    static constexpr std::size_t kBarcodeCapacity = 50;

    // The first 22 bytes of NV item 22, zero-padded.
    std::array<char, kBarcodeCapacity> barcode{};
    bool barcodeRead = false;
    // The device confirmed that it keeps its NV data itself across the download.
    bool onboardBackup = false;
    // The NV item file of this backup ("Channel0.nv" for slot 0).
    std::filesystem::path nvBackupFile;
    // Twelve upper-case hexadecimal digits and a terminating zero.
    device::MacText wifiMac{};
};

inline void InitSessionRecord(SessionRecord& record) {
    record = SessionRecord{};
}

}  // namespace tapfix::session
