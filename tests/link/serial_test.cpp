#include "link/serial.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "link/packet.hpp"
#include "support/pty_peer.hpp"
#include "test_protocol.hpp"

namespace tapfix::link {
namespace {

using test::Bytes;
using test::PtyPeer;

TEST(Serial, OpenCloseFollowTheirStates) {
    PtyPeer peer(9);
    CSerial serial;
    EXPECT_TRUE(serial.ClosePort()) << "closing a closed port";
    EXPECT_FALSE(serial.OpenPort(10));
    EXPECT_FALSE(serial.IsPortOpen());
    EXPECT_FALSE(serial.OpenFailure().empty());
    ASSERT_TRUE(serial.OpenPort(9)) << serial.OpenFailure();
    EXPECT_TRUE(serial.IsPortOpen());
    EXPECT_TRUE(serial.OpenPort(10)) << "already open stays open";
    EXPECT_TRUE(serial.IsPortOpen());
    EXPECT_TRUE(serial.ClosePort());
    EXPECT_FALSE(serial.IsPortOpen());
    EXPECT_TRUE(serial.OpenPortNoDtr(9));
}

TEST(Serial, SecondOpenerIsRefused) {
    PtyPeer peer(4);
    CSerial first;
    CSerial second;
    ASSERT_TRUE(first.OpenPort(4));
    EXPECT_FALSE(second.OpenPort(4));
    EXPECT_FALSE(second.IsPortOpen());
    first.ClosePort();
    EXPECT_TRUE(second.OpenPort(4)) << second.OpenFailure();
}

// Exclusive use is what a non-root second opener runs into; it must end with our use.
TEST(Serial, ExclusiveUseEndsWithTheClose) {
    PtyPeer peer(5);
    CSerial serial;
    ASSERT_TRUE(serial.OpenPort(5));
    const auto device = peer.Registry() / "COM5";
    const auto exclusiveFlag = [&] {
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        int exclusive = -1;
        ::ioctl(fd, TIOCGEXCL, &exclusive);
        ::close(fd);
        return exclusive;
    };
    EXPECT_EQ(exclusiveFlag(), 1);
    serial.ClosePort();
    EXPECT_EQ(exclusiveFlag(), 0);
}

// Reads what the device sent before the open through the streaming receive path.
std::size_t AddressesAfterOpen(bool keepInput) {
    PtyPeer peer(3);
    test::EchoProtocol protocol;
    CPacket packet;
    test::InstallEverywhere(packet, protocol);
    peer.Send(test::ReferenceFrame({0x08, 1, 2, 3, 4}, true));
    const bool opened = keepInput ? packet.OpenPortNoDtr(3) : packet.OpenPort(3);
    EXPECT_TRUE(opened);
    packet.SetMode(MODE_STREAM);
    EXPECT_TRUE(packet.ReceiveFrame());
    return packet.AckedAddresses().size();
}

TEST(Serial, OpenWithoutDtrKeepsWhatTheDeviceAlreadySent) {
    EXPECT_EQ(AddressesAfterOpen(true), 1U);
    EXPECT_EQ(AddressesAfterOpen(false), 0U);
}

// The port takes input in from the kernel whenever it looks; a wait for more than the caller
// has counted must see those bytes, not wait for yet more of them.
TEST(Serial, WaitForInputCountsWhatThePortAlreadyTookIn) {
    using namespace std::chrono_literals;
    PtyPeer peer(6);
    platform::SerialPort port;
    ASSERT_TRUE(port.Open(peer.Registry() / "COM6", false, platform::SerialPort::Purge::Both));
    peer.Send({1, 2, 3});
    while (port.PeekWaiting().size() < 3) {
        ASSERT_TRUE(port.WaitForMoreInput(port.PeekWaiting().size(), 2s));
    }
    EXPECT_TRUE(port.WaitForMoreInput(0, 2s));
    EXPECT_TRUE(port.WaitForMoreInput(2, 2s));
    EXPECT_FALSE(port.WaitForMoreInput(3, 10ms));
    peer.Send({4});
    EXPECT_TRUE(port.WaitForMoreInput(3, 2s));
    EXPECT_EQ(port.PeekWaiting().size(), 4U);
}

}  // namespace
}  // namespace tapfix::link
