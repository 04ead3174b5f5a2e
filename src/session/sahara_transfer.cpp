#include "session/sahara_transfer.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "device/sahara.hpp"

namespace tapfix::session {
namespace {

constexpr std::uint32_t kReadDataLength = 20;
constexpr std::uint32_t kEndOfImageLength = 16;
// A device may ask again, but not for ever: it is answered at most this many times the
// image (plus one largest request) in all.
constexpr std::uint64_t kMaxRereads = 8;

bool Fail(link::CPacket& packet, const std::string& reason) {
    packet.SetLastError(reason);
    return false;
}

std::uint32_t Word(const link::CPacket& packet, std::size_t index) {
    return device::SaharaWord(packet, index).value_or(0);
}

bool EndedWell(link::CPacket& packet, std::uint32_t imageId) {
    if (Word(packet, 2) != imageId) {
        return Fail(packet, "the device ended image " + std::to_string(Word(packet, 2)) +
                                " instead of image " + std::to_string(imageId));
    }
    if (Word(packet, 3) != 0) {
        return Fail(packet,
                    "the device ended the image with status " + std::to_string(Word(packet, 3)));
    }
    return true;
}

}  // namespace

bool ServeSaharaImage(link::CPacket& packet, std::span<const std::uint8_t> image,
                      std::uint32_t imageId) {
    const std::uint64_t budget = kMaxRereads * image.size() + kMaxSaharaChunk;
    std::uint64_t answered = 0;
    std::vector<std::uint8_t> chunk;
    for (;;) {
        if (!device::SaharaRead(packet)) {
            return false;
        }
        const std::uint32_t command = Word(packet, 0);
        const std::uint32_t length = Word(packet, 1);
        if (command == device::sahara::kEndOfImage && length == kEndOfImageLength) {
            return EndedWell(packet, imageId);
        }
        if (command != device::sahara::kReadData || length != kReadDataLength) {
            return Fail(packet, "unexpected Sahara message " + std::to_string(command) +
                                    " during the image transfer");
        }
        if (Word(packet, 2) != imageId) {
            return Fail(packet, "the device asked for image " + std::to_string(Word(packet, 2)) +
                                    " instead of image " + std::to_string(imageId));
        }
        const std::uint32_t offset = Word(packet, 3);
        const std::uint32_t size = Word(packet, 4);
        if (offset > image.size()) {
            return Fail(packet, "the device asked for offset " + std::to_string(offset) + " of a " +
                                    std::to_string(image.size()) + "-byte image");
        }
        if (size == 0 || size > kMaxSaharaChunk) {
            return Fail(packet, "the device asked for " + std::to_string(size) + " bytes at once");
        }
        answered += size;
        if (answered > budget) {
            return Fail(packet, "the device kept asking for more than the image holds");
        }
        chunk.assign(size, 0);
        const auto held = image.subspan(offset, std::min<std::size_t>(size, image.size() - offset));
        std::copy(held.begin(), held.end(), chunk.begin());
        if (!packet.WriteRaw(chunk)) {
            return false;
        }
    }
}

}  // namespace tapfix::session
