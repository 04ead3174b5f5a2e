#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tapfix::test {

// A whole file's bytes; empty for a missing file.
inline std::string ReadFileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace tapfix::test
