#include "nv/backup_files.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_io.hpp"

namespace tapfix::nv {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kNvFilePrefix = "Channel";
constexpr std::string_view kNvFileSuffix = ".nv";

}  // namespace

std::string NvFileName(int slot) {
    return std::string(kNvFilePrefix) + std::to_string(slot) + std::string(kNvFileSuffix);
}

bool IsNvFileName(std::string_view name) {
    if (!name.starts_with(kNvFilePrefix) || !name.ends_with(kNvFileSuffix)) {
        return false;
    }
    const std::string_view digits = name.substr(
        kNvFilePrefix.size(), name.size() - kNvFilePrefix.size() - kNvFileSuffix.size());
    return !digits.empty() &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool CreatePrivateFolder(const fs::path& folder, std::string& error) {
    if (::mkdir(folder.c_str(), 0700) == 0) {
        return true;
    }
    const int reason = errno;
    std::error_code ec;
    if (reason == EEXIST && fs::is_directory(folder, ec)) {
        return true;
    }
    error = "cannot create " + folder.string() + ": " + std::strerror(reason);
    return false;
}

bool WritePrivateFile(const fs::path& file, std::string_view bytes, std::string& error) {
    return platform::WriteFileAtomically(file, bytes, error, platform::kPrivateFile);
}

bool CopyPrivateFile(const fs::path& from, const fs::path& to, std::string& error) {
    std::string bytes;
    return platform::ReadWholeFile(from, kMaxBackupFile, bytes, error) &&
           WritePrivateFile(to, bytes, error);
}

bool ListFolderFiles(const fs::path& folder, std::vector<std::string>& names, std::string& error) {
    names.clear();
    std::error_code ec;
    for (fs::directory_iterator entry(folder, ec), end; !ec && entry != end; entry.increment(ec)) {
        const std::string name = entry->path().filename().string();
        if (!name.starts_with('.') && entry->is_regular_file(ec)) {
            names.push_back(name);
        }
    }
    if (ec) {
        error = "cannot list " + folder.string() + ": " + ec.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    return true;
}

bool CopyFolderFiles(const fs::path& from, const fs::path& to, std::string& error) {
    std::vector<std::string> names;
    if (!ListFolderFiles(from, names, error)) {
        return false;
    }
    return std::all_of(names.begin(), names.end(), [&](const std::string& name) {
        return CopyPrivateFile(from / name, to / name, error);
    });
}

void RemoveTreeKeepingArchive(const fs::path& folder) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(folder, ec);
    if (ec || !fs::exists(status)) {
        return;
    }
    if (!fs::is_directory(status)) {
        fs::remove(folder, ec);
        return;
    }
    bool keeps = false;
    for (fs::directory_iterator entry(folder, ec), end; !ec && entry != end; entry.increment(ec)) {
        if (entry->path().filename() == kArchiveName) {
            keeps = true;
            continue;
        }
        RemoveTreeKeepingArchive(entry->path());
        std::error_code left;
        keeps = keeps || fs::exists(fs::symlink_status(entry->path(), left));
    }
    if (!keeps) {
        fs::remove(folder, ec);
    }
}

bool RenameEntry(const fs::path& from, const fs::path& to, std::string& error) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec) {
        error = "cannot move " + from.string() + " to " + to.string() + ": " + ec.message();
        return false;
    }
    return true;
}

bool ReplaceFolder(const fs::path& staging, const fs::path& folder, std::string& error) {
    RemoveTreeKeepingArchive(folder);
    return RenameEntry(staging, folder, error);
}

}  // namespace tapfix::nv
