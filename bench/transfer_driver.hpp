#pragma once

#include <cstdint>
#include <filesystem>

#include "session_harness.hpp"

// How the benchmarks move an image to the flash programmer: the session's own steps, as an
// update runs them (DownloadImage: the open by partition name, the transfer variant, the close).
namespace tapfix::bench {

// The transfer variants by the file list's download type.
enum class Transfer : int { Normal = 0, Pipelined = 1, HighSpeed = 3, Checksummed = 4 };

// Finds the running programmer on slot 0 as an update's detection does, enters the security
// mode and writes the package's partition table; false with the reason in `failure`.
bool PrepareProgrammer(SessionHarness& harness, std::string& failure);

// Writes `image` into the package's largest fixed partition with `variant`, as one entry of
// the file list; false with the session's last log line in `failure`.
bool TransferImage(SessionHarness& harness, Transfer variant, const std::filesystem::path& image,
                   std::string& failure);

}  // namespace tapfix::bench
