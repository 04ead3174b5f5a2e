#pragma once

#include "link/packet.hpp"

namespace tapfix::device {

// Gives a link the DIAG, boot-loader and streaming request builders and answer parsers.
void AttachCommandSet(link::CPacket& packet);

}  // namespace tapfix::device
