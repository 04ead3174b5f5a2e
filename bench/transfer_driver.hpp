#pragma once

#include <cstdint>
#include <span>

#include "host_script.hpp"

// How the benchmarks move an image to the flash programmer: the open, the transfer variant and
// the close, with the device operations as the download session drives them. The one place to
// switch to the session's own transfer code.
namespace tapfix::bench {

// Hello, security mode and a partition table whose one partition holds any image.
bool PrepareProgrammer(sim::host::HostLink& host);

bool TransferImage(sim::host::HostLink& host, sim::host::Transfer variant,
                   std::span<const std::uint8_t> image);

}  // namespace tapfix::bench
