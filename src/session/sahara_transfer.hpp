#pragma once

#include <cstdint>
#include <span>

#include "link/packet.hpp"

namespace tapfix::session {

// Answers a Sahara boot stage's read-data requests for image `imageId` from `image` until
// the device ends the transfer with a good end-of-image. Each request is answered from the
// offset and length it names, so a device that asks for a piece again or out of order (as
// boot ROMs do with ELF images) gets the right bytes; what a request asks for past the end of
// the image is sent as zeros. False, with the reason in the packet's LastError, on any other
// message, another image id, an offset past the end, a request of more than kMaxSaharaChunk,
// an end-of-image with a non-zero status, or a device that asks for far more than the image.
bool ServeSaharaImage(link::CPacket& packet, std::span<const std::uint8_t> image,
                      std::uint32_t imageId);

inline constexpr std::uint32_t kMaxSaharaChunk = 1024 * 1024;

}  // namespace tapfix::session
