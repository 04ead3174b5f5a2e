#include "config/signing_keys.hpp"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <system_error>

#include "config/digest.hpp"
#include "config/download_config.hpp"
#include "platform/file_io.hpp"

namespace tapfix::config {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeader = "tapfix ";
constexpr std::string_view kPublicKind = "public";
constexpr std::string_view kPrivateKind = "private";
constexpr std::size_t kBase64KeyLength = 44;  // 32 bytes: 43 characters and one "="
constexpr std::size_t kMaxKeyFileBytes = 4096;

using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using MdContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string Base64(const KeyBytes& bytes) {
    std::string text(kBase64KeyLength + 1, '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                    static_cast<int>(bytes.size()));
    text.resize(kBase64KeyLength);
    return text;
}

std::optional<KeyBytes> DecodeBase64Key(std::string_view text) {
    if (text.size() != kBase64KeyLength || !text.ends_with('=') || text.ends_with("==")) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 33> decoded{};
    if (EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size())) != static_cast<int>(decoded.size())) {
        return std::nullopt;
    }
    KeyBytes key{};
    std::copy_n(decoded.begin(), key.size(), key.begin());
    return key;
}

std::optional<KeyId> ParseKeyId(std::string_view text) {
    KeyId id{};
    if (text.size() != id.size() * 2 ||
        text.find_first_not_of("0123456789abcdef") != std::string_view::npos) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < id.size(); ++i) {
        id[i] = ReadHex(text.substr(i * 2, 2));
    }
    return id;
}

bool IsUsableName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) > 0x20 && c != '\x7F';
    });
}

std::string KeyFileText(std::string_view kind, const KeyId& id, std::string_view name,
                        const KeyBytes& bytes) {
    return std::string(kHeader) + std::string(kind) + " key " + KeyIdText(id) + " " +
           std::string(name) + "\n" + Base64(bytes) + "\n";
}

// The id, name and key bytes of a key file of `kind`.
struct KeyFileFields {
    KeyId id{};
    std::string name;
    KeyBytes bytes{};
};

bool ParseKeyFile(std::string_view text, std::string_view kind, KeyFileFields& fields,
                  std::string& error) {
    const std::string prefix = std::string(kHeader) + std::string(kind) + " key ";
    const std::vector<std::string_view> lines = SplitPieces(text, '\n');
    const auto trimmed = [](std::string_view line) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        return line;
    };
    const std::string_view header = trimmed(lines[0]);
    if (lines.size() < 2 || !header.starts_with(prefix)) {
        error = "not a tapfix " + std::string(kind) + " key file";
        return false;
    }
    const std::string_view rest = header.substr(prefix.size());
    const std::size_t space = std::min(rest.find(' '), rest.size());
    const auto id = ParseKeyId(rest.substr(0, space));
    const auto bytes = DecodeBase64Key(trimmed(lines[1]));
    const std::string_view name = rest.substr(std::min(space + 1, rest.size()));
    if (!id || !bytes || !IsUsableName(name)) {
        error = "the " + std::string(kind) + " key file is damaged";
        return false;
    }
    fields = {*id, std::string(name), *bytes};
    return true;
}

bool ReadKeyFile(const fs::path& file, std::string& text, std::string& error) {
    return platform::ReadWholeFile(file, kMaxKeyFileBytes, text, error);
}

}  // namespace

KeyId KeyIdOf(const KeyBytes& publicKey) {
    CDigest digest(CDigest::Kind::Sha256);
    digest.Update(publicKey);
    const std::vector<std::uint8_t> sum = digest.Final();
    KeyId id{};
    std::copy_n(sum.begin(), std::min(sum.size(), id.size()), id.begin());
    return id;
}

std::string KeyIdText(const KeyId& id) {
    return HexText(id);
}

bool SigningKeyFromSeed(const KeyBytes& seed, std::string_view name, SigningKey& key,
                        std::string& error) {
    if (!IsUsableName(name)) {
        error = "a key name must be one word of printable characters";
        return false;
    }
    const PKey pkey(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()),
        EVP_PKEY_free);
    std::size_t length = key.publicKey.key.size();
    if (!pkey || EVP_PKEY_get_raw_public_key(pkey.get(), key.publicKey.key.data(), &length) != 1 ||
        length != key.publicKey.key.size()) {
        error = "the crypto library cannot make an Ed25519 key";
        return false;
    }
    key.seed = seed;
    key.publicKey.id = KeyIdOf(key.publicKey.key);
    key.publicKey.name = name;
    return true;
}

bool GenerateSigningKey(std::string_view name, SigningKey& key, std::string& error) {
    KeyBytes seed{};
    if (RAND_priv_bytes(seed.data(), static_cast<int>(seed.size())) != 1) {
        error = "the crypto library has no random bytes for a key";
        return false;
    }
    return SigningKeyFromSeed(seed, name, key, error);
}

