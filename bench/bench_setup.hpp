#pragma once

#include <filesystem>
#include <string>

#include "sim/mode_handler.hpp"

// What every benchmark against the simulated router sets up.
namespace tapfix::bench {

// The link the benchmarks model: a router on USB 2.0 high speed, 0.5 ms before every answer
// and 30 MB/s.
sim::LinkModel UsbLink();

// A new folder of the user's own under the temporary folder; false with the reason.
bool MakePrivateFolder(std::filesystem::path& folder, std::string& failure);
// Removes the folder with everything in it; an empty path is left alone.
void RemoveFolder(const std::filesystem::path& folder);
// Writes what is pending for the file system of `folder` to disk, so that files written just
// before (a firmware of 140 MB) do not slow the files synced while the benchmark is timed, as
// a package unpacked at an earlier start would not.
void FlushToDisk(const std::filesystem::path& folder);
// The port registry inside `folder`, made the process's registry (TAPFIX_PORTS_DIR).
std::filesystem::path PortRegistry(const std::filesystem::path& folder);

}  // namespace tapfix::bench
