#include "platform/work_folder.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace tapfix::platform {
namespace {

namespace fs = std::filesystem;

constexpr mode_t kOthersRights = 077;

bool CreateParents(const fs::path& folder, std::string& error) {
    std::error_code ec;
    fs::create_directories(folder.parent_path(), ec);
    if (ec) {
        error = "cannot create the folder " + folder.parent_path().string() + ": " + ec.message();
        return false;
    }
    return true;
}

// Creates the folder private when it is missing and checks that it is a real folder of this
// user: a symlink or someone else's folder could redirect the calibration backup. `mode`
// receives its permission bits.
bool MakeOwnFolder(const fs::path& folder, mode_t& mode, std::string& error) {
    if (!CreateParents(folder, error)) {
        return false;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create the work folder " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        error = "cannot inspect the work folder " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISLNK(info.st_mode) || !S_ISDIR(info.st_mode)) {
        error =
            "the work folder " + folder.string() + " is a symbolic link or not a folder; refused";
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        error = "the work folder " + folder.string() + " belongs to another user; refused";
        return false;
    }
    mode = info.st_mode & 07777;
    return true;
}

bool MakePrivate(const fs::path& folder, mode_t mode, std::string& error) {
    if ((mode & kOthersRights) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        error =
            "cannot make the work folder " + folder.string() + " private: " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

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

bool PrepareWorkFolder(const std::filesystem::path& requested, WorkFolder& folder,
                       std::string& error) {
    fs::path chosen = requested.empty() ? DefaultWorkFolder() : requested;
    if (chosen.empty()) {
        error = "no work folder: neither XDG_STATE_HOME nor HOME is set";
        return false;
    }
    chosen = chosen.lexically_normal();
    fs::path bare = chosen.has_filename() ? chosen : chosen.parent_path();
    mode_t mode = 0;
    if (!MakeOwnFolder(bare, mode, error)) {
        return false;
    }
    folder.sharedRequested.clear();
    // A folder the user named keeps the rights it has; when others may enter it, the NV
    // backup (the router's calibration and identity) goes to a private folder inside it.
    if (!requested.empty() && (mode & kOthersRights) != 0) {
        folder.sharedRequested = bare;
        bare /= kPrivateSubfolder;
        if (!MakeOwnFolder(bare, mode, error)) {
            return false;
        }
    }
    if (!MakePrivate(bare, mode, error)) {
        return false;
    }
    folder.path = bare / "";
    return true;
}

}  // namespace tapfix::platform
