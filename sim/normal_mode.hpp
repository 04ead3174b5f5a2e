#pragma once

#include "sim/efs_service.hpp"
#include "sim/hdlc.hpp"
#include "sim/mode_handler.hpp"
#include "sim/vendor_services.hpp"

namespace tapfix::sim {

// The router's normal software on its diagnostic port: DIAG requests in HDLC frames
// without an opening flag, answered the same way. Unknown commands get the DIAG error
// 0x13 followed by the request.
class NormalModeHandler final : public ModeHandler {
  public:
    DeviceMode Mode() const override { return DeviceMode::Normal; }
    std::string PortDescription() const override { return "Qualcomm HS-USB Diagnostics 9025"; }
    void OnBytes(std::span<const std::uint8_t> bytes, DeviceContext& context) override;

  private:
    void Answer(std::span<const std::uint8_t> request, DeviceContext& context);
    Bytes Dispatch(diag::Exchange& exchange);
    Bytes Esn(diag::Exchange& exchange);
    Bytes Status(diag::Exchange& exchange);
    Bytes NvRead(diag::Exchange& exchange);
    Bytes NvWrite(diag::Exchange& exchange);
    Bytes ModeChange(diag::Exchange& exchange);
    Bytes SoftwareVersion(diag::Exchange& exchange);
    Bytes SwitchToDownloader(diag::Exchange& exchange);
    Bytes Spc(diag::Exchange& exchange);
    Bytes Subsystem(diag::Exchange& exchange);

    Deframer deframer_;
    bool offline_ = false;
    EfsService efs_;
    VendorServices vendor_;
};

}  // namespace tapfix::sim