bool SignMessage(const SigningKey& key, std::span<const std::uint8_t> message,
                 SignatureBytes& signature, std::string& error) {
    const PKey pkey(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, key.seed.data(), key.seed.size()),
        EVP_PKEY_free);
    const MdContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    std::size_t length = signature.size();
    if (!pkey || !context ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1 ||
        EVP_DigestSign(context.get(), signature.data(), &length, message.data(), message.size()) !=
            1 ||
        length != signature.size()) {
        error = "the crypto library cannot sign with key " + KeyIdText(key.publicKey.id);
        return false;
    }
    return true;
}

bool VerifyMessage(const PublicKey& key, std::span<const std::uint8_t> message,
                   const SignatureBytes& signature) {
    const PKey pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.key.data(), key.key.size()),
        EVP_PKEY_free);
    const MdContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return pkey && context &&
           EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) == 1 &&
           EVP_DigestVerify(context.get(), signature.data(), signature.size(), message.data(),
                            message.size()) == 1;
}

std::string PublicKeyText(const PublicKey& key) {
    return KeyFileText(kPublicKind, key.id, key.name, key.key);
}

std::string PrivateKeyText(const SigningKey& key) {
    return KeyFileText(kPrivateKind, key.publicKey.id, key.publicKey.name, key.seed);
}

bool ParsePublicKeyText(std::string_view text, PublicKey& key, std::string& error) {
    KeyFileFields fields;
    if (!ParseKeyFile(text, kPublicKind, fields, error)) {
        return false;
    }
    if (KeyIdOf(fields.bytes) != fields.id) {
        error = "the public key file's key id " + KeyIdText(fields.id) + " is not its key's";
        return false;
    }
    key = {fields.id, fields.bytes, fields.name};
    return true;
}

bool ParsePrivateKeyText(std::string_view text, SigningKey& key, std::string& error) {
    KeyFileFields fields;
    if (!ParseKeyFile(text, kPrivateKind, fields, error) ||
        !SigningKeyFromSeed(fields.bytes, fields.name, key, error)) {
        return false;
    }
    if (key.publicKey.id != fields.id) {
        error = "the private key file's key id " + KeyIdText(fields.id) + " is not its key's";
        return false;
    }
    return true;
}

bool WriteKeyPair(const fs::path& base, const SigningKey& key, std::string& error) {
    const fs::path privateFile = fs::path(base) += ".key";
    const fs::path publicFile = fs::path(base) += ".pub";
    for (const fs::path& file : {privateFile, publicFile}) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(file, ec))) {
            error = file.string() + " already exists: a key is never replaced";
            return false;
        }
    }
    return platform::WriteFileAtomically(privateFile, PrivateKeyText(key), error,
                                         platform::kPrivateFile) &&
           platform::WriteFileAtomically(publicFile, PublicKeyText(key.publicKey), error);
}

bool ReadSigningKey(const fs::path& file, SigningKey& key, std::string& error) {
    std::string text;
    if (!ReadKeyFile(file, text, error) || !ParsePrivateKeyText(text, key, error)) {
        error = file.string() + ": " + error;
        return false;
    }
    return true;
}

std::vector<fs::path> TrustedKeyFolders() {
    if (const char* override = std::getenv("TAPFIX_KEYS_PATH")) {
        std::vector<fs::path> folders;
        for (std::string_view folder : SplitPieces(override, ':')) {
            if (!folder.empty()) {
                folders.emplace_back(folder);
            }
        }
        return folders;
    }
    std::vector<fs::path> folders{"/usr/share/tapfix/keys", "/etc/tapfix/keys"};
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        folders.push_back(fs::path(xdg) / "tapfix" / "keys");
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        folders.push_back(fs::path(home) / ".config" / "tapfix" / "keys");
    }
    return folders;
}

const PublicKey* TrustedKeys::Find(const KeyId& id) const {
    const auto found =
        std::find_if(keys.begin(), keys.end(), [&](const PublicKey& key) { return key.id == id; });
    return found == keys.end() ? nullptr : &*found;
}

TrustedKeys LoadTrustedKeys(const std::vector<fs::path>& folders) {
    TrustedKeys trusted;
    for (const fs::path& folder : folders) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (fs::directory_iterator entry(folder, ec); !ec && entry != fs::directory_iterator();
             entry.increment(ec)) {
            if (entry->path().extension() == ".pub") {
                files.push_back(entry->path());
            }
        }
        if (ec && ec != std::errc::no_such_file_or_directory) {
            trusted.problems.push_back(folder.string() + ": cannot be read: " + ec.message());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            std::string text;
            std::string error;
            PublicKey key;
            if (ReadKeyFile(file, text, error) && ParsePublicKeyText(text, key, error)) {
                trusted.keys.push_back(std::move(key));
            } else {
                trusted.problems.push_back(file.string() + ": " + error);
            }
        }
    }
    return trusted;
}

}  // namespace tapfix::config
