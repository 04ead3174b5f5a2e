#pragma once

#include <vector>

#include "sim/hdlc.hpp"
#include "sim/mode_handler.hpp"

namespace tapfix::sim {

// The boot stage's boot-loader download protocol: frames with an opening flag, one-byte
// commands with fields most significant byte first, answered by ACK, NAK or data. It takes a
// flash programmer into its RAM by 32-bit writes and runs it on the same port when told to go,
// provided what was written is a programmer it may run.
class BootLoaderHandler final : public ModeHandler {
  public:
    DeviceMode Mode() const override { return DeviceMode::Download; }
    std::string PortDescription() const override { return "Qualcomm HS-USB QDLoader 9008"; }
    void OnBytes(std::span<const std::uint8_t> bytes, DeviceContext& context) override;

    // The RAM the boot loader accepts writes into.
    static constexpr std::uint32_t kRamBase = 0x00400000;
    static constexpr std::uint32_t kRamSize = 0x00200000;

  private:
    Bytes Answer(std::span<const std::uint8_t> request, nlohmann::json& record,
                 DeviceContext& context);
    Bytes Write(std::span<const std::uint8_t> request, nlohmann::json& record,
                DeviceContext& context);
    Bytes Go(std::span<const std::uint8_t> request, nlohmann::json& record, DeviceContext& context);
    // The bytes written without a gap from `address` on.
    std::span<const std::uint8_t> WrittenRunFrom(std::uint32_t address) const;

    Deframer deframer_;
    Bytes ram_;
    std::vector<bool> written_;
    // Gone to the programmer: what follows in the same input is not the boot loader's.
    bool jumped_ = false;
};

}  // namespace tapfix::sim
