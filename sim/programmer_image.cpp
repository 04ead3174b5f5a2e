#include "sim/programmer_image.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "link/wire.hpp"
#include "sim/mode_handler.hpp"

namespace tapfix::sim {
namespace {

constexpr std::uint32_t kProgrammerImageId = 7;
// The boot stage's RAM cannot hold more.
constexpr std::size_t kMaxProgrammer = 4 * 1024 * 1024;

bool ReadWhole(const std::filesystem::path& file, Bytes& bytes, std::string* error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        *error = "cannot read " + file.string();
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        *error = file.string() + " is empty";
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::size_t> ProgrammerLength(std::span<const std::uint8_t> header) {
    const auto body = wire::ReadLe32(header, 16);
    if (wire::ReadLe32(header, 0) != kProgrammerImageId || !body ||
        *body > kMaxProgrammer - kProgrammerHeaderSize) {
        return std::nullopt;
    }
    return kProgrammerHeaderSize + *body;
}

std::string ProgrammerRefusal(std::span<const std::uint8_t> image, const Bytes& reference) {
    if (!reference.empty()) {
        const bool same = image.size() >= reference.size() &&
                          std::equal(reference.begin(), reference.end(), image.begin());
        return same ? "" : "the image is not the programmer of the package";
    }
    const auto length = ProgrammerLength(image);
    if (!length) {
        return "no programmer image header";
    }
    return *length <= image.size() ? "" : "the programmer image is incomplete";
}

bool LoadProgrammers(const std::filesystem::path& folder, DeviceProfile& profile,
                     std::string* error) {
    return ReadWhole(folder / "narmprg.bin", profile.dmssProgrammer, error) &&
           ReadWhole(folder / "armprg.bin", profile.saharaProgrammer, error);
}

}  // namespace tapfix::sim
