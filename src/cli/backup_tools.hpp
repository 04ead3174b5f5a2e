#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "app/application.hpp"

// The console's backup tools that need no router: the list of backups, and the exchange with
// XQCN files. Each returns the exit status: 0 done, 1 refused or failed (nothing changed).
namespace tapfix::cli {

// Every backup of the work folder, one line each, or one JSON object each.
int ListBackups(const std::filesystem::path& workFolder, bool json, std::ostream& out);

// The backup `which` names (a folder or an IMEI; empty: the newest complete one) into `file`.
int ExportXqcn(const app::StartupOptions& options, const std::filesystem::path& file,
               const std::string& which, std::ostream& out, std::ostream& err);

// An XQCN file into the archive, as a backup of the IMEI it holds.
int ImportXqcn(const app::StartupOptions& options, const std::filesystem::path& file,
               std::ostream& out, std::ostream& err);

}  // namespace tapfix::cli
