#pragma once

#include <string_view>
#include <vector>

#include "fuzz_input.hpp"
#include "link/packet.hpp"

namespace tapfix::fuzz {

// Answers of a router to one host operation, as the tests use them: the payloads the device
// sends in turn (framed with an opening flag in the boot-loader and streaming modes).
struct AnswerSeed {
    std::string_view operation;
    link::PacketMode mode;
    std::vector<Bytes> answers;
};

const std::vector<AnswerSeed>& AnswerSeeds();

// "4B 13 02 00" as bytes.
Bytes HexBytes(std::string_view text);
Bytes Join(std::initializer_list<Bytes> parts);

}  // namespace tapfix::fuzz
