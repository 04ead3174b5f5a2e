#include <benchmark/benchmark.h>

#include <random>
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
}
BENCHMARK(BM_DecodeFrame);

}  // namespace
