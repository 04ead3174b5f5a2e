#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "config/download_config.hpp"

// The console's inspection commands, which exit without starting an update.
namespace tapfix::cli {

// Every serial port with its display name and whether it qualifies as the router's port; with
// `json` one object ({"ports": [...]} or {"error": ...}). 0, or 4 when the port list cannot be
// obtained.
int ListPorts(std::ostream& out, std::ostream& err, bool json);

struct CheckOptions {
    // As for an update: an unsigned package passes where keys are trusted.
    bool allowUnsigned = false;
    // A failure's details too, not only its line.
    bool verbose = false;
    // One JSON object instead of lines.
    bool json = false;
};

// Checks every file of the package against its SHA-256 and its signature against the trusted
// keys, loads its configuration from a private temporary folder and prints a summary. 0 when
// all is well and the updater would accept it, else 1.
int CheckPackage(const std::filesystem::path& package, const CheckOptions& options,
                 std::ostream& out, std::ostream& err);

// The package's configuration, loaded from a private temporary folder it is unpacked into;
// false with what failed.
bool LoadPackageConfig(const std::filesystem::path& package, config::DownloadServiceConfig& config,
                       std::string& error);

}  // namespace tapfix::cli
