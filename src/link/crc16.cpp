#include "link/crc16.hpp"

#include <array>

namespace tapfix::link {
namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < table.size(); ++i) {
        std::uint16_t value = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1U) != 0 ? static_cast<std::uint16_t>((value >> 1) ^ 0x8408U)
                                      : static_cast<std::uint16_t>(value >> 1);
        }
        table[i] = value;
    }
    return table;
}

constexpr auto kTable = MakeTable();
static_assert(kTable[1] == 4489 && kTable[2] == 8978 && kTable[15] == 63735);

}  // namespace

std::uint16_t CrcUpdate(std::uint16_t crc, std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes) {
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ byte) & 0xFFU]);
    }
    return crc;
}

std::uint16_t Fcs16(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint16_t>(~CrcUpdate(kCrcInitial, bytes));
}

bool FcsIsGood(std::span<const std::uint8_t> payloadAndFcs) {
    // A frame of nothing but a check sequence carries no answer, whatever its CRC says.
    return payloadAndFcs.size() > kFcsSize &&
           CrcUpdate(kCrcInitial, payloadAndFcs) == kCrcGoodResidue;
}

}  // namespace tapfix::link
