// The signature block at the end of any file: absent, present or damaged, never read outside the
// file; a present block and the file before it add up to the whole file; reading only the
// file's tail finds what reading all of it finds; and nothing but the seeds' own signed package
// verifies against the seeds' key.
#include "config/signature.hpp"

#include <algorithm>
#include <fstream>

#include "config/package.hpp"
#include "fuzz_input.hpp"
#include "scratch_folder.hpp"

namespace tapfix::fuzz {
namespace {

namespace fs = std::filesystem;

const config::SigningKey& SeedKey() {
    static const config::SigningKey key = [] {
        config::KeyBytes seed{};
        seed.fill(0x5E);
        config::SigningKey made;
        std::string error;
        Require(config::SigningKeyFromSeed(seed, "fuzz", made, error));
        return made;
    }();
    return key;
}

fs::path Place(const std::string& name) {
    return ScratchFile("signature", name);
}

// A small package of the twenty files, signed with the seeds' key.
Bytes SignedPackage() {
    const fs::path firmware = Place("firmware");
    fs::create_directories(firmware);
    for (const config::PackageFile& file : config::PackageTable()) {
        std::ofstream(firmware / file.name) << file.name;
    }
    const config::PackSigning signing{&SeedKey(), config::SignatureComment("seed", "BV1", "now")};
    std::string error;
    Require(config::WritePackage({}, firmware, Place("seed.bin"), error, signing));
    return ReadBytes(Place("seed.bin"));
}

}  // namespace

std::vector<Bytes> Seeds() {
    const Bytes signed_ = SignedPackage();
    Bytes empty = signed_;
    std::fill(empty.end() - config::kSignatureFooterSize, empty.end() - 16, 0);
    Bytes longComment = signed_;
    longComment[longComment.size() - 16] = 0xFF;
    return {signed_, empty, longComment,
            Bytes(signed_.end() - config::kSignatureFooterSize, signed_.end())};
}

}  // namespace tapfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tapfix;
    using namespace tapfix::fuzz;
    const ConstBytes input(data, size);
    const config::BlockReading whole = config::ParseSignatureBlock(input, size);
    const config::BlockReading tail =
        config::ParseSignatureBlock(input.last(std::min(size, config::kMaxSignatureBlock)), size);
    Require(whole.presence == tail.presence && whole.problem == tail.problem);
    Require((whole.presence == config::BlockPresence::Damaged) == !whole.problem.empty());
    if (whole.presence == config::BlockPresence::Present) {
        const config::SignatureBlock& block = whole.block;
        Require(block.comment.size() <= config::kMaxCommentLength);
        Require(block.signedLength + config::kSignatureFooterSize + block.comment.size() == size);
    }
    const fs::path file = Place("input.bin");
    WriteBytes(file, input);
    config::TrustedKeys keys;
    keys.keys.push_back(SeedKey().publicKey);
    const config::SignatureCheck check = config::CheckPackageSignature(file, keys);
    if (check.state == config::SignatureState::Verified) {
        // Only the signed seed itself: every byte of it is covered.
        Require(ReadBytes(file) == Seeds().front());
    }
    return 0;
}
