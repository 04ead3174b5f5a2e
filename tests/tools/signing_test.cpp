#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "config/package.hpp"
#include "config/signature.hpp"
#include "reference/firmware.hpp"
#include "support/file_bytes.hpp"
#include "support/scoped_environment.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::config {
namespace {

using State = SignatureState;

SigningKey MakeKey(std::string_view name) {
    SigningKey key;
    std::string error;
    EXPECT_TRUE(GenerateSigningKey(name, key, error)) << error;
    return key;
}

// The reference firmware packed into a small program and signed by the publisher's key.
class SignedPackage : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(reference::GenerateReferenceFirmware({Firmware(), false, "BUILD-7"}, error))
            << error;
        test::WriteFileBytes(dir.Path() / "program",
                             "\x7F"
                             "ELF program bytes");
        const PackSigning signing{&publisher, SignatureComment("update", "BUILDV7", "now")};
        ASSERT_TRUE(WritePackage(dir.Path() / "program", Firmware(), Signed(), error, signing))
            << error;
        ASSERT_TRUE(WritePackage(dir.Path() / "program", Firmware(), Unsigned(), error)) << error;
        trusted.keys.push_back(publisher.publicKey);
    }
    std::filesystem::path Firmware() const { return dir.Path() / "firmware"; }
    std::filesystem::path Signed() const { return dir.Path() / "signed"; }
    std::filesystem::path Unsigned() const { return dir.Path() / "unsigned"; }

    // What the updater makes of these bytes as its package: opened and judged.
    SignatureCheck Judge(const std::string& bytes, const TrustedKeys& keys, bool allowUnsigned,
                         bool& accepted) {
        const std::filesystem::path file = dir.Path() / "judged";
        test::WriteFileBytes(file, bytes);
        CFirmwarePackage package;
        const SignatureCheck check = CheckPackageSignature(file, keys);
        accepted = package.Open(file) && JudgeSignature(check, keys.Any(), allowUnsigned).accepted;
        return check;
    }

    test::TempDir dir;
    SigningKey publisher = MakeKey("publisher");
    TrustedKeys trusted;
};

TEST_F(SignedPackage, VerifiesAndEveryFlippedByteIsRefused) {
    const std::string bytes = test::ReadFileBytes(Signed());
    bool accepted = false;
    const SignatureCheck good = Judge(bytes, trusted, false, accepted);
    EXPECT_EQ(good.state, State::Verified);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(CommentValue(good.comment, "build"), "BUILDV7");

    const std::size_t end = bytes.size();
    const std::size_t block = end - kSignatureFooterSize;
    const std::size_t comment = block - good.comment.size();
    const struct {
        const char* where;
        std::size_t offset;
        State state;
    } cases[] = {
        {"program", 1, State::BadSignature},
        {"firmware image", bytes.size() / 2, State::BadSignature},
        {"package trailer", comment - 3, State::BadSignature},
        {"signed comment", comment + 2, State::BadSignature},
        {"key id", block + 2, State::UntrustedKey},
        {"signature", block + 40, State::BadSignature},
        {"comment length", end - 16, State::BadSignature},
        {"comment length beyond the file", end - 13, State::Damaged},
        {"block version", end - 12, State::Damaged},
        {"block magic", end - 1, State::Unsigned},
    };
    for (const auto& c : cases) {
        std::string flipped = bytes;
        flipped[c.offset] ^= 0x01;
        const SignatureCheck check = Judge(flipped, trusted, true, accepted);
        EXPECT_EQ(check.state, c.state) << c.where;
        EXPECT_FALSE(accepted) << c.where;
    }
}

