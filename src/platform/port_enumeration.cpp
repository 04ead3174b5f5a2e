#include "platform/port_enumeration.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <functional>
#include <system_error>

#include "platform/file_io.hpp"
#include "platform/port_registry.hpp"
#include "platform/text_file.hpp"

namespace tapfix::platform {
namespace fs = std::filesystem;

namespace {

// The router in normal mode is a composite device whose interface 0 is the diagnostic port;
// in emergency download mode it is a single-interface 05c6:9008 on qcserial.
constexpr std::array kKnownIdentities{
    UsbIdentity{0x05c6, 0x9025, 0, "Qualcomm HS-USB Diagnostics 9025"},
    UsbIdentity{0x05c6, 0x9008, kAnyInterface, "Qualcomm HS-USB QDLoader 9008"},
};

struct TtyBand {
    std::string_view prefix;
    int firstNumber;
};
constexpr std::array kTtyBands{TtyBand{"ttyUSB", 1}, TtyBand{"ttyACM", 1001}};
constexpr int kBandWidth = 1000;
// A registry's USB file holds two short lines.
constexpr std::size_t kMaxUsbFile = 1024;

// The whole text as a number without sign, nothing before or after it.
std::optional<int> ParseWhole(std::string_view text, int base = 10) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || text.front() == '-' || ec != std::errc() ||
        end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// sysfs USB attributes are hexadecimal: idVendor "05c6", bInterfaceNumber "00".
std::optional<int> ParseHexAttribute(const fs::path& file) {
    const auto text = ReadFirstLine(file, 64);
    return text ? ParseWhole(*text, 16) : std::nullopt;
}

std::string WithPortName(std::string_view description, int number) {
    return std::string(description) + " (COM" + std::to_string(number) + ")";
}

// Describes one folder entry as a port, or not.
using EntryDescriber = std::function<std::optional<PortInfo>(const std::string& entry)>;

// The ports among a folder's entries, by number. A folder that does not exist holds none.
PortList ListFolder(const fs::path& folder, const EntryDescriber& describe) {
    PortList list;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec == std::errc::no_such_file_or_directory) {
        list.available = true;
        return list;
    }
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (auto port = describe(it->path().filename().string())) {
            list.ports.push_back(std::move(*port));
        }
    }
    if (ec) {
        list.error = "cannot list " + folder.string() + ": " + ec.message();
        list.ports.clear();
        return list;
    }
    std::sort(list.ports.begin(), list.ports.end(),
              [](const PortInfo& a, const PortInfo& b) { return a.number < b.number; });
    list.available = true;
    return list;
}

std::optional<int> RegistryLinkNumber(std::string_view entry) {
    if (!entry.starts_with("COM")) {
        return std::nullopt;
    }
    const auto digits = entry.substr(3);
    if (digits.empty() || digits.front() == '0') {
        return std::nullopt;
    }
    return ParseWhole(digits);
}

// The description of a known interface, named the way the router's driver package names it.
std::optional<std::string_view> KnownUsbDescription(std::uint16_t vendorId, std::uint16_t productId,
                                                    int interfaceNumber) {
    for (const auto& identity : kKnownIdentities) {
        if (identity.vendorId == vendorId && identity.productId == productId &&
            (identity.interfaceNumber == kAnyInterface ||
             identity.interfaceNumber == interfaceNumber)) {
            return identity.description;
        }
    }
    return std::nullopt;
}

// The USB interface folder above a tty's device: ttyUSB devices hang below their interface,
// ttyACM devices are the interface itself.
std::optional<fs::path> UsbInterfaceOf(const fs::path& ttyClassEntry) {
    std::error_code ec;
    fs::path folder = fs::canonical(ttyClassEntry / "device", ec);
    for (int level = 0; !ec && level < 3; ++level) {
        if (fs::exists(folder / "bInterfaceNumber", ec)) {
            return folder;
        }
        folder = folder.parent_path();
    }
    return std::nullopt;
}

