#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Bounds-checked reads and writes of wire fields with explicit byte order. Device answers are
// untrusted: a read past the end is an empty result, never a read past the data.
namespace tapfix::wire {

using Bytes = std::span<const std::uint8_t>;

inline std::optional<std::uint8_t> ReadU8(Bytes data, std::size_t offset) {
    if (offset >= data.size()) {
        return std::nullopt;
    }
    return data[offset];
}

inline std::optional<std::uint16_t> ReadLe16(Bytes data, std::size_t offset) {
    if (offset > data.size() || data.size() - offset < 2) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(data[offset] | data[offset + 1] << 8);
}

inline std::optional<std::uint32_t> ReadLe32(Bytes data, std::size_t offset) {
    if (offset > data.size() || data.size() - offset < 4) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(data[offset]) |
           static_cast<std::uint32_t>(data[offset + 1]) << 8 |
           static_cast<std::uint32_t>(data[offset + 2]) << 16 |
           static_cast<std::uint32_t>(data[offset + 3]) << 24;
}

inline std::optional<std::uint16_t> ReadBe16(Bytes data, std::size_t offset) {
    if (offset > data.size() || data.size() - offset < 2) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(data[offset] << 8 | data[offset + 1]);
}

inline std::optional<std::uint32_t> ReadBe32(Bytes data, std::size_t offset) {
    if (offset > data.size() || data.size() - offset < 4) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(data[offset]) << 24 |
           static_cast<std::uint32_t>(data[offset + 1]) << 16 |
           static_cast<std::uint32_t>(data[offset + 2]) << 8 |
           static_cast<std::uint32_t>(data[offset + 3]);
}

// Writers into a span; false (nothing written) when the field does not fit.
inline bool WriteLe16(std::span<std::uint8_t> out, std::size_t offset, std::uint16_t value) {
    if (offset > out.size() || out.size() - offset < 2) {
        return false;
    }
    out[offset] = static_cast<std::uint8_t>(value);
    out[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    return true;
}

inline bool WriteLe32(std::span<std::uint8_t> out, std::size_t offset, std::uint32_t value) {
    if (offset > out.size() || out.size() - offset < 4) {
        return false;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        out[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return true;
}

inline bool WriteBe16(std::span<std::uint8_t> out, std::size_t offset, std::uint16_t value) {
    if (offset > out.size() || out.size() - offset < 2) {
        return false;
    }
    out[offset] = static_cast<std::uint8_t>(value >> 8);
    out[offset + 1] = static_cast<std::uint8_t>(value);
    return true;
}

inline bool WriteBe32(std::span<std::uint8_t> out, std::size_t offset, std::uint32_t value) {
    if (offset > out.size() || out.size() - offset < 4) {
        return false;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        out[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
    return true;
}

// Appenders for building messages.
inline void AppendLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

inline void AppendBe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 3; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

}  // namespace tapfix::wire
