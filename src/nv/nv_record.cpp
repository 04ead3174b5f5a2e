#include "nv/nv_record.hpp"

#include <algorithm>

#include "device/nv_efs.hpp"
#include "link/wire.hpp"

namespace tapfix::nv {
namespace {

constexpr std::size_t kItemOffset = 0;
constexpr std::size_t kDataOffset = 4;
constexpr std::size_t kStatusOffset = 132;

constexpr std::array<std::string_view, 11> kStatusNames = {
    "Request completed OK",
    "Internal DMSS use",
    "Unrecognizable command",
    "NV memory is full",
    "Command failed",
    "Variable was not active",
    "Bad parameter in command block",
    "Item was read-only",
    "Item not defined for this target",
    "Free memory exhausted",
    "Internal use",
};

}  // namespace

NvRecordBytes EncodeNvRecord(const NvRecord& record) {
    NvRecordBytes bytes{};
    wire::WriteLe16(bytes, kItemOffset, record.item);
    std::copy(record.data.begin(), record.data.end(), bytes.begin() + kDataOffset);
    wire::WriteLe16(bytes, kStatusOffset, record.status);
    return bytes;
}

std::optional<NvRecord> DecodeNvRecord(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kNvRecordSize) {
        return std::nullopt;
    }
    NvRecord record;
    record.item = *wire::ReadLe16(bytes, kItemOffset);
    std::copy_n(bytes.begin() + kDataOffset, record.data.size(), record.data.begin());
    record.status = *wire::ReadLe16(bytes, kStatusOffset);
    return record;
}

std::string_view NvStatusName(std::uint16_t status) {
    if (status < kStatusNames.size()) {
        return kStatusNames[status];
    }
    return status == device::kNvStatusNoAnswer ? "NV_RWOPFAILED_S" : "Unknown status!";
}

}  // namespace tapfix::nv
