#include "sim/flash_model.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <string_view>

#include "link/wire.hpp"

namespace tapfix::sim::flash {
namespace {

constexpr std::uint32_t kMagic1 = 0xAA7D1B9A;
constexpr std::uint32_t kMagic2 = 0x1F7D48BC;
constexpr std::uint32_t kVersion = 3;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kEntrySize = 28;
constexpr std::size_t kNameSize = 16;
constexpr std::uint32_t kRestOfFlash = 0xFFFFFFFF;
constexpr std::string_view kBuildIdTag = "QC_IMAGE_VERSION_STRING=";
constexpr std::size_t kMaxBuildId = 200;
// Where EFS2 keeps the item files (RF calibration, tcxomgr).
constexpr std::string_view kItemFiles = "nv/item_files/";

std::optional<Partition> ParseEntry(std::span<const std::uint8_t> entry) {
    const auto nameEnd = std::find(entry.begin(), entry.begin() + kNameSize, 0);
    const std::uint64_t start = *wire::ReadLe32(entry, kNameSize);
    const std::uint32_t length = *wire::ReadLe32(entry, kNameSize + 4);
    Partition partition{std::string(entry.begin(), nameEnd), start * kEraseBlock, 0};
    if (partition.name.empty() || partition.offset >= kFlashSize) {
        return std::nullopt;
    }
    const std::uint64_t room = kFlashSize - partition.offset;
    partition.capacity = length == kRestOfFlash ? room : length * kEraseBlock;
    if (partition.capacity > room) {
        return std::nullopt;
    }
    return partition;
}

}  // namespace

std::optional<std::vector<Partition>> ParsePartitionTable(std::span<const std::uint8_t> table) {
    if (wire::ReadLe32(table, 0) != kMagic1 || wire::ReadLe32(table, 4) != kMagic2 ||
        wire::ReadLe32(table, 8) != kVersion) {
        return std::nullopt;
    }
    const auto count = wire::ReadLe32(table, 12);
    if (!count || *count == 0 || *count > (table.size() - kHeaderSize) / kEntrySize) {
        return std::nullopt;
    }
    std::vector<Partition> partitions;
    for (std::size_t i = 0; i < *count; ++i) {
        auto partition = ParseEntry(table.subspan(kHeaderSize + i * kEntrySize, kEntrySize));
        if (!partition) {
            return std::nullopt;
        }
        partitions.push_back(std::move(*partition));
    }
    return partitions;
}

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        return {};
    }
    return ToHex({digest, length});
}

struct ImageBytes::Digest {
    Digest() : context(EVP_MD_CTX_new()) {
        if (context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
            EVP_MD_CTX_free(context);
            context = nullptr;
        }
    }
    ~Digest() { EVP_MD_CTX_free(context); }
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    EVP_MD_CTX* context;
};

ImageBytes::ImageBytes() : digest_(std::make_unique<Digest>()) {}
ImageBytes::~ImageBytes() = default;
ImageBytes::ImageBytes(ImageBytes&& other) noexcept = default;
ImageBytes& ImageBytes::operator=(ImageBytes&& other) noexcept = default;

void ImageBytes::Write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (data_.size() < offset + bytes.size()) {
        data_.resize(offset + bytes.size(), 0xFF);
    }
    std::copy(bytes.begin(), bytes.end(), data_.begin() + static_cast<std::ptrdiff_t>(offset));
    if (offset != hashed_ || digest_->context == nullptr) {
        inOrder_ = false;
    }
    if (inOrder_) {
        inOrder_ = EVP_DigestUpdate(digest_->context, bytes.data(), bytes.size()) == 1;
        hashed_ += bytes.size();
    }
}

std::string ImageBytes::Sha256Hex() const {
    if (!inOrder_ || hashed_ != data_.size()) {
        return flash::Sha256Hex(data_);
    }
    // Finished on a copy: the image may still grow.
    const Digest finished;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (finished.context == nullptr ||
        EVP_MD_CTX_copy_ex(finished.context, digest_->context) != 1 ||
        EVP_DigestFinal_ex(finished.context, digest, &length) != 1) {
        return flash::Sha256Hex(data_);
    }
    return ToHex({digest, length});
}

std::uint32_t UnitChecksum(std::span<const std::uint8_t> unit) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < unit.size(); at += 4) {
        std::uint32_t word = 0;
        for (std::size_t i = 0; i < 4 && at + i < unit.size(); ++i) {
            word |= static_cast<std::uint32_t>(unit[at + i]) << (8 * i);
        }
        sum += word;
    }
    return sum;
}

std::optional<std::string> FindBuildId(std::span<const std::uint8_t> image) {
    const auto tag =
        std::search(image.begin(), image.end(), kBuildIdTag.begin(), kBuildIdTag.end());
    if (tag == image.end()) {
        return std::nullopt;
    }
    const auto begin = tag + static_cast<std::ptrdiff_t>(kBuildIdTag.size());
    const auto limit = begin + std::min<std::ptrdiff_t>(kMaxBuildId, image.end() - begin);
    const auto end = std::find(begin, limit, 0);
    if (end == begin || end == limit) {
        return std::nullopt;
    }
    return std::string(begin, end);
}

void WipeCalibration(DeviceState& state) {
    state.nv = state.onboardBackup;
    std::erase_if(state.efs, [](const auto& file) { return file.first.starts_with(kItemFiles); });
}

void LosePower(DeviceState& state) {
    state.nv.clear();
    std::erase_if(state.efs, [](const auto& file) { return file.first.starts_with(kItemFiles); });
    state.versions = {};
    state.flash.clear();
    state.blank = true;
}

}  // namespace tapfix::sim::flash
