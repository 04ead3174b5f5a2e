// An image written piece by piece: its bytes and its digest whatever the order of the writes.
#include <gtest/gtest.h>

#include <string_view>

#include "sim/flash_model.hpp"

namespace tapfix::sim::flash {
namespace {

struct Piece {
    std::uint64_t offset;
    Bytes bytes;
};

struct ImageCase {
    std::string_view name;
    std::vector<Piece> writes;
    Bytes image;
};

TEST(ImageBytes, HoldsWhatWasWrittenAndItsDigestInAnyOrder) {
    const std::vector<ImageCase> cases = {
        {"front to back", {{0, {1, 2}}, {2, {3}}, {3, {4, 5}}}, {1, 2, 3, 4, 5}},
        {"the second block first", {{2, {3, 4}}, {0, {1, 2}}}, {1, 2, 3, 4}},
        {"a block written again", {{0, {1, 2}}, {2, {3, 4}}, {2, {7, 8}}}, {1, 2, 7, 8}},
        {"a gap stays erased", {{0, {1}}, {3, {4}}}, {1, 0xFF, 0xFF, 4}},
        {"nothing written", {}, {}},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.name);
        ImageBytes image;
        for (const Piece& piece : c.writes) {
            image.Write(piece.offset, piece.bytes);
        }
        EXPECT_EQ(image.Data(), c.image);
        EXPECT_EQ(image.Sha256Hex(), Sha256Hex(c.image));
    }
}

TEST(ImageBytes, ADigestTakenMidwayLeavesTheRestToCount) {
    ImageBytes image;
    image.Write(0, Bytes{1, 2, 3});
    EXPECT_EQ(image.Sha256Hex(), Sha256Hex(Bytes{1, 2, 3}));
    image.Write(3, Bytes{4});
    EXPECT_EQ(image.Sha256Hex(), Sha256Hex(Bytes{1, 2, 3, 4}));
}

}  // namespace
}  // namespace tapfix::sim::flash
