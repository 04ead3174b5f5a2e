#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tapfix::session {

using Bytes = std::vector<std::uint8_t>;

// A whole file of at most `maxBytes`; nothing (with the reason) when it cannot be read or is
// longer.
std::optional<Bytes> ReadFileBytes(const std::filesystem::path& file, std::size_t maxBytes,
                                   std::string& error);

// An image read piece by piece from a file, so large images never sit in memory whole.
class ImageFile {
  public:
    // False when the file cannot be opened.
    bool Open(const std::filesystem::path& file);
    std::uint64_t Length() const { return length_; }
    // Reads `into.size()` bytes from `offset`; false when the file does not hold them all.
    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> into);

  private:
    std::ifstream stream_;
    std::uint64_t length_ = 0;
};

}  // namespace tapfix::session
