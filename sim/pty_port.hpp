#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "platform/port_enumeration.hpp"

namespace tapfix::sim {

// The device's USB serial interface: a pseudo-terminal whose slave is registered as COM<n>
// in the port registry. The simulator keeps one slave descriptor of its own, so the master
// does not read EIO while the host has the port closed.
class PtyPort {
  public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Creates the pseudo-terminal (raw) and registers it as "<description> (COM<number>)" at
    // the USB location.
    bool Appear(const std::filesystem::path& registry, int number, const std::string& description,
                const platform::UsbLocation& usb, std::string* error);
    // Unregisters the port, then closes both ends, so an open host descriptor sees a hang-up.
    void Leave();

    bool Present() const { return master_ >= 0; }
    int MasterFd() const { return master_; }
    int Number() const { return number_; }
    const std::string& DisplayName() const { return displayName_; }

    // What the host has not yet taken from its input queue.
    std::size_t BytesUnreadByHost() const;
    // True when the host has sent bytes the device has not read yet.
    bool HostBytesWaiting() const;
    // True while a host holds the port: the host's serial port takes an flock on it, which
    // the kernel lists in /proc/locks until the host closes it or dies.
    bool HeldByHost() const;
    // Reads what the host sent; 0 when nothing is waiting.
    std::size_t Read(std::span<std::uint8_t> out);
    // Writes all bytes unless the host leaves them unread for `patience`; returns bytes written.
    std::size_t Write(std::span<const std::uint8_t> bytes, int patienceMs);

  private:
    std::filesystem::path registry_;
    int number_ = 0;
    std::string displayName_;
    int master_ = -1;
    int slaveKeeper_ = -1;
};

}  // namespace tapfix::sim
