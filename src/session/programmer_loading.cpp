// The flash programmer: written into memory by the boot loader and started with a jump, or
// pulled by a Sahara boot stage; then found answering the streaming protocol.
#include <chrono>
#include <mutex>

#include "device/dmss_commands.hpp"
#include "device/sahara.hpp"
#include "link/port_discovery.hpp"
#include "platform/port_enumeration.hpp"
#include "session/device_operations.hpp"
#include "session/download_service.hpp"
#include "session/file_bytes.hpp"
#include "session/sahara_transfer.hpp"

namespace tapfix::session {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kBootProgrammer = "narmprg.bin";
constexpr std::string_view kSaharaProgrammer = "armprg.bin";
// A programmer runs from the device's RAM: anything larger is not one.
constexpr std::size_t kMaxProgrammerSize = 8 * 1024 * 1024;
// The start segment: big-endian at file offset 14; the image loads at segment << 16.
constexpr std::size_t kSegmentOffset = 14;
constexpr std::size_t kBlock = 1024;
constexpr std::uint32_t kPendingImageId = 13;
constexpr std::uint32_t kProgrammerImageId = 7;
constexpr int kHelloAttempts = 8;
constexpr int kPassesAfterJump = 100;
constexpr int kJumpRepeats = 2;

}  // namespace

bool CDownloadService::LoadProgrammerDmss(int slot) {
    std::string error;
    const auto image = ReadFileBytes(ImageFolder() / kBootProgrammer, kMaxProgrammerSize, error);
    if (!image || image->size() < kSegmentOffset + 2) {
        LogLine(slot, image ? std::string(kBootProgrammer) + " holds no start segment" : error);
        return false;
    }
    std::uint16_t& segment = SlotState(slot).programmerStartSegment;
    segment =
        static_cast<std::uint16_t>((*image)[kSegmentOffset] << 8 | (*image)[kSegmentOffset + 1]);
    const std::uint64_t load = static_cast<std::uint64_t>(segment) << 16;
    if (load + image->size() > (std::uint64_t{1} << 32)) {
        LogLine(slot, std::string(kBootProgrammer) + " does not fit below 4 GiB at its address");
        return false;
    }
    const std::span<const std::uint8_t> bytes(*image);
    for (std::size_t offset = 0; offset < bytes.size(); offset += kBlock) {
        const auto block = bytes.subspan(offset, std::min(kBlock, bytes.size() - offset));
        if (!device::DmssWrite32(Link(slot), block, static_cast<std::uint32_t>(load + offset))) {
            return false;
        }
    }
    return true;
}

bool CDownloadService::StartProgrammer(PortContext& context) {
    const int slot = context.slot;
    link::CPacket& link = Link(slot);
    const std::uint16_t segment = SlotState(slot).programmerStartSegment;
    Run(op::kProbe, slot);
    bool greeted = false;
    {
        // A device that re-enumerates after the jump must not be probed by anyone else.
        std::lock_guard lock(slotLocks_[static_cast<std::size_t>(slot)]);
        if (!device::DmssGo(link, segment)) {
            Pause(2000ms);
            if (!device::DmssGoWait(link, segment)) {
                Pause(2000ms);
                device::DmssGoWait(link, segment);
            }
        }
        if (HighSpeedUsb()) {
            greeted = FollowStartedProgrammer(context);
        } else {
            Pause(500ms);
        }
    }
    // The streaming session begins with the hello; a programmer that kept its port was not
    // greeted yet.
    if (Run(op::kStreamNop, slot) && (greeted || ProgrammerAnswers(slot))) {
        return true;
    }
    LogKey(slot, "ID_ERROR_PORTERR");
    return false;
}

bool CDownloadService::FollowStartedProgrammer(PortContext& context) {
    const int slot = context.slot;
    const int jumpedFrom = context.portNumber;
    for (int pass = 0; pass < kPassesAfterJump; ++pass) {
        Notify(ValueNotification(kNotifyPortSearch, slot, context.portNumber));
        if (GreetProgrammer(context)) {
            return true;
        }
        // Still on the boot loader's port, and it is still there: the jump may not have taken.
        if (pass < kJumpRepeats && context.portNumber == jumpedFrom && Run(op::kIsPortOpen, slot)) {
            device::DmssGo(Link(slot), SlotState(slot).programmerStartSegment);
            Pause(5000ms);
        }
        Pause(200ms);
    }
    return false;
}

// A programmer that re-enumerates leaves the boot stage's port and comes back on a new number,
// named as a diagnostics or a download port: the router is found by its location, whatever
// its port is called now. A programmer that kept the port is found there.
bool CDownloadService::GreetProgrammer(PortContext& context) {
    const int slot = context.slot;
    const auto port = link::FindRouterPort(platform::ListPorts(), context.usb,
                                           link::RouterPortNames::DiagOrDownload);
    if (!port) {
        return false;
    }
    // A link still open on the same number is the same port: a port that left hung it up.
    const bool samePort = port->number == context.portNumber && Run(op::kIsPortOpen, slot);
    if (!samePort) {
        Pause(kPortSettle);
        if (!ReopenLink(slot, port->number)) {
            return false;
        }
    }
    context.portNumber = port->number;
    Run(op::kProbe, slot);
    return ProgrammerAnswers(slot);
}

bool CDownloadService::LoadProgrammerSahara(PortContext& context) {
    const int slot = context.slot;
    link::CPacket& link = Link(slot);
    LogHint(slot, " Send Hello_Resp");
    NotifyProgress(slot, 17);
    if (!device::SaharaHelloResponse(link)) {
        LogLine(slot, "Send Hello_Resp fail！");
        return false;
    }
    std::string error;
    const auto image = ReadFileBytes(ImageFolder() / kSaharaProgrammer, kMaxProgrammerSize, error);
    if (!image) {
        LogLine(slot, error);
        return false;
    }
    const std::uint32_t imageId = ModeOf(slot).saharaPending ? kPendingImageId : kProgrammerImageId;
    if (!ServeSaharaImage(link, *image, imageId)) {
        LogLinkError(slot);
        return false;
    }
    if (!device::SaharaDone(link)) {
        return false;
    }
    // The programmer may re-enumerate after the done: each look finds it anew. It is greeted
    // as soon as it answers; the 5 s it is given to start stay the bound of that wait.
    if (AwaitRouter(5000ms, [&] { return GreetProgrammer(context); })) {
        return true;
    }
    for (int attempt = 1; attempt <= kHelloAttempts; ++attempt) {
        if (GreetProgrammer(context)) {
            return true;
        }
        if (attempt < kHelloAttempts) {
            Pause(1000ms);
        }
    }
    LogLine(slot, "Line " + std::to_string(slot + 1) + "，Hello fail！");
    return false;
}

}  // namespace tapfix::session
