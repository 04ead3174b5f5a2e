#include "config/signature.hpp"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "config/digest.hpp"
#include "config/download_config.hpp"
#include "config/failure_text.hpp"
#include "link/wire.hpp"

namespace tapfix::config {
namespace {

constexpr std::string_view kMagic = "TAPFXSIG";
constexpr std::uint32_t kVersion = 1;
constexpr std::string_view kDomain{"tapfix signature 1\0", 19};
constexpr std::size_t kSha512Size = 64;
// A comment shown in a line of its own.
constexpr std::size_t kShownCommentLength = 120;

// Offsets of the footer's fields from the block's end.
constexpr std::size_t kKeyIdFromEnd = kSignatureFooterSize;
constexpr std::size_t kSignatureFromEnd = kKeyIdFromEnd - 8;
constexpr std::size_t kLengthFromEnd = kSignatureFromEnd - 64;
constexpr std::size_t kVersionFromEnd = kLengthFromEnd - 4;

BlockReading Damaged(std::string problem) {
    return {BlockPresence::Damaged, {}, "signature block " + std::move(problem)};
}

bool AllZero(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

std::vector<std::uint8_t> SignedMessage(std::span<const std::uint8_t> contentDigest,
                                        const KeyId& keyId, std::string_view comment) {
    std::vector<std::uint8_t> message(kDomain.begin(), kDomain.end());
    message.insert(message.end(), contentDigest.begin(), contentDigest.end());
    message.insert(message.end(), keyId.begin(), keyId.end());
    wire::AppendLe32(message, static_cast<std::uint32_t>(comment.size()));
    message.insert(message.end(), comment.begin(), comment.end());
    return message;
}

std::string SignedBy(const SignatureCheck& check) {
    return "signed by key " + check.keyId;
}

}  // namespace

BlockReading ParseSignatureBlock(std::span<const std::uint8_t> tail, std::uint64_t fileSize) {
    const std::size_t end = tail.size();
    if (end < kMagic.size() || fileSize < end ||
        !std::equal(kMagic.begin(), kMagic.end(), tail.end() - kMagic.size())) {
        return {};
    }
    if (end < kSignatureFooterSize) {
        return Damaged("is truncated");
    }
    const std::uint32_t version = *wire::ReadLe32(tail, end - kVersionFromEnd);
    const std::uint32_t length = *wire::ReadLe32(tail, end - kLengthFromEnd);
    if (version != kVersion) {
        return Damaged("has the unknown version " + std::to_string(version));
    }
    if (length > kMaxCommentLength || length > end - kSignatureFooterSize) {
        return Damaged("is truncated (its comment would start before the file)");
    }
    BlockReading reading{BlockPresence::Present, {}, {}};
    SignatureBlock& block = reading.block;
    const auto field = [&](std::size_t fromEnd, std::size_t size) {
        return tail.subspan(end - fromEnd, size);
    };
    std::ranges::copy(field(kKeyIdFromEnd, block.keyId.size()), block.keyId.begin());
    std::ranges::copy(field(kSignatureFromEnd, block.signature.size()), block.signature.begin());
    if (AllZero(block.keyId) || AllZero(block.signature)) {
        return Damaged("is empty: it holds no signature");
    }
    const auto comment = field(kKeyIdFromEnd + length, length);
    block.comment.assign(comment.begin(), comment.end());
    block.signedLength = fileSize - kSignatureFooterSize - length;
    return reading;
}

BlockReading ReadSignatureBlock(const std::filesystem::path& file) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || !in) {
        return Damaged("cannot be read");
    }
    std::vector<std::uint8_t> tail(
        static_cast<std::size_t>(std::min<std::uintmax_t>(size, kMaxSignatureBlock)));
    if (!in.seekg(static_cast<std::streamoff>(size - tail.size())) ||
        !in.read(reinterpret_cast<char*>(tail.data()), static_cast<std::streamsize>(tail.size()))) {
        return Damaged("cannot be read");
    }
    return ParseSignatureBlock(tail, size);
}

bool MakeSignatureBlock(const SigningKey& key, std::span<const std::uint8_t> contentDigest,
                        std::string_view comment, std::vector<std::uint8_t>& block,
                        std::string& error) {
    if (comment.size() > kMaxCommentLength) {
        error = "the signed comment is longer than " + std::to_string(kMaxCommentLength) + " bytes";
        return false;
    }
    if (contentDigest.size() != kSha512Size) {
        error = "the crypto library gave no SHA-512 of the signed bytes";
        return false;
    }
    SignatureBytes signature{};
    if (!SignMessage(key, SignedMessage(contentDigest, key.publicKey.id, comment), signature,
                     error)) {
        return false;
    }
    block.assign(comment.begin(), comment.end());
    block.insert(block.end(), key.publicKey.id.begin(), key.publicKey.id.end());
    block.insert(block.end(), signature.begin(), signature.end());
    wire::AppendLe32(block, static_cast<std::uint32_t>(comment.size()));
    wire::AppendLe32(block, kVersion);
    block.insert(block.end(), kMagic.begin(), kMagic.end());
    return true;
}

