#include "link/port_discovery.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <memory>

#include "platform/port_registry.hpp"
#include "support/fake_sysfs.hpp"
#include "support/pty_peer.hpp"
#include "support/temp_dir.hpp"

namespace tapfix::link {
namespace {

namespace fs = std::filesystem;
using ::testing::Optional;

constexpr int kUntouched = -7;

TEST(PortNumberFromName, ReadsTheNumberBetweenComAndTheParenthesis) {
    EXPECT_THAT(PortNumberFromName("Qualcomm HS-USB Diagnostics 9025 (COM12)"), Optional(12));
    EXPECT_THAT(PortNumberFromName("QDLoader (COM5) extra)"), Optional(5));
    EXPECT_THAT(PortNumberFromName("Port COM1 (COM3)"), Optional(1)) << "the first COM counts";
    EXPECT_THAT(PortNumberFromName("Diag (COM 8x)"), Optional(8)) << "read as atoi reads";
    EXPECT_THAT(PortNumberFromName("Diag (COMx)"), Optional(0)) << "no digits";
    EXPECT_THAT(PortNumberFromName("Diag (7)"), Optional(0)) << "no COM: the whole name, cut";
    EXPECT_THAT(PortNumberFromName(")"), Optional(0));
    EXPECT_THAT(PortNumberFromName("Diag (COM99999999999)"), Optional(INT_MAX));
    EXPECT_EQ(PortNumberFromName(""), std::nullopt);
    EXPECT_EQ(PortNumberFromName("Diag port COM3"), std::nullopt);
    EXPECT_EQ(PortNumberFromName("Diag (COM3"), std::nullopt);
}

// Ports as one of the two sources presents them, so the same cases run against both.
class PortSource {
  public:
    virtual ~PortSource() = default;
    virtual void AddDiag(int number) = 0;
    virtual void AddDownloadMode(int number) = 0;
    // Another interface of the router in normal mode.
    virtual void AddModem(int number) = 0;
    virtual void Remove(int number) = 0;
    virtual void MakeUnreadable() = 0;
    virtual platform::PortList List() const = 0;
};

class RegistrySource : public PortSource {
  public:
    void AddDiag(int number) override { Add(number, "Qualcomm HS-USB Diagnostics 9025"); }
    void AddDownloadMode(int number) override { Add(number, "Qualcomm HS-USB QDLoader 9008"); }
    void AddModem(int number) override { Add(number, "Qualcomm CDMA Technologies MSM"); }
    void Remove(int number) override { platform::UnregisterPort(registry_, number); }
    void MakeUnreadable() override {
        fs::remove_all(registry_);
        std::ofstream(registry_) << "not a folder";
    }
    platform::PortList List() const override { return platform::ListRegistryPorts(registry_); }

  private:
    void Add(int number, const std::string& description) {
        ASSERT_TRUE(platform::RegisterPort(registry_, number, "/dev/null",
                                           description + " (COM" + std::to_string(number) + ")"));
    }

    test::TempDir dir_;
    fs::path registry_ = dir_.Path() / "ports";
};

class SysfsSource : public PortSource {
  public:
    void AddDiag(int number) override { Add(number, 0x9025, 0); }
    void AddDownloadMode(int number) override { Add(number, 0x9008, 0); }
    void AddModem(int number) override { Add(number, 0x9025, 2); }
    void Remove(int number) override { sysfs_.Remove(Tty(number)); }
    void MakeUnreadable() override {
        const fs::path ttyClass = sysfs_.Sysfs() / "class" / "tty";
        fs::remove_all(ttyClass);
        std::ofstream(ttyClass) << "not a folder";
    }
    platform::PortList List() const override {
        return platform::ListSysfsPorts({.sysfs = sysfs_.Sysfs(), .dev = sysfs_.Dev()});
    }

  private:
    static std::string Tty(int number) { return platform::PortTtyName(number).value(); }
    void Add(int number, std::uint16_t product, int interface) {
        sysfs_.AddUsbTty(Tty(number), 0x05c6, product, interface, "Qualcomm CDMA Technologies MSM");
    }

    test::TempDir dir_;
    test::FakeSysfs sysfs_{dir_.Path()};
};

class DiscoveryOnEverySource : public ::testing::TestWithParam<std::string> {
  protected:
    DiscoveryOnEverySource() {
        if (GetParam() == "registry") {
            source_ = std::make_unique<RegistrySource>();
        } else {
            source_ = std::make_unique<SysfsSource>();
        }
    }

    // The number FindDiagPort gives, kUntouched when it finds nothing.
    int Found() const {
        int port = kUntouched;
        const bool found = FindDiagPort(source_->List(), &port);
        EXPECT_EQ(found, port != kUntouched);
        return port;
    }
    bool Absent(int port) const { return IsPortAbsent(source_->List(), port); }

