#include "nv/efs_names.hpp"

#include <algorithm>
#include <cstdio>

namespace tapfix::nv {
namespace {

// Numbers from here on name the calibration files listed with their full EFS path.
constexpr std::int32_t kFirstPathNamedNumber = 60000;

}  // namespace

std::string EightDigits(std::int32_t number) {
    char name[16];
    std::snprintf(name, sizeof name, "%08d", number);
    return name;
}

bool IsEightDigits(std::string_view name) {
    return name.size() == 8 &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string EfsPathOf(const config::DownloadServiceConfig& config, std::string_view name) {
    const std::int32_t number = config::ReadInt(name);
    if (number < kFirstPathNamedNumber) {
        return std::string(kRfItemFolder) + std::string(name);
    }
    for (const config::EfsNvFile& pair : config.efsRfNvOver6w) {
        if (pair.number == number) {
            return pair.efsPath;
        }
    }
    return {};
}

std::optional<std::string> EfsNameOf(const config::DownloadServiceConfig& config,
                                     std::string_view path) {
    if (path.starts_with('/')) {
        path.remove_prefix(1);
    }
    if (path.starts_with(kRfItemFolder)) {
        const std::string_view name = path.substr(kRfItemFolder.size());
        if (IsEightDigits(name) && config::ReadInt(name) < kFirstPathNamedNumber) {
            return std::string(name);
        }
        return std::nullopt;
    }
    for (const config::EfsNvFile& pair : config.efsRfNvOver6w) {
        if (pair.efsPath == path && pair.number >= kFirstPathNamedNumber) {
            return EightDigits(pair.number);
        }
    }
    return std::nullopt;
}

}  // namespace tapfix::nv
