// The host's reading of Sahara messages: unframed words in whatever chunks the device writes
// them, read into one message until the device stops with the length the message states.
// Input: one byte picks a read of the device's message (the device speaks first) or the done
// exchange; then the device's writes, each a 16-bit length and its bytes.
#include "device/sahara.hpp"

#include "link/wire.hpp"
#include "scripted_device.hpp"

namespace tapfix::fuzz {
namespace {

ScriptedDevice::Turn ReadWrites(InputReader& input) {
    ScriptedDevice::Turn writes;
    while (!input.AtEnd()) {
        const ConstBytes bytes = input.Take(input.Le16());
        writes.emplace_back(bytes.begin(), bytes.end());
    }
    return writes;
}

Bytes Words(std::initializer_list<std::uint32_t> words) {
    Bytes bytes;
    for (const std::uint32_t word : words) {
        wire::AppendLe32(bytes, word);
    }
    return bytes;
}

// A message as the device's writes: one chunk, or cut in two.
Bytes Input(bool done, const Bytes& message, std::size_t cut) {
    Bytes input{static_cast<std::uint8_t>(done ? 1 : 0)};
    for (const auto& [from, to] :
         {std::pair{std::size_t{0}, cut}, std::pair{cut, message.size()}}) {
        if (to > from) {
            AppendSized(input, ConstBytes(message).subspan(from, to - from));
        }
    }
    return input;
}

}  // namespace

std::vector<Bytes> Seeds() {
    const Bytes hello = Words({1, 48, 2, 1, 0x400, 2, 0, 0, 0, 0, 0, 0});
    const Bytes readData = Words({3, 20, 7, 0, 80});
    const Bytes endOfImage = Words({4, 16, 7, 0});
    const Bytes doneResponse = Words({6, 12, 0});
    return {Input(false, hello, hello.size()), Input(false, hello, 10),
            Input(false, readData, 3),         Input(false, endOfImage, 16),
            Input(true, doneResponse, 12),     Input(true, doneResponse, 5)};
}

}  // namespace tapfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tapfix::fuzz;
    InputReader input({data, size});
    const bool done = (input.Byte() & 1) != 0;
    ScriptedDevice device(ScriptedDevice::Requests::Raw, {ReadWrites(input)}, !done);
    if (!device.Ready()) {
        return 0;
    }
    tapfix::link::CPacket& host = device.Host();
    const bool ok = done ? tapfix::device::SaharaDone(host) : tapfix::device::SaharaRead(host);
    const std::size_t length = host.ReceivedBytes().size();
    Require(length <= tapfix::link::CPacket::kReceiveData);
    Require(!ok || length > 0);
    Require(!done || !ok || tapfix::device::SaharaWord(host, 1) == 12U);
    return 0;
}