std::string SignatureComment(std::string_view name, std::string_view buildId,
                             std::string_view time) {
    std::string comment = "name=" + std::string(name) + "\ntime=" + std::string(time);
    if (!buildId.empty()) {
        comment += "\nbuild=" + std::string(buildId);
    }
    return comment;
}

std::string CommentValue(std::string_view comment, std::string_view key) {
    const std::string prefix = std::string(key) + "=";
    for (std::string_view line : SplitPieces(comment, '\n')) {
        if (line.starts_with(prefix)) {
            return std::string(line.substr(prefix.size()));
        }
    }
    return {};
}

SignatureCheck CheckPackageSignature(const std::filesystem::path& file, const TrustedKeys& keys) {
    const BlockReading reading = ReadSignatureBlock(file);
    SignatureCheck check;
    if (reading.presence != BlockPresence::Present) {
        check.state = reading.presence == BlockPresence::Absent ? SignatureState::Unsigned
                                                                : SignatureState::Damaged;
        check.problem = reading.problem;
        return check;
    }
    const SignatureBlock& block = reading.block;
    check.keyId = KeyIdText(block.keyId);
    check.comment = block.comment;
    const PublicKey* key = keys.Find(block.keyId);
    if (key == nullptr) {
        check.state = SignatureState::UntrustedKey;
        return check;
    }
    const std::vector<std::uint8_t> digest =
        FileDigest(CDigest::Kind::Sha512, file, block.signedLength);
    const bool verified =
        digest.size() == kSha512Size &&
        VerifyMessage(*key, SignedMessage(digest, block.keyId, block.comment), block.signature);
    check.state = verified ? SignatureState::Verified : SignatureState::BadSignature;
    return check;
}

SignatureVerdict JudgeSignature(const SignatureCheck& check, bool keysTrusted, bool allowUnsigned) {
    switch (check.state) {
        case SignatureState::Verified:
            return {true, {}};
        case SignatureState::Unsigned:
            if (!keysTrusted) {
                return {true, "warning: the package is not signed (no trusted keys are installed)"};
            }
            if (allowUnsigned) {
                return {true, "the package is not signed; accepted because of --allow-unsigned"};
            }
            return {false,
                    "the package is not signed, and only signed packages are accepted here "
                    "(--allow-unsigned to accept it)"};
        case SignatureState::UntrustedKey:
            if (!keysTrusted) {
                return {true, "warning: the package is " + SignedBy(check) +
                                  ", but no trusted keys are installed: the signature was not "
                                  "checked"};
            }
            return {false, "the package is " + SignedBy(check) + ", which is not a trusted key"};
        case SignatureState::BadSignature:
            return {false, "the package's signature by key " + check.keyId +
                               " does not verify: the file was changed after it was signed"};
        case SignatureState::Damaged:
            break;
    }
    return {false, "the package's " + check.problem};
}

std::string DescribeSignature(const SignatureCheck& check) {
    std::string text;
    switch (check.state) {
        case SignatureState::Unsigned:
            return "unsigned";
        case SignatureState::Damaged:
            return check.problem;
        case SignatureState::Verified:
            text = SignedBy(check) + " (trusted): verified";
            break;
        case SignatureState::UntrustedKey:
            text = SignedBy(check) + " (not trusted): not checked";
            break;
        case SignatureState::BadSignature:
            text = SignedBy(check) + " (trusted): does NOT verify";
            break;
    }
    std::string comment = check.comment;
    std::replace(comment.begin(), comment.end(), '\n', ' ');
    return text + "; " + Excerpt(comment, kShownCommentLength);
}

std::string PackageTrust::BuildId() const {
    return check.state == SignatureState::Verified ? CommentValue(check.comment, "build") : "";
}

PackageTrust JudgePackage(const std::filesystem::path& file, bool allowUnsigned) {
    const TrustedKeys keys = LoadTrustedKeys(TrustedKeyFolders());
    PackageTrust trust;
    trust.check = CheckPackageSignature(file, keys);
    trust.verdict = JudgeSignature(trust.check, keys.Any(), allowUnsigned);
    trust.keyProblems = keys.problems;
    return trust;
}

}  // namespace tapfix::config
