#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace tapfix::platform {

// The first line of a small text file (sysfs attributes, /proc entries, port names), without
// its line end and trailing blanks. Reads at most `capacity` bytes: these files come from
// drivers and other programs, so their size is not trusted. Empty when it cannot be read.
std::optional<std::string> ReadFirstLine(const std::filesystem::path& file,
                                         std::size_t capacity = 4096);

}  // namespace tapfix::platform
