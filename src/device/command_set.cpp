#include "device/command_set.hpp"

#include "device/diag_protocol.hpp"
#include "device/dmss_protocol.hpp"
#include "device/stream_protocol.hpp"

namespace tapfix::device {

void AttachCommandSet(link::CPacket& packet) {
    packet.SetProtocol(link::MODE_DIAG, &DiagProtocol());
    packet.SetProtocol(link::MODE_DMSS, &DmssProtocol());
    packet.SetProtocol(link::MODE_STREAM, &StreamProtocol());
}

}  // namespace tapfix::device
