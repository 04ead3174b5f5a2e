#include "platform/port_registry.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/port_enumeration.hpp"

namespace tapfix::platform {
namespace fs = std::filesystem;

namespace {

bool Fail(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
    return false;
}

// Readers list the registry at any moment: a file appears whole, by rename. Not flushed to
// disk: a registry describes ports that vanish with the machine anyway.
bool WriteThenRename(const fs::path& file, std::string_view text, std::string* error) {
    const fs::path temporary = file.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) {
            return Fail(error, "cannot write " + temporary.string());
        }
    }
    std::error_code ec;
    fs::rename(temporary, file, ec);
    if (ec) {
        return Fail(error, "cannot rename " + temporary.string() + ": " + ec.message());
    }
    return true;
}

constexpr std::string_view kPathKey = "path=";
constexpr std::string_view kSerialKey = "serial=";

}  // namespace

fs::path RegistryLinkPath(const fs::path& registry, int number) {
    return registry / ("COM" + std::to_string(number));
}

fs::path RegistryNamePath(const fs::path& registry, int number) {
    return registry / ("COM" + std::to_string(number) + ".name");
}

fs::path RegistryUsbPath(const fs::path& registry, int number) {
    return registry / ("COM" + std::to_string(number) + ".usb");
}

std::string FormatUsbLocation(const UsbLocation& usb) {
    return std::string(kPathKey) + usb.path + "\n" + std::string(kSerialKey) + usb.serial + "\n";
}

UsbLocation ParseUsbLocation(std::string_view text) {
    UsbLocation usb;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        if (line.starts_with(kPathKey)) {
            usb.path = line.substr(kPathKey.size());
        } else if (line.starts_with(kSerialKey)) {
            usb.serial = line.substr(kSerialKey.size());
        }
    }
    return usb;
}

std::optional<fs::path> PortsDirectory() {
    const char* dir = std::getenv("TAPFIX_PORTS_DIR");
    if (dir == nullptr || *dir == '\0') {
        return std::nullopt;
    }
    return fs::path(dir);
}

std::optional<fs::path> ResolvePortDevice(int number) {
    if (number <= 0) {
        return std::nullopt;
    }
    if (const auto registry = PortsDirectory()) {
        const fs::path link = RegistryLinkPath(*registry, number);
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(link, ec))) {
            return std::nullopt;
        }
        return link;
    }
    return ResolveTtyPortDevice(number, "/dev");
}

bool RegisterPort(const fs::path& registry, int number, const fs::path& device,
                  std::string_view displayName, std::string* error, const UsbLocation& usb) {
    std::error_code ec;
    fs::create_directories(registry, ec);
    if (!WriteThenRename(RegistryNamePath(registry, number), std::string(displayName) + "\n",
                         error)) {
        return false;
    }
    const fs::path usbPath = RegistryUsbPath(registry, number);
    if (usb.Known()) {
        if (!WriteThenRename(usbPath, FormatUsbLocation(usb), error)) {
            return false;
        }
    } else if (::unlink(usbPath.c_str()) != 0 && errno != ENOENT) {
        return Fail(error, "cannot remove " + usbPath.string() + ": " + std::strerror(errno));
    }
    const fs::path link = RegistryLinkPath(registry, number);
    const fs::path linkTemp = link.string() + ".tmp";
    ::unlink(linkTemp.c_str());
    if (::symlink(device.c_str(), linkTemp.c_str()) != 0) {
        return Fail(error, "cannot link " + linkTemp.string() + ": " + std::strerror(errno));
    }
    if (::rename(linkTemp.c_str(), link.c_str()) != 0) {
        ::unlink(linkTemp.c_str());
        return Fail(error, "cannot rename " + linkTemp.string() + ": " + std::strerror(errno));
    }
    return true;
}

void UnregisterPort(const fs::path& registry, int number) {
    ::unlink(RegistryLinkPath(registry, number).c_str());
    ::unlink(RegistryNamePath(registry, number).c_str());
    ::unlink(RegistryUsbPath(registry, number).c_str());
}

int LowestFreePortNumber(const fs::path& registry, int start) {
    int number = start < 1 ? 1 : start;
    std::error_code ec;
    while (fs::exists(fs::symlink_status(RegistryLinkPath(registry, number), ec))) {
        ++number;
    }
    return number;
}

}  // namespace tapfix::platform
