// What a running programmer is sent: every transfer variant, the open rules, and the ways an
// image fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "nv_steps_stand_in.hpp"
#include "session_checks.hpp"
#include "support/session_fixture.hpp"

namespace tapfix::session {
namespace {

using test::Heard;
using test::SessionFixture;

class TransferTest : public SessionFixture {
  protected:
    TransferTest() { service_.Language().SetLanguage(config::UiLanguage::English); }

    // A router whose programmer already runs, detected as such.
    void StartProgrammerRouter(const char* faults = "") {
        sim::RouterOptions options = RouterOptions(sim::DeviceMode::Programmer);
        std::string error;
        ASSERT_TRUE(options.faults.Parse(faults, &error)) << error;
        StartRouter(std::move(options));
        std::string version;
        ASSERT_TRUE(service_.ReportDeviceVersion(0, Context().portNumber, version));
        ASSERT_TRUE(service_.ModeOf(0).programmerMode);
    }

    config::DownloadFile Entry(const std::string& file, std::uint8_t openCode, int dlType,
                               std::string partition = {}, int header = 0) const {
        config::DownloadFile entry;
        entry.path = work_ / file;
        entry.size = static_cast<std::uint32_t>(std::filesystem::file_size(entry.path));
        entry.OpenCode = openCode;
        entry.bHdFile = header;
        entry.dlType = dlType;
        entry.bOpenMutilWithName = partition.empty() ? 0 : 1;
        entry.partitionName = std::move(partition);
        return entry;
    }

    void WriteFile(const std::string& name, std::size_t size, std::uint8_t seed) const {
        std::vector<char> bytes(size);
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<char>(seed + i * 7);
        }
        std::ofstream(work_ / name, std::ios::binary).write(bytes.data(), bytes.size());
    }

    void UseFiles(std::vector<config::DownloadFile> files) {
        std::uint32_t total = 0;
        for (const auto& entry : files) {
            total += entry.size;
        }
        service_.Config().files = std::move(files);
        service_.Config().totalBytes = total;
    }

