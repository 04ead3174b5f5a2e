#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

// What every fuzz target shares: its entry point, reading the input as small fields, and
// checking what must hold whatever the input was.
namespace tapfix::fuzz {

using Bytes = std::vector<std::uint8_t>;
using ConstBytes = std::span<const std::uint8_t>;

// The input as a sequence of fields; past its end every field is empty or zero.
class InputReader {
  public:
    explicit InputReader(ConstBytes input) : input_(input) {}

    bool AtEnd() const { return position_ >= input_.size(); }
    std::uint8_t Byte() { return AtEnd() ? 0 : input_[position_++]; }
    std::uint16_t Le16() {
        const std::uint8_t low = Byte();
        return static_cast<std::uint16_t>(low | Byte() << 8);
    }
    // Up to `count` bytes, fewer at the end.
    ConstBytes Take(std::size_t count) {
        const std::size_t taken =
            std::min(count, input_.size() - std::min(position_, input_.size()));
        const ConstBytes bytes = input_.subspan(std::min(position_, input_.size()), taken);
        position_ += taken;
        return bytes;
    }
    ConstBytes Rest() { return Take(input_.size()); }

  private:
    ConstBytes input_;
    std::size_t position_ = 0;
};

// What InputReader reads as Take(Le16()): the length, then the bytes (for seeds).
inline void AppendSized(Bytes& out, ConstBytes bytes) {
    out.push_back(static_cast<std::uint8_t>(bytes.size()));
    out.push_back(static_cast<std::uint8_t>(bytes.size() >> 8));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// A property the code promises for every input; a broken one is a finding like a crash.
inline void Require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// The inputs a target starts from: the fuzzer's first corpus, and what its replay always runs.
std::vector<Bytes> Seeds();

}  // namespace tapfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
