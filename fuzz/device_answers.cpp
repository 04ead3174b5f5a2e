// The host's operations in every mode against a device whose answers come from the input:
// the checks of DIAG, NV, EFS2, vendor, on-board backup, boot-loader and streaming answers
// that read the raw answer bytes after an exchange.
//
// Input: one byte picks the operation; then answer records of a flag byte, a 16-bit length
// and the payload. The device answers each request with the next record, framed as a device
// frames (flag bit 0: sent as it stands instead; bit 1: with an opening flag; bit 2: in the
// same write as the record before), and leaves the bus after the last one.
#include "answer_seeds.hpp"
#include "device_operations.hpp"
#include "scripted_device.hpp"

namespace tapfix::fuzz {
namespace {

constexpr std::uint8_t kUnframed = 0x01;
constexpr std::uint8_t kOpeningFlag = 0x02;
constexpr std::uint8_t kSameWrite = 0x04;

std::vector<ScriptedDevice::Turn> ReadTurns(InputReader& input) {
    std::vector<ScriptedDevice::Turn> turns;
    while (!input.AtEnd()) {
        const std::uint8_t flags = input.Byte();
        const ConstBytes payload = input.Take(input.Le16());
        Bytes write =
            (flags & kUnframed) != 0
                ? Bytes(payload.begin(), payload.end())
                : sim::EncodeFrame(payload, (flags & kOpeningFlag) != 0 ? sim::Opening::Flag
                                                                        : sim::Opening::None);
        if ((flags & kSameWrite) != 0 && !turns.empty()) {
            turns.back().back().insert(turns.back().back().end(), write.begin(), write.end());
        } else {
            turns.push_back({std::move(write)});
        }
    }
    return turns;
}

}  // namespace

std::vector<Bytes> Seeds() {
    std::vector<Bytes> seeds;
    for (const AnswerSeed& seed : AnswerSeeds()) {
        Bytes input{DeviceOperationIndex(seed.operation)};
        const bool openingFlag = seed.mode == link::MODE_DMSS || seed.mode == link::MODE_STREAM;
        for (const Bytes& answer : seed.answers) {
            input.push_back(openingFlag ? kOpeningFlag : 0);
            AppendSized(input, answer);
        }
        seeds.push_back(std::move(input));
    }
    return seeds;
}

}  // namespace tapfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tapfix::fuzz;
    InputReader input({data, size});
    const std::span<const DeviceOperation> operations = DeviceOperations();
    const DeviceOperation& operation = operations[input.Byte() % operations.size()];
    ScriptedDevice device(ScriptedDevice::Requests::Framed, ReadTurns(input), false);
    if (device.Ready()) {
        operation.run(device.Host());
    }
    return 0;
}