// The USB device's folder is named after its bus and port chain ("1-1.4"): the socket.
UsbLocation SysfsUsbLocation(const std::optional<fs::path>& interface) {
    if (!interface) {
        return {};
    }
    const fs::path usbDevice = interface->parent_path();
    return UsbLocation{.path = usbDevice.filename().string(),
                       .serial = ReadFirstLine(usbDevice / "serial", 256).value_or("")};
}

std::string SysfsDescription(const std::optional<fs::path>& interface, const std::string& ttyName) {
    if (!interface) {
        return ttyName;
    }
    const fs::path usbDevice = interface->parent_path();
    const auto vendor = ParseHexAttribute(usbDevice / "idVendor");
    const auto product = ParseHexAttribute(usbDevice / "idProduct");
    const auto number = ParseHexAttribute(*interface / "bInterfaceNumber");
    if (vendor && product && number) {
        if (const auto known = KnownUsbDescription(static_cast<std::uint16_t>(*vendor),
                                                   static_cast<std::uint16_t>(*product), *number)) {
            return std::string(*known);
        }
    }
    const auto productString = ReadFirstLine(usbDevice / "product", 256);
    return productString && !productString->empty() ? *productString : ttyName;
}

}  // namespace

std::span<const UsbIdentity> RouterUsbIdentities() {
    return kKnownIdentities;
}

std::optional<int> TtyPortNumber(std::string_view ttyName) {
    for (const auto& band : kTtyBands) {
        if (!ttyName.starts_with(band.prefix)) {
            continue;
        }
        const auto digits = ttyName.substr(band.prefix.size());
        if (digits.empty() || (digits.size() > 1 && digits.front() == '0')) {
            return std::nullopt;
        }
        const auto index = ParseWhole(digits);
        if (!index || *index >= kBandWidth) {
            return std::nullopt;
        }
        return band.firstNumber + *index;
    }
    return std::nullopt;
}

std::optional<std::string> PortTtyName(int number) {
    for (const auto& band : kTtyBands) {
        if (number >= band.firstNumber && number < band.firstNumber + kBandWidth) {
            return std::string(band.prefix) + std::to_string(number - band.firstNumber);
        }
    }
    return std::nullopt;
}

std::optional<fs::path> ResolveTtyPortDevice(int number, const fs::path& dev) {
    const auto tty = PortTtyName(number);
    if (!tty) {
        return std::nullopt;
    }
    const fs::path device = dev / *tty;
    std::error_code ec;
    if (!fs::exists(device, ec)) {
        return std::nullopt;
    }
    return device;
}

PortList ListRegistryPorts(const fs::path& registry) {
    return ListFolder(registry, [&](const std::string& entry) -> std::optional<PortInfo> {
        const auto number = RegistryLinkNumber(entry);
        const fs::path link = registry / entry;
        std::error_code ec;
        if (!number || !fs::is_symlink(fs::symlink_status(link, ec))) {
            return std::nullopt;
        }
        std::string usbText;
        std::string ignored;
        ReadWholeFile(RegistryUsbPath(registry, *number), kMaxUsbFile, usbText, ignored);
        return PortInfo{.number = *number,
                        .displayName = ReadFirstLine(RegistryNamePath(registry, *number)),
                        .device = link,
                        .usb = ParseUsbLocation(usbText)};
    });
}

PortList ListSysfsPorts(const SysfsRoots& roots) {
    const fs::path ttyClass = roots.sysfs / "class" / "tty";
    return ListFolder(ttyClass, [&](const std::string& entry) -> std::optional<PortInfo> {
        const auto number = TtyPortNumber(entry);
        if (!number) {
            return std::nullopt;
        }
        const auto interface = UsbInterfaceOf(ttyClass / entry);
        return PortInfo{.number = *number,
                        .displayName = WithPortName(SysfsDescription(interface, entry), *number),
                        .device = roots.dev / entry,
                        .usb = SysfsUsbLocation(interface)};
    });
}

PortList ListPorts() {
    if (const auto registry = PortsDirectory()) {
        return ListRegistryPorts(*registry);
    }
    return ListSysfsPorts();
}

}  // namespace tapfix::platform
