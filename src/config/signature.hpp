#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/signing_keys.hpp"

// The signature block that ends a signed package file or self-contained updater and covers
// every byte before it (for an updater: the program and its package). Layout, numbers
// little-endian:
//   comment          n bytes of UTF-8, lines "name=...", "build=...", "time=..."
//   key id           8 bytes
//   signature        64 bytes, Ed25519
//   comment length   u32 n, at most kMaxCommentLength
//   version          u32, 1
//   magic            "TAPFXSIG"
// What the key signs: the text "tapfix signature 1" and a zero byte, the SHA-512 of the bytes
// before the block, the key id, the comment length (u32) and the comment; so the comment is
// covered as well.
namespace tapfix::config {

inline constexpr std::size_t kSignatureFooterSize = 8 + 64 + 4 + 4 + 8;
inline constexpr std::size_t kMaxCommentLength = 4096;
inline constexpr std::size_t kMaxSignatureBlock = kSignatureFooterSize + kMaxCommentLength;

struct SignatureBlock {
    KeyId keyId{};
    SignatureBytes signature{};
    std::string comment;
    // The bytes before the block: what it signs.
    std::uint64_t signedLength = 0;
};

enum class BlockPresence { Absent, Present, Damaged };

struct BlockReading {
    BlockPresence presence = BlockPresence::Absent;
    SignatureBlock block;
    // Why a block is damaged (truncated, empty, unknown version).
    std::string problem;
};

// `tail` holds the last bytes of a file of `fileSize` bytes (all of them, or at least the last
// kMaxSignatureBlock). A file that does not end with the magic has no block; one that does but
// whose block is truncated, empty (a key id or signature of zeros) or of another version is
// damaged, never unsigned.
BlockReading ParseSignatureBlock(std::span<const std::uint8_t> tail, std::uint64_t fileSize);
BlockReading ReadSignatureBlock(const std::filesystem::path& file);

// The block that signs content whose SHA-512 is `contentDigest`.
bool MakeSignatureBlock(const SigningKey& key, std::span<const std::uint8_t> contentDigest,
                        std::string_view comment, std::vector<std::uint8_t>& block,
                        std::string& error);

std::string SignatureComment(std::string_view name, std::string_view buildId,
                             std::string_view time);
// The value of a "key=value" line of the comment; empty when it has none.
std::string CommentValue(std::string_view comment, std::string_view key);

enum class SignatureState { Unsigned, Verified, UntrustedKey, BadSignature, Damaged };

struct SignatureCheck {
    SignatureState state = SignatureState::Unsigned;
    // Of a signed file.
    std::string keyId;
    std::string comment;
    // Of a damaged block.
    std::string problem;
};

// Verifies the file's signature when its key is one of `keys`; a key that is not among them
// leaves it unchecked.
SignatureCheck CheckPackageSignature(const std::filesystem::path& file, const TrustedKeys& keys);

struct SignatureVerdict {
    bool accepted = false;
    // Why it was refused, or the warning that goes with accepting it; empty when all is well.
    std::string line;
};

// With trusted keys, only a package signed by one of them and verified is accepted (an
// unsigned one too with `allowUnsigned`); without any, an unsigned or unchecked package is
// accepted with a warning. A damaged block is always refused.
SignatureVerdict JudgeSignature(const SignatureCheck& check, bool keysTrusted, bool allowUnsigned);

// "signed by key 1f2e3d4c5b6a7988 (trusted): verified; name=... time=... build=...",
// "unsigned", ...
std::string DescribeSignature(const SignatureCheck& check);

// What the updater decides about a package file before it touches a router.
struct PackageTrust {
    SignatureCheck check;
    SignatureVerdict verdict;
    // Trusted key files that could not be used.
    std::vector<std::string> keyProblems;
    // The build id of a verified signature's comment; empty otherwise.
    std::string BuildId() const;
};

// Checks the file against the keys of TrustedKeyFolders() and judges it.
PackageTrust JudgePackage(const std::filesystem::path& file, bool allowUnsigned);

}  // namespace tapfix::config
