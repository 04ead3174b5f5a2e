// What the running flash programmer is sent before and around the images.
#include <algorithm>
#include <array>

#include "device/stream_commands.hpp"
#include "session/download_service.hpp"
#include "session/file_bytes.hpp"
#include "session/image_transfers.hpp"

namespace tapfix::session {
namespace {

constexpr std::string_view kPartitionTable = "partition.mbn";
// The programmer takes a partition table, a header or a name of at most this many bytes.
constexpr std::size_t kOpenPayloadCapacity = 1024;

using TransferFunction = bool (*)(const ImageJob&);

struct TransferVariant {
    int dlType;
    TransferFunction transfer;
};

constexpr std::array<TransferVariant, 4> kTransfers{{
    {0, NormalTransfer},
    {1, PipelinedTransfer},
    {3, HighSpeedTransfer},
    {4, ChecksummedTransfer},
}};

}  // namespace

bool CDownloadService::EnterSecurityMode(int slot, std::uint8_t trustMode) {
    return device::StreamSecurityMode(Link(slot), trustMode);
}

bool CDownloadService::SendPartitionTable(int slot, std::uint32_t overrideFlag) {
    std::string error;
    // Never cut: a table that does not fit is not this device's table.
    const auto table = ReadFileBytes(ImageFolder() / kPartitionTable, kOpenPayloadCapacity, error);
    if (!table || table->empty()) {
        LogLine(slot, table ? std::string(kPartitionTable) + " is empty" : error);
        return false;
    }
    return device::StreamPartitionTable(Link(slot), *table, overrideFlag);
}

bool CDownloadService::OpenMultiImage(const config::DownloadFile& entry, int slot) {
    Bytes payload;
    if (entry.bHdFile == 1) {
        std::string error;
        auto header = ReadFileBytes(entry.path, kOpenPayloadCapacity, error);
        if (!header) {
            LogLine(slot, error);
            return false;
        }
        payload = std::move(*header);
    } else if (entry.OpenCode == 0) {
        return true;
    } else if (entry.bOpenMutilWithName != 0) {
        if (entry.partitionName.size() >= kOpenPayloadCapacity) {
            LogLine(slot, "Partition name too long: " + entry.partitionName);
            return false;
        }
        payload.assign(kOpenPayloadCapacity, 0);
        std::copy(entry.partitionName.begin(), entry.partitionName.end(), payload.begin());
    }
    if (!device::StreamOpenMultiImage(Link(slot), entry.OpenCode, payload)) {
        HintKey(slot, "ID_ERROR_OPENMULTI");
        return false;
    }
    return true;
}

bool CDownloadService::DownloadImage(const config::DownloadFile& entry, int slot,
                                     ProgressState& progress) {
    if (!OpenMultiImage(entry, slot)) {
        return false;
    }
    if (entry.bHdFile == 1) {
        return true;
    }
    const auto variant =
        std::find_if(kTransfers.begin(), kTransfers.end(),
                     [&](const TransferVariant& known) { return known.dlType == entry.dlType; });
    if (variant == kTransfers.end()) {
        LogLine(slot, entry.path.filename().string() + ": download type " +
                          std::to_string(entry.dlType) + " is not supported");
        return false;
    }
    return variant->transfer(ImageJob{*this, slot, entry, progress});
}

}  // namespace tapfix::session
