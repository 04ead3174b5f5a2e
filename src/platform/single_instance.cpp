#include "platform/single_instance.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/port_holders.hpp"
#include "platform/work_folder.hpp"

namespace tapfix::platform {

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

SingleInstanceLock::Outcome SingleInstanceLock::Acquire(const std::filesystem::path& folder,
                                                        std::string_view name, std::string& error) {
    if (folder.empty()) {
        error = "no folder for the single-instance lock (neither XDG_RUNTIME_DIR nor HOME is set)";
        return Outcome::Failed;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    ::mkdir(folder.c_str(), 0700);
    const std::filesystem::path file = folder / (std::string(name) + ".lock");
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = "cannot open the lock file " + file.string() + ": " + std::strerror(errno);
        return Outcome::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int cause = errno;
        ::close(fd);
        if (cause == EWOULDBLOCK) {
            const auto holders = FindLockHolders(file);
            error = holders.empty() ? std::string() : "It runs as " + NameProcesses(holders) + ".";
            return Outcome::HeldElsewhere;
        }
        error = "cannot lock " + file.string() + ": " + std::strerror(cause);
        return Outcome::Failed;
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
    return Outcome::Acquired;
}

std::filesystem::path SingleInstanceLock::DefaultFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && runtime[0] == '/') {
        return runtime;
    }
    return UserStateFolder();
}

}  // namespace tapfix::platform
