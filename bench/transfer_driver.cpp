#include "transfer_driver.hpp"

#include <string_view>

namespace tapfix::bench {
namespace {

constexpr std::string_view kPartition = "0:APPS";
constexpr std::uint8_t kImageType = 0x0E;

}  // namespace

bool PrepareProgrammer(sim::host::HostLink& host) {
    return sim::host::BeginStreaming(host, sim::host::OnePartitionTable(kPartition), 1);
}

bool TransferImage(sim::host::HostLink& host, sim::host::Transfer variant,
                   std::span<const std::uint8_t> image) {
    const sim::host::ImagePlan plan{"", kImageType, std::string(kPartition),
                                    sim::host::OpenBy::Name, variant};
    return sim::host::SendImageBytes(host, plan, image);
}

}  // namespace tapfix::bench
