#pragma once

#include "sim/mode_handler.hpp"

namespace tapfix::sim {

// The router's download mode port. Its protocols (boot loader, Sahara, flash programmer) are
// not simulated yet: every byte that arrives is recorded in the trace as unhandled and
// nothing is answered, so a host sees a silent boot stage.
class DownloadModePlaceholder final : public ModeHandler {
  public:
    DeviceMode Mode() const override { return DeviceMode::Download; }
    std::string PortDescription() const override { return "Qualcomm HS-USB QDLoader 9008"; }
    void OnAttach(DeviceContext& context) override;
    void OnBytes(std::span<const std::uint8_t> bytes, DeviceContext& context) override;
};

}  // namespace tapfix::sim
