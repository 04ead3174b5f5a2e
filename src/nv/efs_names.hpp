#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/download_config.hpp"

// The EFS files of a backup are named by a number in eight digits: below 60000 the RF item
// file "nv/item_files/rfnv/<name>", from 60000 on the file the configuration pairs with it.
namespace tapfix::nv {

inline constexpr std::string_view kRfItemFolder = "nv/item_files/rfnv/";

std::string EightDigits(std::int32_t number);
bool IsEightDigits(std::string_view name);
// The EFS path (without a leading "/") of a backup file; empty when the configuration names
// no file for it.
std::string EfsPathOf(const config::DownloadServiceConfig& config, std::string_view name);
// The backup file name of an EFS path (with or without its leading "/"), when the backup
// keeps such a file.
std::optional<std::string> EfsNameOf(const config::DownloadServiceConfig& config,
                                     std::string_view path);

}  // namespace tapfix::nv
