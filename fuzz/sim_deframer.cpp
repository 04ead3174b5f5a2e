// The simulated router's deframer over the host's bytes in any chunking: the frames do not
// depend on how the bytes were cut, and a good frame framed again reads back the same.
// Input: one byte gives the chunk size (0: everything at once), the rest is the line.
#include <algorithm>
#include <string_view>

#include "fuzz_input.hpp"
#include "sim/hdlc.hpp"

namespace tapfix::fuzz {
namespace {

using Frames = std::vector<sim::Deframer::Frame>;

Frames Deframe(ConstBytes line, std::size_t chunk, std::size_t* overflow) {
    sim::Deframer deframer;
    Frames frames;
    for (std::size_t at = 0; at < line.size(); at += chunk) {
        deframer.Push(line.subspan(at, std::min(chunk, line.size() - at)));
        while (auto frame = deframer.Next()) {
            frames.push_back(std::move(*frame));
        }
    }
    *overflow = deframer.TakeOverflow();
    return frames;
}

bool Same(const Frames& a, const Frames& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.payload == y.payload && x.crcGood == y.crcGood;
    });
}

Bytes Line(std::uint8_t chunk, std::initializer_list<Bytes> payloads, sim::Opening opening) {
    Bytes line{chunk};
    for (const Bytes& payload : payloads) {
        const Bytes frame = sim::EncodeFrame(payload, opening);
        line.insert(line.end(), frame.begin(), frame.end());
    }
    return line;
}

}  // namespace

std::vector<Bytes> Seeds() {
    const std::string_view hello = "\x01QCOM fast download protocol host\x02\x02\x03";
    Bytes nvRead{0x26, 0xBF, 0x01};
    nvRead.resize(133, 0);
    Bytes write{0x07, 0x00, 0x00, 0x7D, 0x7E};
    write.resize(5 + 1024, 0x7E);
    return {Line(0, {nvRead, {0x4B, 0x13, 0x02, 0x00}}, sim::Opening::None),
            Line(3, {Bytes(hello.begin(), hello.end()), {0x09, 0x11}}, sim::Opening::Flag),
            Line(1, {write}, sim::Opening::Flag),
            Line(7, {{0x29, 0x02, 0x00}}, sim::Opening::None)};
}

}  // namespace tapfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tapfix;
    using namespace tapfix::fuzz;
    InputReader input({data, size});
    const std::size_t chunk = input.Byte();
    const ConstBytes line = input.Rest();
    std::size_t overflowWhole = 0;
    std::size_t overflowChunked = 0;
    const Frames whole = Deframe(line, std::max<std::size_t>(line.size(), 1), &overflowWhole);
    const Frames chunked = Deframe(line, chunk == 0 ? line.size() + 1 : chunk, &overflowChunked);
    Require(Same(whole, chunked) && overflowWhole == overflowChunked);
    for (const sim::Deframer::Frame& frame : whole) {
        Require(frame.payload.size() <= sim::Deframer::kMaxFrame);
        if (frame.crcGood) {
            std::size_t overflow = 0;
            const Bytes again = sim::EncodeFrame(frame.payload, sim::Opening::Flag);
            const Frames back = Deframe(again, again.size(), &overflow);
            Require(back.size() == 1 && back[0].crcGood && back[0].payload == frame.payload);
        }
    }
    return 0;
}
