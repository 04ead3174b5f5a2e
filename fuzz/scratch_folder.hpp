#pragma once

#include <filesystem>
#include <string_view>

#include "fuzz_input.hpp"

namespace tapfix::fuzz {

// A private folder under the system's temporary folder for the targets' files and the port
// registry; created on first use, removed when the process ends normally.
const std::filesystem::path& ScratchFolder();

// A file named `name` in the target's own folder under the scratch folder (created).
std::filesystem::path ScratchFile(std::string_view target, std::string_view name);
// The file holds exactly these bytes.
void WriteBytes(const std::filesystem::path& file, ConstBytes bytes);
// A whole file; empty when it cannot be read.
Bytes ReadBytes(const std::filesystem::path& file);

}  // namespace tapfix::fuzz
