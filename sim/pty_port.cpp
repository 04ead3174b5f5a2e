#include "sim/pty_port.hpp"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/port_registry.hpp"

namespace tapfix::sim {
namespace {

bool MakeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return false;
    }
    ::cfmakeraw(&tio);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool Fail(std::string* error, const std::string& what) {
    *error = what + ": " + std::strerror(errno);
    return false;
}

}  // namespace

PtyPort::~PtyPort() {
    Leave();
}

bool PtyPort::Appear(const std::filesystem::path& registry, int number,
                     const std::string& description, const platform::UsbLocation& usb,
                     std::string* error) {
    Leave();
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0) {
        return Fail(error, "no pseudo-terminal");
    }
    char slaveName[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, slaveName, sizeof slaveName) != 0) {
        Fail(error, "cannot unlock the pseudo-terminal");
        Leave();
        return false;
    }
    // Raw before the host can see it: no echo, no line discipline on the device's answers.
    slaveKeeper_ = ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slaveKeeper_ < 0 || !MakeRaw(master_) || !MakeRaw(slaveKeeper_)) {
        Fail(error, std::string("cannot configure ") + slaveName);
        Leave();
        return false;
    }
    registry_ = registry;
    number_ = number;
    displayName_ = description + " (COM" + std::to_string(number) + ")";
    if (!platform::RegisterPort(registry, number, slaveName, displayName_, error, usb)) {
        number_ = 0;
        Leave();
        return false;
    }
    return true;
}

void PtyPort::Leave() {
    if (number_ > 0) {
        platform::UnregisterPort(registry_, number_);
        number_ = 0;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (slaveKeeper_ >= 0) {
        ::close(slaveKeeper_);
        slaveKeeper_ = -1;
    }
}

std::size_t PtyPort::BytesUnreadByHost() const {
    int waiting = 0;
    if (slaveKeeper_ < 0 || ::ioctl(slaveKeeper_, FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return static_cast<std::size_t>(waiting);
}

bool PtyPort::HostBytesWaiting() const {
    pollfd entry{master_, POLLIN, 0};
    return master_ >= 0 && ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
}

bool PtyPort::HeldByHost() const {
    struct stat info {};
    if (slaveKeeper_ < 0 || ::fstat(slaveKeeper_, &info) != 0) {
        return false;
    }
    // "1: FLOCK  ADVISORY  WRITE 4321 00:1a:3 0 EOF": the device as hex major:minor, the inode.
    char id[64];
    std::snprintf(id, sizeof id, " %02x:%02x:%lu ", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long>(info.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        if ((line + " ").find(id) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::size_t PtyPort::Read(std::span<std::uint8_t> out) {
    if (master_ < 0) {
        return 0;
    }
    const ssize_t got = ::read(master_, out.data(), out.size());
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::size_t PtyPort::Write(std::span<const std::uint8_t> bytes, int patienceMs) {
    std::size_t done = 0;
    while (master_ >= 0 && done < bytes.size()) {
        const ssize_t put = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
        pollfd entry{master_, POLLOUT, 0};
        if (::poll(&entry, 1, patienceMs) <= 0) {
            break;
        }
    }
    return done;
}

}  // namespace tapfix::sim
