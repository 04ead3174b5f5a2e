#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/device_state.hpp"

// The router's NAND flash as the programmer sees it: the partitions of the table it was given
// and what a download does to the data kept outside the images.
namespace tapfix::sim::flash {

// Partition starts and lengths are counted in erase blocks of 64 pages of 2 KiB.
inline constexpr std::uint64_t kEraseBlock = 128 * 1024;
inline constexpr std::uint64_t kFlashSize = 512ULL * 1024 * 1024;

struct Partition {
    std::string name;
    std::uint64_t offset = 0;
    std::uint64_t capacity = 0;
};

// The partition table: magic words 0xAA7D1B9A and 0x1F7D48BC, version 3, the entry count,
// then per entry a 16-byte name, start and length in erase blocks and four attribute bytes.
// A length of 0xFFFFFFFF takes the rest of the flash. Nothing for a malformed table or one
// that does not fit the flash.
std::optional<std::vector<Partition>> ParsePartitionTable(std::span<const std::uint8_t> table);

std::string Sha256Hex(std::span<const std::uint8_t> bytes);

// An image as the programmer writes it: bytes at offsets, a gap filled with erased flash
// (0xFF). Bytes that extend the image in order are hashed as they come, so the digest of an
// image written front to back is ready when it is closed, as it would be on a device that
// hashes while it writes; writes out of order are hashed whole at the end.
class ImageBytes {
  public:
    ImageBytes();
    ~ImageBytes();
    ImageBytes(ImageBytes&& other) noexcept;
    ImageBytes& operator=(ImageBytes&& other) noexcept;

    void Write(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    const Bytes& Data() const { return data_; }
    // The SHA-256 of Data() in lower-case hex.
    std::string Sha256Hex() const;

  private:
    struct Digest;

    Bytes data_;
    std::unique_ptr<Digest> digest_;
    // Data() up to here is in the digest; false once a write went back or skipped ahead.
    std::uint64_t hashed_ = 0;
    bool inOrder_ = true;
};

// The checksum of a transfer unit: the sum modulo 2^32 of its 32-bit little-endian words, a
// final group of 1 to 3 bytes counting as a word of just those bytes.
std::uint32_t UnitChecksum(std::span<const std::uint8_t> unit);

// The build id the modem image carries after "QC_IMAGE_VERSION_STRING="; nothing when absent.
std::optional<std::string> FindBuildId(std::span<const std::uint8_t> image);

// A new partition table moves EFS2: NV items and the EFS item files go back to factory blank,
// except the items the on-board backup service kept, which it writes back.
void WipeCalibration(DeviceState& state);

// Power lost while an image was written: nothing bootable, no calibration, no identity.
void LosePower(DeviceState& state);

}  // namespace tapfix::sim::flash
