#pragma once

#include <optional>
#include <vector>

#include "sim/faults.hpp"
#include "sim/flash_model.hpp"
#include "sim/hdlc.hpp"
#include "sim/mode_handler.hpp"

namespace tapfix::sim {

// The flash programmer on the boot stage's port: the streaming download protocol (frames with
// an opening flag, fields least significant byte first) that writes the partition table and
// the images into the flash model, hashing every image as it is closed.
//
// Address acknowledgements of the raw transfers (0x28 checksummed blocks of 128 KiB, 0x1D
// high-speed segments of 32 MiB, each unit followed by its 4-byte checksum): after the status
// answer of an accepted unit come block-written answers (0x08, the 32-bit address least
// significant byte first), one at every 131,072-byte boundary inside a unit larger than
// 131,072 bytes, then one carrying the unit's last address (start + length - 1). Then, while
// units remain, the ready answer of the next one.
class ProgrammerHandler final : public ModeHandler {
  public:
    DeviceMode Mode() const override { return DeviceMode::Programmer; }
    std::string PortDescription() const override { return "Qualcomm HS-USB QDLoader 9008"; }
    void OnAttach(DeviceContext& context) override;
    void OnBytes(std::span<const std::uint8_t> bytes, DeviceContext& context) override;
    bool Downloading() const override { return greeted_ && !halted_; }
    // With a rewritten partition table the old firmware is gone and the new one is not
    // whole: the router comes back blank. Otherwise it boots what it had.
    void PowerCycle(DeviceContext& context) override;

  private:
    struct OpenImage {
        std::string partition;
        std::uint64_t capacity = 0;
        ImageFate fate;
        flash::ImageBytes data;
    };
    // A raw transfer announced by 0x28 or 0x1D: units of `unitSize` bytes, each followed by
    // its checksum, until `total` bytes are in.
    struct RawTransfer {
        std::uint8_t answerCode = 0;
        std::uint64_t unitSize = 0;
        std::uint64_t total = 0;
        std::uint64_t offset = 0;
        UnitFate fate;
        Bytes unit;
    };

    void Serve(std::span<const std::uint8_t> request, DeviceContext& context);
    Bytes Dispatch(std::span<const std::uint8_t> request, nlohmann::json& record,
                   DeviceContext& context);
    Bytes Hello(std::span<const std::uint8_t> request);
    Bytes PartitionTable(std::span<const std::uint8_t> request, nlohmann::json& record,
                         DeviceContext& context);
    Bytes Open(std::span<const std::uint8_t> request, nlohmann::json& record,
               DeviceContext& context);
    Bytes Write(std::span<const std::uint8_t> request, nlohmann::json& record,
                DeviceContext& context);
    Bytes Announce(std::span<const std::uint8_t> request, nlohmann::json& record,
                   DeviceContext& context);
    Bytes Reset(DeviceContext& context);

    std::span<const std::uint8_t> TakeRaw(std::span<const std::uint8_t> bytes,
                                          DeviceContext& context);
    void FinishUnit(DeviceContext& context);
    enum class StoreResult { Stored, NoRoom, PowerLost };
    // Stores bytes into the open image, unless they do not fit its partition or the power
    // fails under them.
    StoreResult Store(std::uint64_t offset, std::span<const std::uint8_t> data,
                      DeviceContext& context);
    void CloseImage(DeviceContext& context);
    const flash::Partition* FindPartition(std::string_view name) const;

    Deframer deframer_;
    std::vector<flash::Partition> partitions_;
    std::optional<OpenImage> image_;
    std::optional<RawTransfer> transfer_;
    std::optional<std::string> buildId_;
    bool greeted_ = false;
    bool wroteImages_ = false;
    bool tableRewritten_ = false;
    // Reset or power lost: nothing more is heard.
    bool halted_ = false;
    // Stuck (hang fault): nothing is answered any more.
    bool hung_ = false;
};

}  // namespace tapfix::sim
