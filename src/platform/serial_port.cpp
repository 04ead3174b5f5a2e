#include "platform/serial_port.hpp"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/port_holders.hpp"

namespace tapfix::platform {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kReadBound{30};
constexpr milliseconds kWriteBoundPerByte{2};
constexpr milliseconds kWriteBoundConstant{500};
// Far above any answer of the protocols; a flooding device cannot grow memory without bound.
constexpr std::size_t kPendingCapacity = 64 * 1024;

int PollTimeout(milliseconds timeout) {
    return static_cast<int>(std::clamp<milliseconds::rep>(timeout.count(), 0, 1 << 30));
}

}  // namespace

SerialPort::SerialPort() : interruptFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SerialPort::~SerialPort() {
    Close();
    if (interruptFd_ >= 0) {
        ::close(interruptFd_);
    }
}

void SerialPort::Interrupt() {
    interrupted_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(interruptFd_, &one, sizeof one);
}

void SerialPort::Resume() {
    interrupted_ = false;
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(interruptFd_, &count, sizeof count);
}

// The owner's side of Interrupt(): a closed port makes the exchange routines give up at once,
// as for a device that left; a full close, so the next open is not refused by our own
// exclusive flag.
bool SerialPort::TakeInterrupt() {
    if (!interrupted_) {
        return false;
    }
    Close();
    return true;
}

void SerialPort::AbandonOpen(int error) {
    openErrno_ = error;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool SerialPort::FailOpen(const std::string& what, int error) {
    AbandonOpen(error);
    openError_ = what + ": " + std::strerror(error);
    return false;
}

bool SerialPort::FailHeld(const std::filesystem::path& device, int error) {
    // Our own descriptor goes first, so only the other holders are found.
    AbandonOpen(error);
    openError_ = DescribeHeldPort(device, FindPortHolders(device));
    return false;
}

bool SerialPort::Open(const std::filesystem::path& device, bool raiseDtr, Purge purge) {
    if (IsOpen()) {
        return true;
    }
    openError_.clear();
    openErrno_ = 0;
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        // EBUSY: another opener set TIOCEXCL.
        return error == EBUSY ? FailHeld(device, error)
                              : FailOpen("cannot open " + device.string(), error);
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return error == EWOULDBLOCK ? FailHeld(device, error)
                                    : FailOpen("cannot lock " + device.string(), error);
    }
    if (!Configure(raiseDtr)) {
        return false;
    }
    pending_.clear();
    PurgeBuffers(purge);
    return true;
}

bool SerialPort::Configure(bool raiseDtr) {
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) {
        return FailOpen("cannot read the line settings", errno);
    }
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B115200) != 0 || ::cfsetospeed(&tio, B115200) != 0 ||
        ::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        return FailOpen("cannot apply 115200 8N1", errno);
    }
    // A vanished USB port must not hold close() for the driver's default 30 s.
    serial_struct serial{};
    if (::ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
        serial.closing_wait = ASYNC_CLOSING_WAIT_NONE;
        ::ioctl(fd_, TIOCSSERIAL, &serial);
    }
    // TIOCEXCL keeps other non-root openers out; root is not stopped, the flock covers it.
    // Set last, so a failed open never leaves the flag behind.
    ::ioctl(fd_, TIOCEXCL);
    if (raiseDtr) {
        // Best effort: qcserial answers EINVAL, a pseudo-terminal ENOTTY.
        int bits = TIOCM_DTR;
        ::ioctl(fd_, TIOCMBIS, &bits);
    }
    return true;
}

void SerialPort::Close() {
    if (fd_ < 0) {
        return;
    }
    ::tcflush(fd_, TCIOFLUSH);
    // A pseudo-terminal keeps the exclusive flag after we close; a non-root reopen would fail.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    pending_.clear();
}

// What arrived before the hang-up stays readable: a router answers the switch to its
// download mode and leaves the bus at once, and that answer is the one the host waits for.
void SerialPort::Vanished() {
    ::close(fd_);
    fd_ = -1;
}

