#include "device/diag_commands.hpp"

#include <gtest/gtest.h>

#include <string>

#include "device/command_pattern.hpp"
#include "device_fixture.hpp"

namespace tapfix::device {
namespace {

using DiagCommandsTest = DeviceTest;

constexpr const char* kSilent = "Port Cannot Receive Desired Data from the Phone";

Bytes Text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string VersionTextNumber(std::size_t k, std::size_t length) {
    std::string text = "M9615-VERSION-" + std::to_string(k);
    text.resize(length, static_cast<char>('a' + k));
    return text;
}

// A version answer whose frame on the wire is exactly rawLength bytes: the texts, then the date
// and time fields, cut or padded at the tail.
Bytes VersionAnswer(const std::vector<std::size_t>& lengths, bool separators,
                    std::size_t rawLength) {
    Bytes answer{0x39};
    for (std::size_t k = 0; k < lengths.size(); ++k) {
        answer = Join({answer, Text(VersionTextNumber(k, lengths[k]))});
        if (separators) {
            answer.push_back(0);
        }
    }
    answer = Join({answer, Text("Dec 12 2013 "), {0}, Text("17:05:33Z")});
    for (char pad = 'a'; test::ReferenceFrame(answer, false).size() != rawLength; ++pad) {
        if (test::ReferenceFrame(answer, false).size() > rawLength) {
            answer.pop_back();
        } else {
            answer.push_back(static_cast<std::uint8_t>(pad));
        }
    }
    return answer;
}

TEST_F(DiagCommandsTest, ModeChangesSendTheirModeWordAndWrapTheReason) {
    AnswerInTurn({{0x29, 0x02, 0x00}, {0x29, 0x01, 0x00}, {0x13, 0x29, 0x02, 0x00}});
    EXPECT_TRUE(ResetPhone(packet)) << packet.LastError();
    EXPECT_TRUE(SetPhoneOffline(packet)) << packet.LastError();
    EXPECT_FALSE(ResetPhone(packet));
    EXPECT_EQ(packet.LastError(), "Cannot Reset the Phone, Since Bad command");
    EXPECT_FALSE(SetPhoneOffline(packet));
    EXPECT_EQ(packet.LastError(), std::string("Cannot Put the Phone Offline, Since ") + kSilent);
    EXPECT_EQ(Sent(),
              (std::vector<std::string>{Frame({0x29, 0x02, 0x00}), Frame({0x29, 0x01, 0x00}),
                                        Frame({0x29, 0x02, 0x00}), Frame({0x29, 0x01, 0x00})}));
}

TEST_F(DiagCommandsTest, EsnComesFromTheAnswerAndIsAllOnesOnFailure) {
    AnswerInTurn({{0x01, 0x78, 0x56, 0x34, 0x12}, {0x01, 0x78, 0x56}});
    std::uint32_t esn = 0;
    ASSERT_TRUE(GetEsn(packet, esn)) << packet.LastError();
    EXPECT_EQ(esn, 0x12345678U);
    EXPECT_EQ(LastSent(), Frame({0x01}));

    EXPECT_FALSE(GetEsn(packet, esn));
    EXPECT_EQ(esn, 0xFFFFFFFFU);
    EXPECT_EQ(packet.LastError(),
              "Cannot Get the ESN Number of the Phone, Since " + std::string(texts::kShortAnswer));
    esn = 0;
    EXPECT_FALSE(GetEsn(packet, esn));
    EXPECT_EQ(esn, 0xFFFFFFFFU);
    EXPECT_EQ(packet.LastError(),
              std::string("Cannot Get the ESN Number of the Phone, Since ") + kSilent);
}

TEST_F(DiagCommandsTest, VersionLayoutFollowsTheRawLengthOfTheAnswer) {
    const std::vector<std::size_t> nine(9, 30);
    const std::vector<std::size_t> eight(8, 30);
    const std::vector<std::size_t> older{22, 22, 25, 25};
    AnswerInTurn({VersionAnswer(nine, true, 300), VersionAnswer(eight, false, 250),
                  VersionAnswer(older, false, 125)});
    VersionRecord record{};
    record[0] = 0xAA;
    ASSERT_TRUE(GetSoftwareVersion(packet, record)) << packet.LastError();
    EXPECT_EQ(packet.RawReceiveLength(), 300U);
    EXPECT_EQ(LastSent(), Frame({0x39}));
    for (std::size_t k = 0; k < 9; ++k) {
        EXPECT_EQ(VersionText(record, k), VersionTextNumber(k, 30)) << k;
    }
    EXPECT_EQ(record[0], 0xAA) << "bytes outside the slots are the caller's";

    ASSERT_TRUE(GetSoftwareVersion(packet, record)) << packet.LastError();
    EXPECT_EQ(packet.RawReceiveLength(), 250U);
    EXPECT_EQ(VersionText(record, 7), VersionTextNumber(7, 30));
    EXPECT_EQ(VersionText(record, 8), "");

    ASSERT_TRUE(GetSoftwareVersion(packet, record)) << packet.LastError();
    for (std::size_t k = 0; k < older.size(); ++k) {
        EXPECT_EQ(VersionText(record, k), VersionTextNumber(k, older[k])) << k;
    }
    EXPECT_EQ(VersionText(record, 4), "");
}

TEST_F(DiagCommandsTest, VersionFailureZeroFillsTheRecord) {
    AnswerInTurn({{0x39, 'S', 'H', 'O', 'R', 'T'}});
    VersionRecord record;
    record.fill(0x55);
    EXPECT_FALSE(GetSoftwareVersion(packet, record));
    EXPECT_EQ(packet.LastError(), "Cannot get 9 software version from the mobile, Since " +
                                      std::string(texts::kShortAnswer));
    EXPECT_EQ(record, VersionRecord{});
}

TEST_F(DiagCommandsTest, SingleByteCommandsAndTheServiceCode) {
    AnswerInTurn({{0x3A}, {0x4B, 0x04, 0x0E, 0x00}, {0x41, 0x00}, {0x41, 0x01}});
    EXPECT_TRUE(SwitchToDownloader(packet)) << packet.LastError();
    EXPECT_TRUE(SendSubsysCmd(packet)) << packet.LastError();
    EXPECT_TRUE(SendSpc(packet)) << packet.LastError();
    EXPECT_TRUE(SendSpc(packet, "123456")) << "the status byte is not examined";
    EXPECT_FALSE(SendSpc(packet, "12345"));
    EXPECT_FALSE(SendSpc(packet, "12345a"));
    EXPECT_EQ(Sent(), (std::vector<std::string>{Frame({0x3A}), Frame({0x4B, 0x04, 0x0E, 0x00}),
                                                Frame(Join({{0x41}, Text("000000")})),
                                                Frame(Join({{0x41}, Text("123456")}))}));

    EXPECT_FALSE(SwitchToDownloader(packet));
    EXPECT_EQ(packet.LastError(), std::string("Cannot Switch to Downloader, Since ") + kSilent);
}

TEST_F(DiagCommandsTest, ProbeSucceedsOnTheThirdTryAndGivesUpAfterIt) {
    AnswerInTurn({{}, {}, {0x13, 0x0C}});
    EXPECT_TRUE(ProbeDiag(packet)) << packet.LastError();
    EXPECT_EQ(Sent(), std::vector<std::string>(3, Frame({0x0C})));
    EXPECT_FALSE(ProbeDiag(packet));
    EXPECT_EQ(Sent().size(), 6U);
    EXPECT_EQ(packet.LastError(), kSilent);
}

TEST_F(DiagCommandsTest, AutoRunTellsEachKindOfRefusal) {
    AnswerInTurn({{0x4B, 0xA1, 0x00, 0x00, 0x00},
                  {0x4B, 0xA1, 0x00, 0x00, 0x01},
                  {0x4B, 0xA1, 0x00, 0x00, 0x07},
                  {0x4B, 0xA1, 0x00, 0x00},
                  {0x4B, 0x3D, 0x00, 0x00, 0x00}});
    EXPECT_TRUE(AutoRunAction(packet)) << packet.LastError();
    EXPECT_EQ(LastSent(), Frame({0x4B, 0xA1, 0x00, 0x00, 0x01}));
    EXPECT_FALSE(AutoRunAction(packet));
    EXPECT_EQ(packet.LastError(), "AutoRun Action fail, Since return status = 0x01!");
    EXPECT_FALSE(AutoRunAction(packet));
    EXPECT_EQ(packet.LastError(), "AutoRun Action fail, Since return wrong status value!");
    EXPECT_FALSE(AutoRunAction(packet));
    EXPECT_EQ(packet.LastError(), "AutoRun Action fail, Since return wrong status value!");
    EXPECT_FALSE(AutoRunAction(packet));
    EXPECT_EQ(packet.LastError(), "AutoRun Action fail, Since return cmd code is not 4B 3D 00 00!");
    EXPECT_FALSE(AutoRunAction(packet));
    EXPECT_EQ(packet.LastError(), std::string("AutoRun Action fail, Since ") + kSilent);
    EXPECT_EQ(Sent().size(), 7U) << "two attempts when nothing answers";
}

TEST_F(DiagCommandsTest, SpecialDownloadModesCheckEchoAndStatus) {
    AnswerInTurn({{0x4B, 0xAA, 0x00, 0x00, 0x00},
                  {0x4B, 0xAA, 0x00, 0x00, 0x03},
                  {0x4B, 0xAA, 0x00, 0x00, 0x00}});
    EXPECT_TRUE(SetSpecialDlMode(packet)) << packet.LastError();
    EXPECT_EQ(packet.Mode(), link::MODE_DIAG);
    packet.SetLastError("before");
    EXPECT_FALSE(SetSpecialDlMode(packet));
    EXPECT_EQ(packet.LastError(), "before");
    EXPECT_TRUE(SetSpecialDlMode2(packet)) << packet.LastError();
    EXPECT_FALSE(SetSpecialDlMode(packet));
    EXPECT_EQ(packet.LastError(), std::string("Cannot Set Special DL mode , Since ") + kSilent);
    EXPECT_EQ(packet.Mode(), link::MODE_DIAG);
    EXPECT_EQ(Sent().at(0), Frame({0x4B, 0xAA, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Sent().at(2), Frame({0x4B, 0xAA, 0x00, 0x00, 0x02}));
}

TEST_F(DiagCommandsTest, PartitionTableIsReadRawAndCheckedFieldByField) {
    const Bytes head{0x4B, 0xC9, 0x0F, 0x00};
    AnswerInTurn({Join({head, {0x00, 0x00, 0x04, 0x00, 0xAA, 0xBB, 0xCC, 0xDD}}),
                  Join({head, {0x00, 0x00, 0x05, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE}}),
                  Join({head, {0x01, 0x00, 0x04, 0x00, 0xAA, 0xBB, 0xCC, 0xDD}}),
                  Join({head, {0x00, 0x00, 0x04, 0x00, 0xAA, 0xBB}})});
    std::array<std::uint8_t, 4> table{};
    ASSERT_TRUE(ReadDevicePartitionTable(packet, table)) << packet.LastError();
    EXPECT_EQ(Hex({table.begin(), table.end()}), "AA BB CC DD");
    EXPECT_EQ(LastSent(), Frame(head));
    EXPECT_FALSE(ReadDevicePartitionTable(packet, table)) << "length differs";
    EXPECT_FALSE(ReadDevicePartitionTable(packet, table)) << "status not 0";
    table.fill(0);
    EXPECT_FALSE(ReadDevicePartitionTable(packet, table));
    EXPECT_EQ(packet.LastError(), texts::kShortAnswer);
    EXPECT_EQ(table, (std::array<std::uint8_t, 4>{}));
}

}  // namespace
}  // namespace tapfix::device
