// The host's frame decoder and multi-frame parse over whatever arrived, in each packet mode
// with the command set installed: DIAG answers (versions, NV items, ESN, subsystems), raw
// answers, boot-loader answers and streaming answers with block-written lists and extension
// answers. Input: one byte picks the mode (bits 0-1) and whether the rest is what the port
// delivered or (bit 2) answer payloads, each behind its length byte, that are framed first as
// a device frames them, so the answer parsers see more than frames failing their check.
#include "answer_seeds.hpp"
#include "device/command_set.hpp"
#include "sim/hdlc.hpp"

namespace tapfix::fuzz {
namespace {

using link::CPacket;

constexpr std::size_t kModes = 4;
constexpr std::uint8_t kFramePayloads = 0x04;

bool HasOpeningFlag(link::PacketMode mode) {
    return mode == link::MODE_DMSS || mode == link::MODE_STREAM;
}

void AppendFrame(Bytes& out, link::PacketMode mode, ConstBytes payload) {
    const Bytes frame =
        sim::EncodeFrame(payload, HasOpeningFlag(mode) ? sim::Opening::Flag : sim::Opening::None);
    out.insert(out.end(), frame.begin(), frame.end());
}

// A seed of answers as they arrive, framed by the device.
Bytes Received(link::PacketMode mode, std::initializer_list<Bytes> payloads) {
    Bytes input{static_cast<std::uint8_t>(mode)};
    for (const Bytes& payload : payloads) {
        AppendFrame(input, mode, payload);
    }
    return input;
}

// The same answers as payloads the harness frames.
Bytes Payloads(link::PacketMode mode, std::initializer_list<Bytes> payloads) {
    Bytes input{static_cast<std::uint8_t>(mode | kFramePayloads)};
    for (const Bytes& payload : payloads) {
        input.push_back(static_cast<std::uint8_t>(payload.size()));
        input.insert(input.end(), payload.begin(), payload.end());
    }
    return input;
}

Bytes FramedPayloads(link::PacketMode mode, InputReader& input) {
    Bytes received;
    while (!input.AtEnd()) {
        AppendFrame(received, mode, input.Take(input.Byte()));
    }
    return received;
}

void Decode(link::PacketMode mode, ConstBytes received) {
    CPacket packet;
    device::AttachCommandSet(packet);
    packet.SetMode(mode);
    Require(packet.LoadReceiveBuffer(received) == (received.size() <= CPacket::kReceiveData));
    if (packet.DecodeFrame()) {
        Require(packet.DecodedLength() >= 2 && packet.DecodedLength() <= received.size());
        Require(packet.DecodedPayload().size() == packet.DecodedLength() - 2);
    } else {
        // The boot loader's NAK reasons outside its table have no text, as the protocol says.
        const bool unnamedNak = mode == link::MODE_DMSS && packet.Response()[0] == 0x03;
        Require(!packet.LastError().empty() || unnamedNak);
    }
    Require(packet.HelloLength() <= CPacket::kHelloCapacity);
}

void Parse(link::PacketMode mode, ConstBytes received) {
    CPacket packet;
    device::AttachCommandSet(packet);
    packet.SetMode(mode);
    packet.LoadReceiveBuffer(received);
    if (!packet.ParseFrames()) {
        Require(!packet.LastError().empty());
    }
    Require(packet.AckedAddresses().size() <= CPacket::kAckCapacity);
}

}  // namespace

std::vector<Bytes> Seeds() {
    std::vector<Bytes> seeds;
    for (const AnswerSeed& seed : AnswerSeeds()) {
        for (const Bytes& answer : seed.answers) {
            seeds.push_back(Received(seed.mode, {answer}));
            if (answer.size() <= 0xFF) {
                seeds.push_back(Payloads(seed.mode, {answer}));
            }
        }
    }
    // A read full of block-written answers, and one whose second frame is damaged.
    Bytes many{link::MODE_STREAM};
    for (std::uint8_t block = 0; block < 120; ++block) {
        const Bytes answer{0x08, 0x00, block, 0x00, 0x00};
        const Bytes frame = sim::EncodeFrame(answer, sim::Opening::Flag);
        many.insert(many.end(), frame.begin(), frame.end());
    }
    seeds.push_back(many);
    Bytes damaged = Received(link::MODE_STREAM, {HexBytes("08 00 04 00 00"), HexBytes("29 00 01")});
    damaged[damaged.size() - 3] ^= 0x01;
    seeds.push_back(damaged);
    return seeds;
}

}  // namespace tapfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tapfix::fuzz;
    InputReader input({data, size});
    const std::uint8_t head = input.Byte();
    const auto mode = static_cast<tapfix::link::PacketMode>(head % kModes);
    Bytes received;
    if ((head & kFramePayloads) != 0) {
        received = FramedPayloads(mode, input);
    } else {
        const ConstBytes rest = input.Rest();
        received.assign(rest.begin(), rest.end());
    }
    Decode(mode, received);
    Parse(mode, received);
    return 0;
}
