#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/packet.hpp"

// The host's side of a download, scripted with the device command set: what the download
// session will do, kept to the steps the simulator's tests and benchmark need. Every step
// returns false with the reason in the link's LastError.
namespace tapfix::sim::host {

using Bytes = std::vector<std::uint8_t>;

// The host's link with the command set attached and the raw write the transfers of whole
// blocks need.
class HostLink : public link::CPacket {
  public:
    HostLink();
};

enum class OpenBy { Name, Type, Header };
enum class Transfer { Normal, Pipelined, Checksummed, HighSpeed };

struct ImagePlan {
    std::string file;
    std::uint8_t type = 0x0E;
    std::string partition;  // OpenBy::Name
    OpenBy openBy = OpenBy::Name;
    Transfer transfer = Transfer::Checksummed;
};

Bytes ReadFile(const std::filesystem::path& file);

// Boot loader: writes the programmer in 1,024-byte blocks at its load address (the segment at
// bytes 14..15, most significant first, shifted by 16), then jumps and probes the programmer.
bool LoadProgrammerDmss(HostLink& host, const Bytes& programmer);
bool StartProgrammerDmss(HostLink& host, const Bytes& programmer);
// Sahara: answers the hello, serves the read-data requests in sequence, checks the end of the
// image for `imageId`, sends done.
bool LoadProgrammerSahara(HostLink& host, const Bytes& programmer, std::uint32_t imageId);

// Hello, security mode 1 and the partition table.
bool BeginStreaming(HostLink& host, const Bytes& table, std::uint32_t overrideFlag);
// Opens and transfers one image and closes it (a header-only open sends nothing else).
bool SendImage(HostLink& host, const std::filesystem::path& folder, const ImagePlan& plan);
bool SendImageBytes(HostLink& host, const ImagePlan& plan, std::span<const std::uint8_t> image);
// The raw transfer of 0x28 (checksummed blocks) or 0x1D (high-speed segments), without the
// open and the close.
bool RawTransfer(HostLink& host, std::uint8_t code, std::span<const std::uint8_t> image);

// The unit checksum as the host computes it.
std::uint32_t Checksum(std::span<const std::uint8_t> unit);

// A partition table (the programmer's layout) with one partition, `name`, over the whole flash.
Bytes OnePartitionTable(std::string_view name);

}  // namespace tapfix::sim::host