void SerialPort::PurgeBuffers(Purge purge) {
    if (fd_ < 0) {
        if (purge == Purge::Both) {
            pending_.clear();
        }
        return;
    }
    if (purge == Purge::Both) {
        ::tcflush(fd_, TCIOFLUSH);
        pending_.clear();
    } else {
        ::tcflush(fd_, TCOFLUSH);
    }
}

bool SerialPort::DrainKernelInput() {
    std::uint8_t chunk[4096];
    while (pending_.size() < kPendingCapacity) {
        const std::size_t room = std::min(sizeof chunk, kPendingCapacity - pending_.size());
        const ssize_t got = ::read(fd_, chunk, room);
        if (got > 0) {
            pending_.insert(pending_.end(), chunk, chunk + got);
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            return true;
        }
        // With VMIN = VTIME = 0 an idle tty also reads 0 bytes: only a hang-up means gone.
        short revents = 0;
        if (got == 0 && !(PollFor(POLLIN, milliseconds{0}, &revents) &&
                          (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)) {
            return true;
        }
        // Hang-up, EIO or any other error: the device left the bus.
        Vanished();
        return false;
    }
    return true;
}

bool SerialPort::PollFor(short events, milliseconds timeout, short* revents) {
    std::array<pollfd, 2> entries{{{fd_, events, 0}, {interruptFd_, POLLIN, 0}}};
    int ready = 0;
    do {
        ready = ::poll(entries.data(), entries.size(), PollTimeout(timeout));
    } while (ready < 0 && errno == EINTR);
    *revents = ready > 0 ? entries[0].revents : 0;
    return ready > 0 && !interrupted_ && entries[0].revents != 0;
}

std::size_t SerialPort::BytesWaiting() {
    if (fd_ < 0) {
        return pending_.size();
    }
    int kernel = 0;
    if (::ioctl(fd_, FIONREAD, &kernel) != 0 || kernel < 0) {
        kernel = 0;
    }
    return pending_.size() + static_cast<std::size_t>(kernel);
}

std::span<const std::uint8_t> SerialPort::PeekWaiting() {
    if (fd_ >= 0) {
        DrainKernelInput();
    }
    return pending_;
}

bool SerialPort::WaitForMoreInput(std::size_t known, milliseconds timeout) {
    if (TakeInterrupt() || fd_ < 0 || !DrainKernelInput()) {
        return false;
    }
    if (pending_.size() > known) {
        return true;
    }
    if (pending_.size() >= kPendingCapacity) {
        return false;
    }
    short revents = 0;
    if (!PollFor(POLLIN, timeout, &revents)) {
        TakeInterrupt();
        return false;
    }
    if ((revents & POLLIN) == 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        Vanished();
        return false;
    }
    return DrainKernelInput() && pending_.size() > known;
}

std::size_t SerialPort::Read(std::span<std::uint8_t> out) {
    if (out.empty()) {
        return 0;
    }
    WaitForMoreInput(0, kReadBound);
    const std::size_t count = std::min(out.size(), pending_.size());
    std::copy_n(pending_.begin(), count, out.begin());
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
    return count;
}

std::size_t SerialPort::Write(std::span<const std::uint8_t> data) {
    if (TakeInterrupt() || fd_ < 0) {
        return 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + kWriteBoundConstant +
                          kWriteBoundPerByte * static_cast<long>(data.size());
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t put = ::write(fd_, data.data() + written, data.size() - written);
        if (put > 0) {
            written += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            if (errno == EIO || errno == ENXIO || errno == ENODEV) {
                Vanished();
            }
            break;
        }
        const auto left =
            std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        short revents = 0;
        if (left.count() <= 0 || !PollFor(POLLOUT, left, &revents) || (revents & POLLOUT) == 0) {
            break;
        }
    }
    return written;
}

}  // namespace tapfix::platform
