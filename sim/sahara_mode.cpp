#include "sim/sahara_mode.hpp"

#include <algorithm>

#include "link/wire.hpp"
#include "sim/flash_model.hpp"
#include "sim/programmer_image.hpp"

namespace tapfix::sim {
namespace {

enum Command : std::uint32_t {
    kHello = 1,
    kHelloResponse = 2,
    kReadData = 3,
    kEndOfImage = 4,
    kDone = 5,
    kDoneResponse = 6,
};

constexpr std::uint32_t kVersion = 2;
constexpr std::uint32_t kVersionSupported = 1;
constexpr std::uint32_t kPendingImageId = 13;
constexpr std::uint32_t kModeImagePending = 0;
constexpr std::uint32_t kModeImageLoad = 2;
constexpr std::size_t kHeaderWords = 2;
// Longer messages are not Sahara's; the device drops what it has collected.
constexpr std::size_t kMaxMessage = 64;
constexpr std::uint32_t kStatusSuccess = 0;
constexpr std::uint32_t kStatusInvalidImage = 0x0E;
constexpr std::uint32_t kStatusRefusedImage = 0x11;

}  // namespace

void SaharaHandler::Send(std::initializer_list<std::uint32_t> words, std::size_t reservedWords,
                         DeviceContext& context) {
    Bytes message;
    const std::uint32_t length = static_cast<std::uint32_t>(4 * (words.size() + reservedWords));
    auto word = words.begin();
    wire::AppendLe32(message, *word++);
    wire::AppendLe32(message, length);
    for (++word; word != words.end(); ++word) {
        wire::AppendLe32(message, *word);
    }
    message.resize(length, 0);
    context.SendRaw(message);
}

void SaharaHandler::OnAttach(DeviceContext& context) {
    const std::uint32_t mode =
        context.Profile().saharaImageId == kPendingImageId ? kModeImagePending : kModeImageLoad;
    context.Trace("sahara", {{"name", "hello"}, {"mode", mode}});
    // Command, length, version, oldest version, longest command packet, mode, six reserved.
    Send({kHello, 0, kVersion, kVersionSupported, kChunk, mode}, 6, context);
}

void SaharaHandler::OnBytes(std::span<const std::uint8_t> bytes, DeviceContext& context) {
    while (!bytes.empty()) {
        if (stage_ == Stage::ReceiveImage && requested_ > 0) {
            bytes = TakeImageBytes(bytes, context);
            continue;
        }
        message_.push_back(bytes.front());
        bytes = bytes.subspan(1);
        const auto length = wire::ReadLe32(message_, 4);
        if (length && (*length < 4 * kHeaderWords || *length > kMaxMessage)) {
            context.Trace("dropped", {{"mode", "sahara"}, {"reason", "bad message length"}});
            message_.clear();
        } else if (length && message_.size() == *length) {
            HandleMessage(context);
            message_.clear();
        }
    }
}

std::span<const std::uint8_t> SaharaHandler::TakeImageBytes(std::span<const std::uint8_t> bytes,
                                                            DeviceContext& context) {
    const std::size_t taken = std::min<std::size_t>(requested_, bytes.size());
    image_.insert(image_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
    requested_ -= static_cast<std::uint32_t>(taken);
    if (requested_ == 0) {
        RequestNext(context);
    }
    return bytes.subspan(taken);
}

void SaharaHandler::HandleMessage(DeviceContext& context) {
    const std::uint32_t command = *wire::ReadLe32(message_, 0);
    if (command == kHelloResponse && stage_ == Stage::AwaitHelloResponse) {
        context.Trace("sahara", {{"name", "hello_response"},
                                 {"version", wire::ReadLe32(message_, 8).value_or(0)}});
        stage_ = Stage::ReceiveImage;
        RequestNext(context);
        return;
    }
    if (command == kDone && stage_ == Stage::AwaitDone) {
        context.Trace("sahara", {{"name", "done"}});
        Send({kDoneResponse, 0, kStatusSuccess}, 0, context);
        stage_ = Stage::Finished;
        context.ContinueIn(DeviceMode::Programmer);
        return;
    }
    context.Trace("sahara", {{"name", "unexpected"}, {"command", command}});
}

void SaharaHandler::RequestNext(DeviceContext& context) {
    if (expected_ == 0 && image_.size() >= kProgrammerHeaderSize) {
        const auto length = ProgrammerLength(image_);
        if (!length) {
            context.Trace("programmer_refused",
                          {{"route", "sahara"}, {"reason", "no programmer image header"}});
            Send({kEndOfImage, 0, context.Profile().saharaImageId, kStatusInvalidImage}, 0,
                 context);
            stage_ = Stage::Refused;
            return;
        }
        expected_ = *length;
    }
    const std::size_t wanted = expected_ == 0 ? kProgrammerHeaderSize : expected_;
    if (image_.size() >= wanted) {
        EndImage(context);
        return;
    }
    requested_ = static_cast<std::uint32_t>(std::min<std::size_t>(kChunk, wanted - image_.size()));
    Send({kReadData, 0, context.Profile().saharaImageId, static_cast<std::uint32_t>(image_.size()),
          requested_},
         0, context);
}

void SaharaHandler::EndImage(DeviceContext& context) {
    const std::string refusal = ProgrammerRefusal(image_, context.Profile().saharaProgrammer);
    const std::uint32_t id = context.Profile().saharaImageId;
    if (!refusal.empty()) {
        context.Trace("programmer_refused", {{"route", "sahara"}, {"reason", refusal}});
        Send({kEndOfImage, 0, id, kStatusRefusedImage}, 0, context);
        stage_ = Stage::Refused;
        return;
    }
    context.Trace(
        "programmer_loaded",
        {{"route", "sahara"}, {"bytes", image_.size()}, {"sha256", flash::Sha256Hex(image_)}});
    Send({kEndOfImage, 0, id, kStatusSuccess}, 0, context);
    stage_ = Stage::AwaitDone;
}

}  // namespace tapfix::sim
