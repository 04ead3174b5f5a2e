#pragma once

#include <filesystem>
#include <ostream>

// The console's inspection commands, which exit without starting an update.
namespace tapfix::cli {

// Every serial port with its display name and whether it qualifies as the router's port.
// 0, or 4 when the port list cannot be obtained.
int ListPorts(std::ostream& out, std::ostream& err);

// Checks every file of the package against its SHA-256, loads its configuration from a
// private temporary folder and prints a summary. 0 when all is well, else 1.
int CheckPackage(const std::filesystem::path& package, std::ostream& out, std::ostream& err);

}  // namespace tapfix::cli
