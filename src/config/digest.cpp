#include "config/digest.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace tapfix::config {

struct CDigest::Context {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md{EVP_MD_CTX_new(), EVP_MD_CTX_free};
};

CDigest::CDigest(Kind kind) : context_(std::make_unique<Context>()) {
    const EVP_MD* algorithm = kind == Kind::Sha256 ? EVP_sha256() : EVP_sha512();
    ok_ = context_->md && EVP_DigestInit_ex(context_->md.get(), algorithm, nullptr) == 1;
}

CDigest::~CDigest() = default;

void CDigest::Update(std::string_view bytes) {
    ok_ = ok_ && EVP_DigestUpdate(context_->md.get(), bytes.data(), bytes.size()) == 1;
}

void CDigest::Update(std::span<const std::uint8_t> bytes) {
    ok_ = ok_ && EVP_DigestUpdate(context_->md.get(), bytes.data(), bytes.size()) == 1;
}

std::vector<std::uint8_t> CDigest::Final() {
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (!ok_ || EVP_DigestFinal_ex(context_->md.get(), digest.data(), &length) != 1) {
        return {};
    }
    ok_ = false;
    digest.resize(length);
    return digest;
}

std::string HexText(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

bool ReadInPieces(std::istream& in, std::uint64_t size,
                  const std::function<bool(std::string_view)>& sink) {
    constexpr std::uint64_t kPiece = 1024 * 1024;
    std::string piece;
    while (size > 0) {
        piece.resize(static_cast<std::size_t>(std::min(size, kPiece)));
        if (!in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || !sink(piece)) {
            return false;
        }
        size -= piece.size();
    }
    return true;
}

std::vector<std::uint8_t> FileDigest(CDigest::Kind kind, const std::filesystem::path& file,
                                     std::uint64_t length) {
    std::ifstream in(file, std::ios::binary);
    CDigest digest(kind);
    const bool read = in && ReadInPieces(in, length, [&](std::string_view piece) {
                          digest.Update(piece);
                          return true;
                      });
    return read ? digest.Final() : std::vector<std::uint8_t>();
}

}  // namespace tapfix::config
