#pragma once

#include <deque>

#include "sim/mode_handler.hpp"

namespace tapfix::sim {

// The boot stage's Sahara protocol: unframed little-endian 32-bit words, the first two being
// command and message length. The device speaks first (its hello as the port appears), pulls
// the flash programmer by read-data requests (its header first, whose size field tells the
// rest), ends with end-of-image, answers done and runs the programmer on the same port.
// Each answer lands where its request pointed; the fault plan can make the device ask for a
// piece twice or for two pieces out of order, as boot ROMs reading ELF images do.
//
// The hello's mode goes with the image id, as hosts read it: mode 0 (an image is pending)
// with image id 13, mode 2 with image id 7.
class SaharaHandler final : public ModeHandler {
  public:
    DeviceMode Mode() const override { return DeviceMode::Download; }
    std::string PortDescription() const override { return "Qualcomm HS-USB QDLoader 9008"; }
    void OnAttach(DeviceContext& context) override;
    void OnBytes(std::span<const std::uint8_t> bytes, DeviceContext& context) override;

    // The most the device asks for in one read-data request.
    static constexpr std::uint32_t kChunk = 1024;

  private:
    enum class Stage { AwaitHelloResponse, ReceiveImage, AwaitDone, Refused, Finished };
    struct Request {
        std::uint32_t offset;
        std::uint32_t length;
    };

    std::span<const std::uint8_t> TakeImageBytes(std::span<const std::uint8_t> bytes,
                                                 DeviceContext& context);
    void HandleMessage(DeviceContext& context);
    // After a request's bytes are in: learns the image length from the header, then asks
    // for the next piece or ends the image.
    void RequestDone(DeviceContext& context);
    void RequestNext(DeviceContext& context);
    void EndImage(DeviceContext& context);
    void Send(std::initializer_list<std::uint32_t> words, std::size_t reservedWords,
              DeviceContext& context);

    Stage stage_ = Stage::AwaitHelloResponse;
    Bytes message_;
    Bytes image_;
    std::size_t expected_ = 0;  // the image length, once its header is in
    std::deque<Request> plan_;  // the pieces still to ask for
    Request current_{};         // the piece being received
    std::uint32_t received_ = 0;
};

}  // namespace tapfix::sim
