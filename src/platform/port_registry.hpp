#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/port_enumeration.hpp"

namespace tapfix::platform {

// A port registry is a folder where port n is the symlink "COM<n>" to a tty device, the text
// file "COM<n>.name" holds its display name and, optionally, "COM<n>.usb" its USB location
// ("path=1-1.4" and "serial=..." lines). TAPFIX_PORTS_DIR names the one in use.
std::optional<std::filesystem::path> PortsDirectory();

// The device file of port number n, from the registry when one is set, else from the
// machine's USB serial devices. Empty when no such port is present.
std::optional<std::filesystem::path> ResolvePortDevice(int number);

// Writers, for the simulated router and tests. A port appears atomically: the name and USB
// files are written first, then the symlink is renamed into place; it disappears symlink
// first. An unknown location writes no USB file.
bool RegisterPort(const std::filesystem::path& registry, int number,
                  const std::filesystem::path& device, std::string_view displayName,
                  std::string* error = nullptr, const UsbLocation& usb = {});
void UnregisterPort(const std::filesystem::path& registry, int number);
// The lowest n >= start whose symlink does not exist.
int LowestFreePortNumber(const std::filesystem::path& registry, int start);

std::filesystem::path RegistryLinkPath(const std::filesystem::path& registry, int number);
std::filesystem::path RegistryNamePath(const std::filesystem::path& registry, int number);
std::filesystem::path RegistryUsbPath(const std::filesystem::path& registry, int number);

// The text of a "COM<n>.usb" file, and back; lines the reader does not know are skipped.
std::string FormatUsbLocation(const UsbLocation& usb);
UsbLocation ParseUsbLocation(std::string_view text);

}  // namespace tapfix::platform