TEST_F(SignedPackage, RefusalsWhereAKeyIsTrustedAndWarningsWhereNoneIs) {
    const std::string signedBytes = test::ReadFileBytes(Signed());
    std::string empty = signedBytes;
    std::fill(empty.end() - kSignatureFooterSize, empty.end() - 16, '\0');
    const SigningKey stranger = MakeKey("stranger");
    const PackSigning foreign{&stranger, "name=update"};
    std::string error;
    ASSERT_TRUE(WritePackage({}, Firmware(), dir.Path() / "foreign", error, foreign)) << error;
    const TrustedKeys none;
    const struct {
        const char* what;
        std::string bytes;
        const TrustedKeys& keys;
        bool allowUnsigned;
        State state;
        bool accepted;
    } cases[] = {
        {"unsigned, key trusted", test::ReadFileBytes(Unsigned()), trusted, false, State::Unsigned,
         false},
        {"unsigned, key trusted, --allow-unsigned", test::ReadFileBytes(Unsigned()), trusted, true,
         State::Unsigned, true},
        {"unsigned, no key", test::ReadFileBytes(Unsigned()), none, false, State::Unsigned, true},
        {"empty block", empty, trusted, true, State::Damaged, false},
        {"empty block, no key", empty, none, true, State::Damaged, false},
        {"truncated block", signedBytes.substr(0, signedBytes.size() - 20), trusted, true,
         State::Unsigned, false},
        {"signed by another key", test::ReadFileBytes(dir.Path() / "foreign"), trusted, true,
         State::UntrustedKey, false},
        {"signed, no key", signedBytes, none, false, State::UntrustedKey, true},
    };
    for (const auto& c : cases) {
        bool accepted = false;
        EXPECT_EQ(Judge(c.bytes, c.keys, c.allowUnsigned, accepted).state, c.state) << c.what;
        EXPECT_EQ(accepted, c.accepted) << c.what;
    }
}

TEST_F(SignedPackage, RepackingASignedProgramReplacesPackageAndSignature) {
    std::string error;
    ASSERT_TRUE(WritePackage(Signed(), Firmware(), dir.Path() / "repacked", error)) << error;
    EXPECT_EQ(test::ReadFileBytes(dir.Path() / "repacked"), test::ReadFileBytes(Unsigned()));
}

TEST(SigningKeys, KeyFilesRoundTripAndDamagedOnesAreRefused) {
    test::TempDir dir;
    const SigningKey key = MakeKey("publisher");
    std::string error;
    ASSERT_TRUE(WriteKeyPair(dir.Path() / "publisher", key, error)) << error;
    struct stat info {};
    ASSERT_EQ(::stat((dir.Path() / "publisher.key").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u) << "the private key is its owner's only";
    EXPECT_FALSE(WriteKeyPair(dir.Path() / "publisher", MakeKey("other"), error));
    SigningKey read;
    ASSERT_TRUE(ReadSigningKey(dir.Path() / "publisher.key", read, error)) << error;
    EXPECT_EQ(read.seed, key.seed);

    const std::string text = test::ReadFileBytes(dir.Path() / "publisher.pub");
    const std::string id = KeyIdText(key.publicKey.id);
    std::string otherId = text;
    otherId[otherId.find(id)] ^= 1;
    std::string shortKey = text;
    shortKey.erase(shortKey.size() - 4, 2);
    for (const std::string& damaged :
         {otherId, shortKey, std::string("tapfix private") + text.substr(13), std::string()}) {
        PublicKey parsed;
        EXPECT_FALSE(ParsePublicKeyText(damaged, parsed, error)) << damaged;
    }

    // A trusted folder's broken key still counts: it never turns checking off.
    test::WriteFileBytes(dir.Path() / "broken.pub", otherId);
    const test::ScopedEnvironment keys("TAPFIX_KEYS_PATH", dir.Path().string() + ":/absent");
    const TrustedKeys trusted = LoadTrustedKeys(TrustedKeyFolders());
    ASSERT_EQ(trusted.keys.size(), 1u);
    EXPECT_NE(trusted.Find(key.publicKey.id), nullptr);
    EXPECT_EQ(trusted.problems.size(), 1u);
}

}  // namespace
}  // namespace tapfix::config
