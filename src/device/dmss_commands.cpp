#include "device/dmss_commands.hpp"

#include <algorithm>
#include <string_view>

#include "device/loader_exchange.hpp"
#include "link/wire.hpp"

namespace tapfix::device {
namespace {

constexpr std::string_view kGoFailure = "Cannot begin execution at an address, Since %s";

bool Go(link::CPacket& packet, std::uint8_t code, std::uint16_t segment, std::uint32_t timeoutMs) {
    loader::Begin(packet, link::MODE_DMSS, code);
    wire::WriteLe16(packet.Request(), 1, segment);
    wire::WriteLe16(packet.Request(), 3, 0);
    return loader::Exchange(packet, 1, timeoutMs, kGoFailure);
}

}  // namespace

bool DmssNop(link::CPacket& packet) {
    loader::Begin(packet, link::MODE_DMSS, dmss::kNop);
    return loader::Exchange(packet, 1, 2000, "Cannot Do No Operation, Since %s");
}

bool GetFlashInfo(link::CPacket& packet, FlashInfoRecord& record) {
    record.fill(0);
    loader::Begin(packet, link::MODE_DMSS, dmss::kParameterRequest);
    if (!loader::Exchange(packet, 3, 2000, "Cannot Get flash Information, Since %s")) {
        return false;
    }
    // Only a parameter answer fills the record; anything else would hand over stale bytes.
    if (packet.Response()[0] == dmss::kParameters) {
        std::copy_n(packet.Response().begin(), record.size(), record.begin());
    }
    return true;
}

bool DmssGo(link::CPacket& packet, std::uint16_t segment) {
    return Go(packet, dmss::kGo, segment, 2000);
}

bool DmssGoWait(link::CPacket& packet, std::uint16_t segment) {
    return Go(packet, dmss::kGoWait, segment, 10000);
}

bool DmssWrite32(link::CPacket& packet, std::span<const std::uint8_t> data, std::uint32_t address) {
    constexpr std::string_view kFailure = "Write a Block of Data to Memory Failed, Since %s";
    loader::Begin(packet, link::MODE_DMSS, dmss::kWrite32);
    if (!loader::PutBlock(packet, address, data, kFailure)) {
        return false;
    }
    if (!loader::Exchange(packet, 1, 15000, kFailure)) {
        return false;
    }
    if (packet.Response()[0] != dmss::kAck) {
        packet.SetLastError("the boot loader did not acknowledge the block");
        return packet.FailWith(kFailure);
    }
    return true;
}

}  // namespace tapfix::device
