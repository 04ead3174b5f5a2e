#pragma once

#include <filesystem>

namespace tapfix::fuzz {

// A private folder under the system's temporary folder for the targets' files and the port
// registry; created on first use, removed when the process ends normally.
const std::filesystem::path& ScratchFolder();

}  // namespace tapfix::fuzz