    std::unique_ptr<PortSource> source_;
};

TEST_P(DiscoveryOnEverySource, NoPortsAtAll) {
    EXPECT_EQ(Found(), kUntouched);
    EXPECT_TRUE(Absent(3));
    source_->AddModem(3);
    EXPECT_EQ(Found(), kUntouched);
    EXPECT_TRUE(Absent(3));
}

TEST_P(DiscoveryOnEverySource, FirstListedQualifyingPortWins) {
    source_->AddModem(2);
    source_->AddDiag(12);
    source_->AddDownloadMode(5);
    EXPECT_EQ(Found(), 5);
    EXPECT_TRUE(Absent(5)) << "a download-mode port is no diagnostic port";
    EXPECT_FALSE(Absent(12));
    EXPECT_TRUE(Absent(2));
    source_->Remove(5);
    EXPECT_EQ(Found(), 12);
}

TEST_P(DiscoveryOnEverySource, PortAppearsAndDisappearsBetweenCalls) {
    EXPECT_EQ(Found(), kUntouched);
    source_->AddDiag(3);
    EXPECT_EQ(Found(), 3);
    EXPECT_FALSE(Absent(3));
    source_->Remove(3);
    EXPECT_EQ(Found(), kUntouched);
    EXPECT_TRUE(Absent(3));
    source_->AddDownloadMode(4);
    EXPECT_EQ(Found(), 4);
}

TEST_P(DiscoveryOnEverySource, UnavailableListFindsNothingAndCallsNothingAbsent) {
    source_->AddDiag(3);
    source_->MakeUnreadable();
    EXPECT_FALSE(source_->List().available);
    EXPECT_EQ(Found(), kUntouched);
    EXPECT_FALSE(Absent(3));
    EXPECT_FALSE(Absent(9));
}

INSTANTIATE_TEST_SUITE_P(Sources, DiscoveryOnEverySource, ::testing::Values("registry", "sysfs"),
                         [](const auto& info) { return info.param; });

class DiscoveryByName : public ::testing::Test {
  protected:
    void Add(int number, const std::string& name) {
        ASSERT_TRUE(platform::RegisterPort(dir_.Path(), number, "/dev/null", name));
    }
    platform::PortList List() const { return platform::ListRegistryPorts(dir_.Path()); }

    test::TempDir dir_;
};

TEST_F(DiscoveryByName, LetterCaseAndParenthesisDecide) {
    fs::create_symlink("/dev/null", dir_.Path() / "COM1");  // a port without a name
    Add(2, "USB diag port (COM2)");
    Add(3, "Diag port COM3");
    Add(4, "Qualcomm HS-USB QDLoader 9008 (COM4)");
    Add(6, "Diagnostics (COM6)");
    int port = kUntouched;
    ASSERT_TRUE(FindDiagPort(List(), &port));
    EXPECT_EQ(port, 4) << "lower-case diag and a name without ) are passed over";

    Add(5, "usb qdloader (COM5)");
    platform::UnregisterPort(dir_.Path(), 4);
    ASSERT_TRUE(FindDiagPort(List(), &port));
    EXPECT_EQ(port, 5) << "QDLOADER in any letter case";
    EXPECT_TRUE(IsPortAbsent(List(), 3));
    EXPECT_TRUE(IsPortAbsent(List(), 5));
    EXPECT_FALSE(IsPortAbsent(List(), 6));
}

TEST_F(DiscoveryByName, EveryDiagnosticPortCountsHoweverManyThereAre) {
    EXPECT_TRUE(IsPortAbsent(List(), 0)) << "only listed numbers count";
    for (int number = 1; number <= 40; ++number) {
        Add(number, "Diagnostics (COM" + std::to_string(number) + ")");
    }
    EXPECT_FALSE(IsPortAbsent(List(), 40));
    EXPECT_TRUE(IsPortAbsent(List(), 41));
    EXPECT_TRUE(IsPortAbsent(List(), 0));
}

struct LocationCase {
    platform::UsbLocation port;
    platform::UsbLocation router;
    bool belongs;
};

TEST(BelongsToRouter, SerialWhenBothHaveOneElseTheSocket) {
    const LocationCase cases[] = {
        {{}, {}, true},
        {{"1-1", ""}, {}, true},
        {{"1-1", ""}, {"1-1", ""}, true},
        {{"1-2", ""}, {"1-1", ""}, false},
        {{"1-2", "A1"}, {"1-1", "A1"}, true},
        {{"1-1", "B2"}, {"1-1", "A1"}, false},
        {{"1-1", ""}, {"1-1", "A1"}, true},
        {{"1-2", ""}, {"1-1", "A1"}, false},
        {{"", ""}, {"", "A1"}, false},
        {{"", "A1"}, {"", "A1"}, true},
    };
    for (const LocationCase& c : cases) {
        platform::PortInfo port;
        port.usb = c.port;
        EXPECT_EQ(BelongsToRouter(port, c.router), c.belongs)
            << "port " << c.port.path << "/" << c.port.serial << ", router " << c.router.path << "/"
            << c.router.serial;
    }
}

TEST(Discovery, SearchesThePortsOfTheEnvironment) {
    test::PtyPeer peer(7, "Qualcomm HS-USB Diagnostics 9025");
    int port = kUntouched;
    ASSERT_TRUE(FindDiagPort(&port));
    EXPECT_EQ(port, 7);
    EXPECT_FALSE(IsPortAbsent(7));
    peer.Vanish();
    EXPECT_FALSE(FindDiagPort(&port));
    EXPECT_TRUE(IsPortAbsent(7));
}

}  // namespace
}  // namespace tapfix::link
