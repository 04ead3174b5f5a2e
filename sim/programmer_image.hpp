#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "sim/device_state.hpp"

namespace tapfix::sim {

// A flash programmer image starts with the 40-byte image header: image id 7, header version,
// source, load address and the size of what follows the header (word 4).
inline constexpr std::size_t kProgrammerHeaderSize = 40;

// The whole length the header announces; nothing when it is no programmer's header.
std::optional<std::size_t> ProgrammerLength(std::span<const std::uint8_t> header);

// Why the boot stage will not run `image` as the flash programmer; empty when it will. With a
// reference (the package's programmer) the image must begin with exactly its bytes; without
// one it must hold a whole programmer image.
std::string ProgrammerRefusal(std::span<const std::uint8_t> image, const Bytes& reference);

}  // namespace tapfix::sim
