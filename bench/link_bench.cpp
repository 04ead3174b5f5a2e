#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "link/crc16.hpp"
#include "link/packet.hpp"

namespace {

using tapfix::link::CPacket;

std::vector<std::uint8_t> RandomBytes(std::size_t size) {
    std::mt19937 random(99);
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

void BM_Crc16(benchmark::State& state) {
    const auto bytes = RandomBytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(tapfix::link::Fcs16(bytes));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    state.SetLabel("CRC-16 over " + std::to_string(state.range(0)) + " bytes");
}
BENCHMARK(BM_Crc16)->Arg(1024)->Arg(128 * 1024);

void BM_EncodeFrame(benchmark::State& state) {
    const auto payload = RandomBytes(1029);
    CPacket packet;
    packet.SetMode(tapfix::link::MODE_RAW);
    for (auto _ : state) {
        packet.SetRawPayload(payload);
        benchmark::DoNotOptimize(packet.BuildFrame(0));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1029);
    state.SetLabel("framing a 1029-byte payload");
}
BENCHMARK(BM_EncodeFrame);

void BM_DecodeFrame(benchmark::State& state) {
    auto payload = RandomBytes(1000);
    CPacket encoder;
    encoder.SetMode(tapfix::link::MODE_RAW);
    encoder.SetRawPayload(payload);
    encoder.BuildFrame(0);
    const auto frame = encoder.TransmitBytes();
    std::vector<std::uint8_t> wire(frame.begin(), frame.end());
    wire.resize(std::min<std::size_t>(wire.size(), CPacket::kReceiveData));
    CPacket decoder;
    decoder.SetMode(tapfix::link::MODE_RAW);
    for (auto _ : state) {
        decoder.LoadReceiveBuffer(wire);
        benchmark::DoNotOptimize(decoder.DecodeFrame());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(wire.size()));
    state.SetLabel("unframing and checking a 1000-byte answer");
}
BENCHMARK(BM_DecodeFrame);

}  // namespace
