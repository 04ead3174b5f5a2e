#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tapfix::platform {

// Where a USB serial port's device sits: the physical socket, which a router keeps across
// every re-enumeration (switch to download mode, the programmer's start, a reset), and its
// USB serial number, which it keeps across sockets. Either may be unknown (empty).
struct UsbLocation {
    // The USB device's sysfs name, bus and port chain: "1-1.4".
    std::string path{};
    // The device's "serial" string descriptor; many routers have none.
    std::string serial{};

    bool Known() const { return !path.empty() || !serial.empty(); }
    bool operator==(const UsbLocation&) const = default;
};

// One present serial port. The display name ends in "(COM<number>)" so that names can be
// searched the way the device's ports are searched everywhere else; it is empty when the
// port's name cannot be read (such a port is listed but does not count for a search).
struct PortInfo {
    int number = 0;
    std::optional<std::string> displayName;
    std::filesystem::path device;
    // Empty for a port that is not on USB (or a registry port written without one).
    UsbLocation usb;
};

// The ports present at one moment, in listing order (by number). When `available` is false
// the list itself could not be obtained and `error` says why; that is not the same as "no
// ports", which is an available, empty list.
struct PortList {
    bool available = false;
    std::string error;
    std::vector<PortInfo> ports;
};

// A USB serial interface the router shows, named the way its driver package names it.
struct UsbIdentity {
    std::uint16_t vendorId;
    std::uint16_t productId;
    int interfaceNumber;  // kAnyInterface: every interface of the product
    std::string_view description;
};
inline constexpr int kAnyInterface = -1;

// The router's own interfaces (the udev rules shipped with the program name the same ones).
std::span<const UsbIdentity> RouterUsbIdentities();

// The registry named by TAPFIX_PORTS_DIR when it is set (then it is the only source), else
// the machine's USB serial ports from sysfs.
PortList ListPorts();

// Port n of a registry is the symlink "COM<n>"; its name is the first line of "COM<n>.name"
// and its USB location, when the writer knew one, the lines "path=..." and "serial=..." of
// "COM<n>.usb".
// A registry folder that does not exist yet lists no ports; one that cannot be read fails.
PortList ListRegistryPorts(const std::filesystem::path& registry);

// Where the machine's USB serial ports are found; tests point these at a fake tree.
struct SysfsRoots {
    std::filesystem::path sysfs{"/sys"};
    std::filesystem::path dev{"/dev"};
};

// The ttyUSB and ttyACM devices of <sysfs>/class/tty. A machine without any lists nothing.
PortList ListSysfsPorts(const SysfsRoots& roots = {});

// Port numbers of USB serial ttys. Two bands, so that the two driver families never share a
// number and every number names exactly one tty:
//   ttyUSB<k> -> COM<k + 1>     (k = 0..999; the usb-serial core has 512 minors)
//   ttyACM<k> -> COM<k + 1001>  (k = 0..999; cdc-acm has 256 minors)
// Anything else has no number.
std::optional<int> TtyPortNumber(std::string_view ttyName);
// The reverse: "ttyUSB2" for 3, "ttyACM0" for 1001; empty outside both bands.
std::optional<std::string> PortTtyName(int number);
// <dev>/<tty> of port n when that device file exists.
std::optional<std::filesystem::path> ResolveTtyPortDevice(int number,
                                                          const std::filesystem::path& dev);

}  // namespace tapfix::platform
