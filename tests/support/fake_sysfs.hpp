#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace tapfix::test {

// A sysfs and /dev in miniature under a test folder, laid out as the kernel lays out USB
// serial ttys: class/tty/<tty>/device links to the usb-serial port below its interface
// (ttyUSB) or to the interface itself (ttyACM); the interface holds bInterfaceNumber, the
// USB device above it (named by its bus and port chain, "1-1.4") idVendor, idProduct,
// product and serial.
class FakeSysfs {
  public:
    explicit FakeSysfs(const std::filesystem::path& root)
        : sysfs_(root / "sys"), dev_(root / "dev") {
        std::filesystem::create_directories(sysfs_ / "class" / "tty");
        std::filesystem::create_directories(dev_);
    }

    const std::filesystem::path& Sysfs() const { return sysfs_; }
    const std::filesystem::path& Dev() const { return dev_; }

    struct UsbDevice {
        std::optional<std::string> product{};
        std::optional<std::string> serial{};
        // Empty: "1-<n>" for the nth device added.
        std::string location{};
    };

    void AddUsbTty(const std::string& tty, std::uint16_t vendorId, std::uint16_t productId,
                   int interfaceNumber, const std::optional<std::string>& product = {}) {
        AddUsbTty(tty, vendorId, productId, interfaceNumber, UsbDevice{.product = product});
    }

    void AddUsbTty(const std::string& tty, std::uint16_t vendorId, std::uint16_t productId,
                   int interfaceNumber, const UsbDevice& usb) {
        ++devices_;
        const std::string location =
            usb.location.empty() ? "1-" + std::to_string(devices_) : usb.location;
        const auto device = sysfs_ / "devices" / "usb1" / location;
        const auto interface = device / (location + ":1." + std::to_string(interfaceNumber));
        std::filesystem::create_directories(interface);
        Write(device / "idVendor", Hex4(vendorId));
        Write(device / "idProduct", Hex4(productId));
        if (usb.product) {
            Write(device / "product", *usb.product);
        }
        if (usb.serial) {
            Write(device / "serial", *usb.serial);
        }
        char number[8];
        std::snprintf(number, sizeof number, "%02x", interfaceNumber);
        Write(interface / "bInterfaceNumber", number);
        auto port = interface;
        if (tty.starts_with("ttyUSB")) {
            port = interface / tty;
            std::filesystem::create_directories(port);
        }
        AddTty(tty);
        std::filesystem::create_symlink(port, sysfs_ / "class" / "tty" / tty / "device");
    }

    // A tty with no USB device behind it (a built-in UART, a virtual console).
    void AddTty(const std::string& tty) {
        std::filesystem::create_directories(sysfs_ / "class" / "tty" / tty);
        Write(dev_ / tty, "");
    }

    void Remove(const std::string& tty) {
        std::filesystem::remove_all(sysfs_ / "class" / "tty" / tty);
        std::filesystem::remove(dev_ / tty);
    }

  private:
    static std::string Hex4(std::uint16_t value) {
        char text[8];
        std::snprintf(text, sizeof text, "%04x", value);
        return text;
    }
    static void Write(const std::filesystem::path& file, const std::string& line) {
        std::ofstream(file) << line << '\n';
    }

    std::filesystem::path sysfs_;
    std::filesystem::path dev_;
    int devices_ = 0;
};

}  // namespace tapfix::test
