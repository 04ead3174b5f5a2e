#include "platform/port_enumeration.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/port_registry.hpp"
#include "support/fake_sysfs.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::platform {
namespace {

namespace fs = std::filesystem;
using test::FakeSysfs;
using test::TempDir;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::Optional;

std::vector<int> Numbers(const PortList& list) {
    std::vector<int> numbers;
    for (const auto& port : list.ports) {
        numbers.push_back(port.number);
    }
    return numbers;
}

TEST(TtyPortNumbers, TwoBandsThatMapBothWaysAndNeverMeet) {
    EXPECT_THAT(TtyPortNumber("ttyUSB0"), Optional(1));
    EXPECT_THAT(TtyPortNumber("ttyUSB2"), Optional(3));
    EXPECT_THAT(TtyPortNumber("ttyUSB999"), Optional(1000));
    EXPECT_THAT(TtyPortNumber("ttyACM0"), Optional(1001));
    EXPECT_THAT(TtyPortNumber("ttyACM999"), Optional(2000));
    for (const char* other : {"ttyUSB", "ttyUSB01", "ttyUSB1000", "ttyUSB-1", "ttyUSB1x", "ttyS0",
                              "tty1", "ttyACM1000", "COM1"}) {
        EXPECT_EQ(TtyPortNumber(other), std::nullopt) << other;
    }
    for (int number : {1, 3, 1000, 1001, 1500, 2000}) {
        const auto tty = PortTtyName(number);
        ASSERT_TRUE(tty) << number;
        EXPECT_THAT(TtyPortNumber(*tty), Optional(number));
    }
    for (int number : {-1, 0, 2001}) {
        EXPECT_EQ(PortTtyName(number), std::nullopt) << number;
    }
}

TEST(RegistryPorts, ListedByNumberWithTheirNames) {
    TempDir dir;
    const fs::path registry = dir.Path() / "ports";
    EXPECT_TRUE(ListRegistryPorts(registry).available) << "a registry not created yet is empty";
    ASSERT_TRUE(RegisterPort(registry, 12, "/dev/null", "Diagnostics (COM12)"));
    ASSERT_TRUE(RegisterPort(registry, 3, "/dev/null", "Modem (COM3)"));
    fs::create_symlink("/dev/null", registry / "COM7");  // a writer that left no name
    std::ofstream(registry / "COM8.name") << "Name without link (COM8)\n";
    std::ofstream(registry / "notes.txt") << "not a port\n";
    fs::create_symlink("/dev/null", registry / "COM05");
    fs::create_symlink("/dev/null", registry / "COM-5");
    fs::create_symlink("/dev/null", registry / "COM9.tmp");

    const PortList list = ListRegistryPorts(registry);
    ASSERT_TRUE(list.available) << list.error;
    EXPECT_THAT(Numbers(list), ElementsAre(3, 7, 12));
    EXPECT_THAT(list.ports[0].displayName, Optional(std::string("Modem (COM3)")));
    EXPECT_EQ(list.ports[1].displayName, std::nullopt);
    EXPECT_EQ(list.ports[2].device, registry / "COM12");

    UnregisterPort(registry, 3);
    EXPECT_THAT(Numbers(ListRegistryPorts(registry)), ElementsAre(7, 12));
}

TEST(RegistryPorts, UnreadableRegistryIsAnUnavailableList) {
    TempDir dir;
    const fs::path notAFolder = dir.Path() / "file";
    std::ofstream(notAFolder) << "x";
    const PortList list = ListRegistryPorts(notAFolder);
    EXPECT_FALSE(list.available);
    EXPECT_THAT(list.error, ::testing::HasSubstr(notAFolder.string()));
}

TEST(RegistryPorts, EnvironmentChoosesTheRegistryAsTheOnlySource) {
    TempDir dir;
    ASSERT_TRUE(RegisterPort(dir.Path(), 4, "/dev/null", "Diagnostics (COM4)"));
    ::setenv("TAPFIX_PORTS_DIR", dir.Path().c_str(), 1);
    EXPECT_THAT(Numbers(ListPorts()), ElementsAre(4));
    EXPECT_THAT(ResolvePortDevice(4), Optional(dir.Path() / "COM4"));
    EXPECT_EQ(ResolvePortDevice(5), std::nullopt);
    UnregisterPort(dir.Path(), 4);
    EXPECT_TRUE(ListPorts().ports.empty());
    ::unsetenv("TAPFIX_PORTS_DIR");
}

TEST(SysfsPorts, NamesComeFromTheIdentityTableThenTheProductString) {
    TempDir dir;
    FakeSysfs sysfs(dir.Path());
    sysfs.AddUsbTty("ttyUSB11", 0x05c6, 0x9025, 0, "Qualcomm CDMA Technologies MSM");
    sysfs.AddUsbTty("ttyUSB12", 0x05c6, 0x9025, 1, "Qualcomm CDMA Technologies MSM");
    sysfs.AddUsbTty("ttyUSB4", 0x05c6, 0x9008, 0, "QHSUSB__BULK");
    sysfs.AddUsbTty("ttyACM0", 0x1234, 0x5678, 2);
    sysfs.AddTty("ttyUSB0");  // no USB device behind it
    sysfs.AddTty("ttyS0");
    sysfs.AddTty("tty1");

    const PortList list = ListSysfsPorts({.sysfs = sysfs.Sysfs(), .dev = sysfs.Dev()});
    ASSERT_TRUE(list.available) << list.error;
    EXPECT_THAT(Numbers(list), ElementsAre(1, 5, 12, 13, 1001));
    const auto name = [&](std::size_t i) { return list.ports.at(i).displayName.value_or("-"); };
    EXPECT_EQ(name(0), "ttyUSB0 (COM1)");
    EXPECT_EQ(name(1), "Qualcomm HS-USB QDLoader 9008 (COM5)");
    EXPECT_EQ(name(2), "Qualcomm HS-USB Diagnostics 9025 (COM12)");
    EXPECT_EQ(name(3), "Qualcomm CDMA Technologies MSM (COM13)");
    EXPECT_EQ(name(4), "ttyACM0 (COM1001)");
    EXPECT_EQ(list.ports[2].device, sysfs.Dev() / "ttyUSB11");

    EXPECT_THAT(ResolveTtyPortDevice(12, sysfs.Dev()), Optional(sysfs.Dev() / "ttyUSB11"));
    EXPECT_THAT(ResolveTtyPortDevice(1001, sysfs.Dev()), Optional(sysfs.Dev() / "ttyACM0"));
    EXPECT_EQ(ResolveTtyPortDevice(2, sysfs.Dev()), std::nullopt);
}

TEST(UsbLocations, ReadFromSysfsAndCarriedByTheRegistry) {
    TempDir dir;
    FakeSysfs sysfs(dir.Path());
    sysfs.AddUsbTty("ttyUSB0", 0x05c6, 0x9025, 0, {.serial = "0123456789AB", .location = "1-1.4"});
    sysfs.AddUsbTty("ttyUSB3", 0x05c6, 0x9008, 0, {.location = "3-2"});  // no serial number
    sysfs.AddTty("ttyUSB7");                                             // not on USB
    const PortList list = ListSysfsPorts({.sysfs = sysfs.Sysfs(), .dev = sysfs.Dev()});
    ASSERT_THAT(Numbers(list), ElementsAre(1, 4, 8));
    EXPECT_EQ(list.ports[0].usb, (UsbLocation{.path = "1-1.4", .serial = "0123456789AB"}));
    EXPECT_EQ(list.ports[1].usb, (UsbLocation{.path = "3-2", .serial = ""}));
    EXPECT_FALSE(list.ports[2].usb.Known());

    const fs::path registry = dir.Path() / "ports";
    ASSERT_TRUE(RegisterPort(registry, 5, "/dev/null", "Diag (COM5)", nullptr, list.ports[0].usb));
    ASSERT_TRUE(RegisterPort(registry, 6, "/dev/null", "Diag (COM6)"));
    std::ofstream(RegistryUsbPath(registry, 6)) << "serial=X\r\nunknown=1\npath=2-1\n";
    EXPECT_EQ(ListRegistryPorts(registry).ports.at(0).usb, list.ports[0].usb);
    EXPECT_EQ(ListRegistryPorts(registry).ports.at(1).usb,
              (UsbLocation{.path = "2-1", .serial = "X"}));
    UnregisterPort(registry, 5);
    EXPECT_FALSE(fs::exists(RegistryUsbPath(registry, 5)));
}

TEST(SysfsPorts, MachineWithoutUsbSerialPortsListsNothing) {
    TempDir dir;
    const SysfsRoots roots{.sysfs = dir.Path() / "sys", .dev = dir.Path() / "dev"};
    EXPECT_TRUE(ListSysfsPorts(roots).available) << "no tty class at all";
    FakeSysfs sysfs(dir.Path());
    sysfs.AddTty("ttyS0");
    const PortList list = ListSysfsPorts(roots);
    EXPECT_TRUE(list.available);
    EXPECT_TRUE(list.ports.empty());

    fs::remove_all(sysfs.Sysfs() / "class" / "tty");
    std::ofstream(sysfs.Sysfs() / "class" / "tty") << "x";
    EXPECT_FALSE(ListSysfsPorts(roots).available);
}

}  // namespace
}  // namespace tapfix::platform