    std::vector<std::string> RequestNames() const {
        std::vector<std::string> names;
        for (const auto& record : Events("request")) {
            names.push_back(record.value("name", ""));
        }
        return names;
    }
};

TEST_F(TransferTest, EveryVariantWritesItsImageByteForByte) {
    // A header that opens the RPM image, its body with no open of its own, then one image per
    // transfer variant; a 131,073-byte image; the partition image that ends without a close;
    // and an image whose first block the device takes only the second time.
    const auto rpm = test::FileBytes(work_ / "rpm.mbn");
    std::ofstream(work_ / "rpm-header.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(rpm.data()), 512);
    WriteFile("odd.bin", 131073, 3);
    WriteFile("partition.bin", 4096, 5);
    UseFiles({Entry("rpm-header.bin", 0x14, 4, {}, 1), Entry("rpm.mbn", 0x00, 0),
              Entry("sbl1.mbn", 0x0E, 1, "0:SBL1"), Entry("dsp2.mbn", 0x0E, 3, "0:DSP2"),
              Entry("odd.bin", 0x0E, 4, "0:EFS2"), Entry("partition.bin", 0x0E, 4, "0:MIBIB"),
              Entry("sbl2.mbn", 0x0E, 4, "0:SBL2")});
    // Units: dsp2 is 1, odd.bin 2 and 3, partition.bin 4, the first of sbl2 5.
    StartProgrammerRouter("badsum:5:1");

    PortContext context = Context();
    ASSERT_TRUE(service_.DownloadSoftware(context))
        << ::testing::PrintToString(notifier_.Texts(kNotifyLog));

    const auto written = Events("image_written");
    auto files = service_.Config().files;
    files.erase(files.begin());  // the header's bytes are overwritten by the body
    test::ExpectImagesWritten(written, files);
    EXPECT_EQ(written.at(0).at("partition"), "0:RPM");

    const auto names = RequestNames();
    const auto opened = std::count(names.begin(), names.end(), "open_multi_image");
    EXPECT_EQ(opened, 6) << "the body with open code 0 opens nothing";
    const auto records = router_->TraceRecords();
    const auto headerOpen = test::TraceIndex(records, "request", "open_multi_image");
    EXPECT_EQ(records.at(headerOpen).at("by"), "header");
    EXPECT_EQ(records.at(test::TraceIndex(records, "request", {}, headerOpen + 1)).at("name"),
              "write")
        << "the header is sent with its open only";

    const auto units = Events("request");
    const auto oddSecond = std::find_if(units.begin(), units.end(), [](const auto& record) {
        return record.value("name", "") == "unit" && record.value("offset", 0) == 131072 &&
               record.value("bytes", 0) == 1;
    });
    ASSERT_NE(oddSecond, units.end()) << "the 131,073rd byte goes as a block of its own";
    EXPECT_TRUE(oddSecond->at("checksum_ok").get<bool>()) << "its checksum is the byte itself";

    const auto mibibOpen = std::find_if(records.begin(), records.end(), [](const auto& record) {
        return record.value("name", "") == "open_multi_image" &&
               record.value("partition", "") == "0:MIBIB";
    });
    ASSERT_NE(mibibOpen, records.end());
    const auto nextOpen = std::find_if(mibibOpen + 1, records.end(), [](const auto& record) {
        return record.value("name", "") == "open_multi_image";
    });
    EXPECT_TRUE(std::none_of(mibibOpen, nextOpen, [](const auto& record) {
        return record.value("name", "") == "close";
    })) << "the partition image ends without a close";

    // The rejected block was announced and sent again.
    const auto hints = notifier_.Texts(kNotifyHint);
    const auto mismatch = std::find(hints.begin(), hints.end(), service_.Text("ID_ERROR_CAL2"));
    ASSERT_NE(mismatch, hints.end());
    EXPECT_EQ(*(mismatch + 1), service_.Text("ID_HINT_DOWNSDPFILE") + "sbl2...");

    // The bar moves forward only, within the images' share.
    const auto progress = notifier_.Progress();
    ASSERT_GE(progress.size(), 3U);
    EXPECT_EQ(progress[0], 19);
    EXPECT_EQ(progress[1], 20);
    for (std::size_t i = 2; i < progress.size(); ++i) {
        EXPECT_GT(progress[i], progress[i - 1]);
        EXPECT_LE(progress[i], 91);
    }
}

TEST_F(TransferTest, PipelinedWritesKeepTheAcknowledgementsStillArriving) {
    // 2 MiB: far more blocks than the pipeline holds, so acknowledgements arrive while later
    // blocks are being written.
    WriteFile("big.bin", 2 * 1024 * 1024, 11);
    UseFiles({Entry("big.bin", 0x0E, 1, "0:SYSTEM")});
    StartProgrammerRouter();

    PortContext context = Context();
    ASSERT_TRUE(service_.DownloadSoftware(context))
        << ::testing::PrintToString(notifier_.Texts(kNotifyLog));

    test::ExpectImagesWritten(Events("image_written"), service_.Config().files);
    std::map<std::uint32_t, int> writes;
    for (const auto& request : Events("request")) {
        if (request.value("name", "") == "write") {
            ++writes[request.at("address").get<std::uint32_t>()];
        }
    }
    EXPECT_EQ(writes.size(), 2048U);
    const auto resent = std::count_if(writes.begin(), writes.end(),
                                      [](const auto& address) { return address.second > 1; });
    EXPECT_EQ(resent, 0) << "every block was acknowledged on its first sending";
}

class ImageFailureTest;

struct ImageFailure {
    const char* name;
    std::function<void(ImageFailureTest&)> prepare;
    const char* faults = "";
    std::vector<test::Expected> heard;
};

class ImageFailureTest : public TransferTest, public ::testing::WithParamInterface<ImageFailure> {
  public:
    using TransferTest::Entry;
    using TransferTest::UseFiles;
    using TransferTest::WriteFile;
};

TEST_P(ImageFailureTest, EndsTheDownloadWithItsReason) {
    const ImageFailure& c = GetParam();
    c.prepare(*this);
    StartProgrammerRouter(c.faults);
    PortContext context = Context();
    EXPECT_FALSE(service_.DownloadSoftware(context));
    test::ExpectInOrder(notifier_.Recorded(), c.heard);
}

// The texts of the English table.
const std::string kWriting = "Writing image ";
const std::string kNotWritten = "the image was not written";

INSTANTIATE_TEST_SUITE_P(
    Images, ImageFailureTest,
    ::testing::Values(
        ImageFailure{
            "UnsupportedDownloadType",
            [](ImageFailureTest& t) { t.UseFiles({t.Entry("sbl1.mbn", 0x0E, 2, "0:SBL1")}); },
            "",
            {{kNotifyHint, kWriting + "sbl1..."},
             {kNotifyLog, "sbl1.mbn: download type 2 is not supported"},
             {kNotifyLog, "sbl1 download is fail " + kNotWritten + "..."}}},
        ImageFailure{
            "UnknownDownloadType",
            [](ImageFailureTest& t) { t.UseFiles({t.Entry("sbl1.mbn", 0x0E, 9, "0:SBL1")}); },
            "",
            {{kNotifyLog, "download type 9 is not supported"}}},
        ImageFailure{
            "ChecksumMismatchTwice",
            [](ImageFailureTest& t) { t.UseFiles({t.Entry("sbl2.mbn", 0x0E, 4, "0:SBL2")}); },
            "badsum:1:2",
            {{kNotifyHint, "Checksum mismatch, sending the block again"},
             {kNotifyHint, kWriting + "sbl2..."},
             {kNotifyHint, "Checksum mismatch again, giving up"},
             {kNotifyLog, "sbl2 download is fail"}}},
        ImageFailure{
            "AcknowledgementsThatNeverReachTheLastAddress",
            [](ImageFailureTest& t) { t.UseFiles({t.Entry("sbl2.mbn", 0x0E, 4, "0:SBL2")}); },
            "ackloop:1",
            {{kNotifyHint, "The device did not confirm the written addresses"},
             {kNotifyLog, "sbl2 download is fail"}}},
        ImageFailure{"DeviceReportsAWriteFailure",
                     [](ImageFailureTest& t) {
                         // More than the 1.25 MiB partition holds.
                         t.WriteFile("big.bin", 1400 * 1024, 9);
                         t.UseFiles({t.Entry("big.bin", 0x0E, 4, "0:SBL1")});
                     },
                     "",
                     {{kNotifyHint, "The device reported a write failure"},
                      {kNotifyLog, "big download is fail"}}},
        ImageFailure{
            "OpenRefused",
            [](ImageFailureTest& t) { t.UseFiles({t.Entry("sbl1.mbn", 0x0E, 4, "0:NOSUCH")}); },
            "",
            {{kNotifyHint, "The device refused to open the image"},
             {kNotifyLog, "sbl1 download is fail"}}},
        ImageFailure{"HeaderLongerThanAnOpenCarries",
                     [](ImageFailureTest& t) {
                         t.WriteFile("long-header.bin", 1025, 1);
                         t.UseFiles({t.Entry("long-header.bin", 0x14, 4, {}, 1)});
                     },
                     "",
                     {{kNotifyLog, "file too large (1025 bytes, at most 1024)"},
                      {kNotifyLog, "long-header download is fail"}}},
        ImageFailure{"PartitionTableLongerThanATable",
                     [](ImageFailureTest& t) { t.WriteFile("partition.mbn", 1025, 2); },
                     "",
                     {{kNotifyHint, "Writing the partition table"},
                      {kNotifyLog, "file too large (1025 bytes, at most 1024)"},
                      {kNotifyLog, "Cannot write the partition table"}}}),
    [](const ::testing::TestParamInfo<ImageFailure>& info) { return info.param.name; });

}  // namespace
}  // namespace tapfix::session
