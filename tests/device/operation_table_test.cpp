#include "device/operation_table.hpp"

#include <gtest/gtest.h>

#include <set>

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
    for (const int number : {0, 1, 2, 3, 4, 5, 8, 9, 13}) {
        EXPECT_TRUE(numbers.count(number)) << number;
    }
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

}  // namespace
}  // namespace tapfix::device
