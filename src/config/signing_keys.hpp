#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The publisher's Ed25519 keys: making and reading key files, signing, verifying, and the
// public keys a user trusts.
//
// A key file is two lines of text: a header, then the 32-byte key in base64.
//   tapfix public key 1f2e3d4c5b6a7988 publisher
//   <base64 of the public key>
// The private key file says "private" and holds the key's 32-byte seed; it is readable by its
// owner only. The key id is the first 8 bytes of the SHA-256 of the public key, in hex.
namespace tapfix::config {

using KeyId = std::array<std::uint8_t, 8>;
using KeyBytes = std::array<std::uint8_t, 32>;
using SignatureBytes = std::array<std::uint8_t, 64>;

struct PublicKey {
    KeyId id{};
    KeyBytes key{};
    std::string name;
};

struct SigningKey {
    PublicKey publicKey;
    KeyBytes seed{};
};

KeyId KeyIdOf(const KeyBytes& publicKey);
std::string KeyIdText(const KeyId& id);

bool SigningKeyFromSeed(const KeyBytes& seed, std::string_view name, SigningKey& key,
                        std::string& error);
bool GenerateSigningKey(std::string_view name, SigningKey& key, std::string& error);
bool SignMessage(const SigningKey& key, std::span<const std::uint8_t> message,
                 SignatureBytes& signature, std::string& error);
bool VerifyMessage(const PublicKey& key, std::span<const std::uint8_t> message,
                   const SignatureBytes& signature);

std::string PublicKeyText(const PublicKey& key);
std::string PrivateKeyText(const SigningKey& key);
bool ParsePublicKeyText(std::string_view text, PublicKey& key, std::string& error);
bool ParsePrivateKeyText(std::string_view text, SigningKey& key, std::string& error);

// Writes <base>.key (mode 0600) and <base>.pub; refuses to replace either.
bool WriteKeyPair(const std::filesystem::path& base, const SigningKey& key, std::string& error);
bool ReadSigningKey(const std::filesystem::path& file, SigningKey& key, std::string& error);

// Where trusted public keys (*.pub) are looked for: /usr/share/tapfix/keys (the Debian
// package's, empty), /etc/tapfix/keys and $XDG_CONFIG_HOME/tapfix/keys. For tests only,
// TAPFIX_KEYS_PATH (folders separated by ":") replaces the list.
std::vector<std::filesystem::path> TrustedKeyFolders();

struct TrustedKeys {
    std::vector<PublicKey> keys;
    // Key files that could not be used, each with why; they still count as present, so a
    // broken key never turns signature checking off.
    std::vector<std::string> problems;

    bool Any() const { return !keys.empty() || !problems.empty(); }
    const PublicKey* Find(const KeyId& id) const;
};

TrustedKeys LoadTrustedKeys(const std::vector<std::filesystem::path>& folders);

}  // namespace tapfix::config
