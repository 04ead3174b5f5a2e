#include "sim/download_mode.hpp"

namespace tapfix::sim {
namespace {

constexpr const char* kNotImplemented = "download mode is not simulated yet";

}  // namespace

void DownloadModePlaceholder::OnAttach(DeviceContext& context) {
    context.Trace("not_implemented", {{"mode", "download"}, {"reason", kNotImplemented}});
}

void DownloadModePlaceholder::OnBytes(std::span<const std::uint8_t> bytes, DeviceContext& context) {
    context.Trace("unhandled",
                  {{"mode", "download"},
                   {"reason", kNotImplemented},
                   {"bytes", bytes.size()},
                   {"data", ToHex(bytes.first(std::min<std::size_t>(bytes.size(), 64)))}});
}

}  // namespace tapfix::sim
