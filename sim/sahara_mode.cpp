#include "sim/sahara_mode.hpp"

#include <algorithm>

#include "link/wire.hpp"
#include "sim/faults.hpp"
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
        if (stage_ == Stage::ReceiveImage && received_ < current_.length) {
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
    const std::size_t taken = std::min<std::size_t>(current_.length - received_, bytes.size());
    const std::size_t at = static_cast<std::size_t>(current_.offset) + received_;
    std::copy_n(bytes.begin(), taken, image_.begin() + static_cast<std::ptrdiff_t>(at));
    received_ += static_cast<std::uint32_t>(taken);
    if (received_ == current_.length) {
        RequestDone(context);
    }
    return bytes.subspan(taken);
}

void SaharaHandler::HandleMessage(DeviceContext& context) {
    const std::uint32_t command = *wire::ReadLe32(message_, 0);
    if (command == kHelloResponse && stage_ == Stage::AwaitHelloResponse) {
        context.Trace("sahara", {{"name", "hello_response"},
                                 {"version", wire::ReadLe32(message_, 8).value_or(0)}});
        stage_ = Stage::ReceiveImage;
        image_.assign(kProgrammerHeaderSize, 0);
        plan_ = {{0, static_cast<std::uint32_t>(kProgrammerHeaderSize)}};
        RequestNext(context);
        return;
    }
    if (command == kDone && stage_ == Stage::AwaitDone) {
        context.Trace("sahara", {{"name", "done"}});
        Send({kDoneResponse, 0, kStatusSuccess}, 0, context);
        stage_ = Stage::Finished;
        HandOverToProgrammer(context);
        return;
    }
    context.Trace("sahara", {{"name", "unexpected"}, {"command", command}});
}

void SaharaHandler::RequestDone(DeviceContext& context) {
    if (expected_ == 0) {
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
        image_.resize(expected_, 0);
        for (std::size_t offset = kProgrammerHeaderSize; offset < expected_; offset += kChunk) {
            plan_.push_back(
                {static_cast<std::uint32_t>(offset),
                 static_cast<std::uint32_t>(std::min<std::size_t>(kChunk, expected_ - offset))});
        }
    }
    RequestNext(context);
}

void SaharaHandler::RequestNext(DeviceContext& context) {
    if (plan_.empty()) {
        EndImage(context);
        return;
    }
    const SaharaRequestFate fate = context.Faults().NextSaharaRequest();
    if (fate.swapWithNext && plan_.size() > 1) {
        std::swap(plan_[0], plan_[1]);
    }
    current_ = plan_.front();
    plan_.pop_front();
    if (fate.repeat) {
        plan_.push_front(current_);
    }
    received_ = 0;
    context.Trace(
        "sahara",
        {{"name", "read_data"}, {"offset", current_.offset}, {"length", current_.length}});
    Send({kReadData, 0, context.Profile().saharaImageId, current_.offset, current_.length}, 0,
         context);
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
