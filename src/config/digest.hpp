#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tapfix::config {

// A running SHA-256 or SHA-512 over bytes handed in pieces.
class CDigest {
  public:
    enum class Kind { Sha256, Sha512 };

    explicit CDigest(Kind kind);
    ~CDigest();
    CDigest(const CDigest&) = delete;
    CDigest& operator=(const CDigest&) = delete;

    void Update(std::string_view bytes);
    void Update(std::span<const std::uint8_t> bytes);
    // The digest; empty when the library failed.
    std::vector<std::uint8_t> Final();

  private:
    struct Context;
    std::unique_ptr<Context> context_;
    bool ok_ = false;
};

// Lower-case hexadecimal, two digits a byte.
std::string HexText(std::span<const std::uint8_t> bytes);

// Reads `size` bytes from the stream in pieces of at most 1 MiB, handing each to `sink`; false
// when the stream ends early or the sink says so.
bool ReadInPieces(std::istream& in, std::uint64_t size,
                  const std::function<bool(std::string_view)>& sink);

// The digest of the first `length` bytes of the file; empty when they cannot be read.
std::vector<std::uint8_t> FileDigest(CDigest::Kind kind, const std::filesystem::path& file,
                                     std::uint64_t length);

}  // namespace tapfix::config
