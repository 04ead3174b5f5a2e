#include <gtest/gtest.h>

#include "sim_fixture.hpp"

namespace tapfix::sim::test {
namespace {

using wire::AppendLe16;
using wire::AppendLe32;

Bytes EfsRequest(std::uint8_t command, std::initializer_list<std::uint32_t> words = {}) {
    Bytes request{0x4B, 0x13, command, 0x00};
    for (const std::uint32_t word : words) {
        AppendLe32(request, word);
    }
    return request;
}

void AppendPath(Bytes& request, const std::string& path) {
    request.insert(request.end(), path.begin(), path.end());
    request.push_back(0);
}

class EfsTest : public RouterTest {
  protected:
    Bytes Stat(const std::string& path) {
        Bytes request = EfsRequest(0x0F);
        AppendPath(request, path);
        return Ask(request);
    }
    Bytes Open(const std::string& path, bool forReading) {
        Bytes request =
            forReading ? EfsRequest(0x02, {0, 0x124}) : EfsRequest(0x02, {0x241, 0x1B6});
        AppendPath(request, path);
        return Ask(request);
    }
    Bytes Get(const std::string& path, std::uint32_t wanted = 4095) {
        Bytes request = EfsRequest(0x27, {wanted, static_cast<std::uint32_t>(path.size() + 1)});
        AppendLe16(request, 7);
        AppendPath(request, path);
        return Ask(request);
    }
    Bytes Put(const std::string& path, const Bytes& data) {
        Bytes request = EfsRequest(0x26, {static_cast<std::uint32_t>(data.size()), 64});
        AppendLe16(request, 9);
        request.insert(request.end(), data.begin(), data.end());
        AppendPath(request, path);
        return Ask(request);
    }
};

TEST_F(EfsTest, StatTellsFileTypesSizesAndAbsence) {
    Start();
    const DeviceState state = router_->Snapshot();
    Bytes answer = Stat("nv/item_files/rfnv/00020207");
    EXPECT_EQ(Le32At(answer, 4), 0U);
    EXPECT_EQ(Le32At(answer, 8) & 0xF000, 0xE000U) << "item file";
    EXPECT_EQ(Le32At(answer, 12), state.efs.at("nv/item_files/rfnv/00020207").data.size());

    answer = Stat("/nv/item_files/mcs/tcxomgr/ft_table");
    EXPECT_EQ(Le32At(answer, 4), 0U) << "a leading slash names the same file";
    EXPECT_EQ(Le32At(answer, 8) & 0xF000, 0x8000U) << "regular file";
    EXPECT_EQ(Le32At(answer, 12), 1300U);

    EXPECT_EQ(Le32At(Stat("nv/item_files/rfnv/00099999"), 4), 2U);
    EXPECT_EQ(Le32At(Stat("nv/item_files/rfnv"), 8) & 0xF000, 0x4000U) << "directory";

    Bytes unterminated = EfsRequest(0x0F);
    unterminated.push_back('n');
    EXPECT_EQ(Ask(unterminated).at(0), 0x14);
}

TEST_F(EfsTest, RegularFileIsReadInChunksThroughADescriptor) {
    Start();
    const Bytes expected = router_->Snapshot().efs.at("nv/item_files/mcs/tcxomgr/ft_table").data;
    Bytes answer = Open("nv/item_files/mcs/tcxomgr/ft_table", true);
    ASSERT_EQ(answer.size(), 12U);
    EXPECT_EQ(Le32At(answer, 4), 0U) << "the first descriptor is 0";
    EXPECT_EQ(Le32At(answer, 8), 0U);
    EXPECT_EQ(Le32At(Ask(EfsRequest(0x11, {0})), 12), 1300U) << "fstat size";

    Bytes copy;
    std::vector<std::uint32_t> chunkSizes;
    while (copy.size() < 1300) {
        const auto offset = static_cast<std::uint32_t>(copy.size());
        answer = Ask(EfsRequest(0x04, {0, 512, offset}));
        ASSERT_GE(answer.size(), 20U);
        EXPECT_EQ(Le32At(answer, 8), offset);
        EXPECT_EQ(Le32At(answer, 16), 0U);
        chunkSizes.push_back(Le32At(answer, 12));
        copy.insert(copy.end(), answer.begin() + 20, answer.end());
    }
    EXPECT_EQ(chunkSizes, (std::vector<std::uint32_t>{512, 512, 276}));
    EXPECT_EQ(copy, expected);
    EXPECT_EQ(Le32At(Ask(EfsRequest(0x03, {0})), 4), 0U);
    EXPECT_EQ(Le32At(Ask(EfsRequest(0x03, {0})), 4), 9U) << "closing twice";
    EXPECT_EQ(Le32At(Ask(EfsRequest(0x04, {0, 16, 0})), 12), 0xFFFFFFFFU) << "read after close";

    answer = Open("nv/item_files/rfnv/00099999", true);
    EXPECT_EQ(Le32At(answer, 8), 2U);
    EXPECT_EQ(Le32At(answer, 4), 0xFFFFFFFFU);
}

TEST_F(EfsTest, WrittenAndPutFilesLandInTheState) {
    Start();
    const std::string path = "nv/item_files/mcs/tcxomgr/new_table";
    ASSERT_EQ(Le32At(Open(path, false), 8), 0U) << "open for writing creates";
    Bytes data(700);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7);
    }
    for (std::uint32_t offset = 0; offset < data.size(); offset += 512) {
        Bytes request = EfsRequest(0x05, {0, offset});
        const std::size_t end = std::min<std::size_t>(data.size(), offset + 512);
        request.insert(request.end(), data.begin() + offset, data.begin() + end);
        const Bytes answer = Ask(request);
        EXPECT_EQ(Le32At(answer, 12), end - offset);
        EXPECT_EQ(Le32At(answer, 16), 0U);
    }
    Ask(EfsRequest(0x03, {0}));
    EXPECT_EQ(router_->Snapshot().efs.at(path).data, data);
    EXPECT_EQ(router_->Snapshot().efs.at(path).type, EfsType::Regular);

