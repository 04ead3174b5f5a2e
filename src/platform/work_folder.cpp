#include "platform/work_folder.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace tapfix::platform {

std::filesystem::path UserStateFolder() {
    std::filesystem::path state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') {
        state = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        state = std::filesystem::path(home) / ".local" / "state";
    } else {
        return {};
    }
    return state / "tapfix";
}

std::filesystem::path DefaultWorkFolder() {
    const std::filesystem::path state = UserStateFolder();
    return state.empty() ? state : state / "TapfixUpdate" / "";
}

bool PrepareWorkFolder(const std::filesystem::path& requested, std::filesystem::path& folder,
                       std::string& error) {
    std::filesystem::path chosen = requested.empty() ? DefaultWorkFolder() : requested;
    if (chosen.empty()) {
        error = "no work folder: neither XDG_STATE_HOME nor HOME is set";
        return false;
    }
    chosen = chosen.lexically_normal();
    const std::filesystem::path bare = chosen.has_filename() ? chosen : chosen.parent_path();
    std::error_code ec;
    std::filesystem::create_directories(bare.parent_path(), ec);
    if (::mkdir(bare.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create the work folder " + bare.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::lstat(bare.c_str(), &info) != 0) {
        error = "cannot inspect the work folder " + bare.string() + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISLNK(info.st_mode) || !S_ISDIR(info.st_mode)) {
        error = "the work folder " + bare.string() + " is a symbolic link or not a folder; refused";
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        error = "the work folder " + bare.string() + " belongs to another user; refused";
        return false;
    }
    // The NV backup in it is the device's calibration and identity: private to the user.
    if ((info.st_mode & 077) != 0 && ::chmod(bare.c_str(), 0700) != 0) {
        error =
            "cannot make the work folder " + bare.string() + " private: " + std::strerror(errno);
        return false;
    }
    folder = bare / "";
    return true;
}

}  // namespace tapfix::platform
