#include "device/operation_table.hpp"

#include <gtest/gtest.h>

#include <set>

#include "device/command_set.hpp"
#include "device_fixture.hpp"

namespace tapfix::device {
namespace {

using OperationTableTest = DeviceTest;

TEST_F(OperationTableTest, NumbersAreUniqueAndUnknownOnesFail) {
    std::set<int> numbers;
    for (const DeviceOperationEntry& entry : DeviceOperationTable()) {
        EXPECT_TRUE(numbers.insert(entry.number).second) << entry.number;
        EXPECT_NE(entry.operation, nullptr) << entry.number;
    }
    EXPECT_EQ(numbers.size(), 14U);
    EXPECT_EQ(*numbers.begin(), 0);
    EXPECT_EQ(*numbers.rbegin(), 13);
    EXPECT_FALSE(RunDeviceOperation(14, packet));
    EXPECT_FALSE(RunDeviceOperation(-1, packet));
    EXPECT_TRUE(packet.IsPortOpen()) << "an unknown number touches nothing";
}

TEST_F(OperationTableTest, NumbersReachTheirOperations) {
    AnswerInTurn({{0x13, 0x0C},
                  {0x3A},
                  {0x4B, 0x04, 0x0E, 0x00},
                  {0x41, 0x00},
                  {0x4B, 0xAA, 0x00, 0x00, 0x00},
                  {0x29, 0x01, 0x00},
                  {0x29, 0x02, 0x00}});
    EXPECT_TRUE(RunDeviceOperation(1, packet));
    for (const int number : {2, 3, 4, 5, 8, 9, 13}) {
        EXPECT_TRUE(RunDeviceOperation(number, packet)) << number << ": " << packet.LastError();
    }
    EXPECT_EQ(Sent(), (std::vector<std::string>{
                          Frame({0x0C}), Frame({0x3A}), Frame({0x4B, 0x04, 0x0E, 0x00}),
                          Frame({0x41, '0', '0', '0', '0', '0', '0'}),
                          Frame({0x4B, 0xAA, 0x00, 0x00, 0x02}), Frame({0x29, 0x01, 0x00}),
                          Frame({0x29, 0x02, 0x00})}));
    EXPECT_TRUE(RunDeviceOperation(0, packet));
    EXPECT_FALSE(packet.IsPortOpen());
    EXPECT_FALSE(RunDeviceOperation(1, packet));
}

TEST_F(OperationTableTest, LoaderAndProgrammerNumbersReachTheirOperations) {
    AttachCommandSet(packet);
    peer.Respond([](const Bytes& request) -> std::vector<PtyPeer::Write> {
        // Acknowledge each request the way its protocol does: code + 1.
        const std::uint8_t code = request.size() > 1 ? request[1] : 0;
        return {{test::ReferenceFrame({static_cast<std::uint8_t>(code == 0x06 ? 0x02 : code + 1)},
                                      true)}};
    });
    for (const int number : {12, 7, 10, 6}) {
        EXPECT_TRUE(RunDeviceOperation(number, packet)) << number << ": " << packet.LastError();
    }
    EXPECT_EQ(Sent(), (std::vector<std::string>{Hex(test::ReferenceFrame({0x06}, true)),
                                                Hex(test::ReferenceFrame({0x09, 0x11}, true)),
                                                Hex(test::ReferenceFrame({0x15}, true)),
                                                Hex(test::ReferenceFrame({0x0B}, true))}));
    EXPECT_TRUE(RunDeviceOperation(11, packet)) << "nothing waiting to drain";
}

}  // namespace
}  // namespace tapfix::device
