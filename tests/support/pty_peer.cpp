#include "support/pty_peer.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/port_registry.hpp"

namespace tapfix::test {
namespace {

void MakeRaw(int fd) {
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace

std::uint16_t ReferenceFcs(const Bytes& payload) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : payload) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408U)
                                  : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return static_cast<std::uint16_t>(~crc);
}

Bytes ReferenceFrame(const Bytes& payload, bool openingFlag) {
    Bytes body = payload;
    const std::uint16_t fcs = ReferenceFcs(payload);
    body.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
    body.push_back(static_cast<std::uint8_t>(fcs >> 8));
    Bytes frame;
    if (openingFlag) {
        frame.push_back(0x7E);
    }
    for (const std::uint8_t byte : body) {
        if (byte == 0x7E || byte == 0x7D) {
            frame.push_back(0x7D);
            frame.push_back(static_cast<std::uint8_t>(byte ^ 0x20));
        } else {
            frame.push_back(byte);
        }
    }
    frame.push_back(0x7E);
    return frame;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char cell[4];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", byte);
        text += cell;
    }
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

PtyPeer::PtyPeer(int portNumber, const std::string& displayName) : portNumber_(portNumber) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    const std::string slave = ::ptsname(master_);
    // Holding the slave open keeps the master readable while the host has the port closed.
    slaveKeeper_ = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    MakeRaw(master_);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    platform::RegisterPort(dir_.Path(), portNumber_, slave,
                           displayName + " (COM" + std::to_string(portNumber_) + ")");
}

PtyPeer::~PtyPeer() {
    Vanish();
}

void PtyPeer::Respond(Responder responder) {
    {
        std::lock_guard lock(mutex_);
        responder_ = std::move(responder);
    }
    if (!server_.joinable()) {
        server_ = std::thread([this] { Serve(); });
    }
}

void PtyPeer::AnswerAlways(std::vector<Write> writes) {
    Respond([writes](const Bytes&) { return writes; });
}

std::vector<Bytes> PtyPeer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool PtyPeer::WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
}

void PtyPeer::Send(const Bytes& bytes) {
    std::size_t done = 0;
    while (master_ >= 0 && done < bytes.size()) {
        const ssize_t put = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
        } else {
            pollfd entry{master_, POLLOUT, 0};
            ::poll(&entry, 1, 10);
        }
    }
}

Bytes PtyPeer::Collect(std::chrono::milliseconds quiet) {
    Bytes all;
    std::uint8_t chunk[4096];
    for (;;) {
        pollfd entry{master_, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(quiet.count())) <= 0) {
            return all;
        }
        const ssize_t got = ::read(master_, chunk, sizeof chunk);
        if (got <= 0) {
            return all;
        }
        all.insert(all.end(), chunk, chunk + got);
    }
}

void PtyPeer::Vanish() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (server_.joinable()) {
        server_.join();
    }
    platform::UnregisterPort(dir_.Path(), portNumber_);
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (slaveKeeper_ >= 0) {
        ::close(slaveKeeper_);
        slaveKeeper_ = -1;
    }
}

void PtyPeer::HandleRequest(const Bytes& request) {
    Responder responder;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        responder = responder_;
    }
    arrived_.notify_all();
    for (const Write& write : responder(request)) {
        std::this_thread::sleep_for(write.delay);
        Send(write.bytes);
    }
}

void PtyPeer::Serve() {
    Bytes pending;
    std::uint8_t chunk[4096];
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
        }
        pollfd entry{master_, POLLIN, 0};
        if (::poll(&entry, 1, 10) <= 0) {
            continue;
        }
        const ssize_t got = ::read(master_, chunk, sizeof chunk);
        if (got <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        for (ssize_t i = 0; i < got; ++i) {
            pending.push_back(chunk[i]);
            if (chunk[i] == 0x7E && pending.size() > 1) {
                HandleRequest(pending);
                pending.clear();
            }
        }
    }
}

}  // namespace tapfix::test