    Bytes answer = Put("nv/item_files/rfnv/00020999", {1, 2, 0x7E, 4});
    EXPECT_EQ(Le16At(answer, 4), 9) << "sequence number echoed";
    EXPECT_EQ(Le32At(answer, 6), 0U);
    const EfsFile item = router_->Snapshot().efs.at("nv/item_files/rfnv/00020999");
    EXPECT_EQ(item.type, EfsType::Item);
    EXPECT_EQ(item.data, (Bytes{1, 2, 0x7E, 4}));

    answer = Get("nv/item_files/rfnv/00020999");
    EXPECT_EQ(Le32At(answer, 4), 4U);
    EXPECT_EQ(Le32At(answer, 8), 0U);
    EXPECT_EQ(Le16At(answer, 12), 7);
    EXPECT_EQ(Bytes(answer.begin() + 14, answer.end()), (Bytes{1, 2, 0x7E, 4}));
    answer = Get("nv/item_files/rfnv/00099999");
    EXPECT_EQ(Le32At(answer, 4), 0xFFFFFFFFU);
    EXPECT_EQ(Le32At(answer, 8), 2U);
    EXPECT_EQ(Le32At(Get("nv/item_files/rfnv/00020999", 3), 4), 0xFFFFFFFFU) << "too small";

    // Writes far past the end are refused instead of growing the file.
    ASSERT_EQ(Le32At(Open(path, false), 8), 0U);
    Bytes far = EfsRequest(0x05, {0, 0xFFFFFF00});
    far.push_back(1);
    EXPECT_EQ(Le32At(Ask(far), 12), 0xFFFFFFFFU);
    // A put whose length field runs past the request is malformed.
    Bytes lying = EfsRequest(0x26, {4000, 64});
    AppendLe16(lying, 1);
    lying.push_back(0);
    EXPECT_EQ(Ask(lying).at(0), 0x15);
}

}  // namespace
}  // namespace tapfix::sim::test
