#include "gui/window_layout.hpp"

#include <gtest/gtest.h>

namespace tapfix::test {
namespace {

using gui::BaseUnits;
using gui::DialogRect;
using gui::PixelRect;

TEST(WindowLayoutTest, AverageWidthIsTheSampleWidthPerLetterPairHalvedAndRounded) {
    const struct {
        int sampleWidth;
        int average;
    } cases[] = {
        {385, 7},  // DejaVu Sans 9 pt at 96 dpi: 14 per pair
        {364, 7},  // exactly 14 per pair
        {363, 7},  // 13 per pair (the division drops the rest), rounded up
        {338, 7},  // 13 per pair
        {337, 6},  // 12 per pair
        {0, 0},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(gui::AverageCharWidth(entry.sampleWidth), entry.average)
            << "sample width " << entry.sampleWidth;
    }
}

TEST(WindowLayoutTest, ScalingRoundsHalvesAwayFromZero) {
    const struct {
        int a, b, c, result;
    } cases[] = {
        {421, 7, 4, 737},                 // 736.75
        {220, 14, 8, 385}, {1, 6, 4, 2},  // 1.5
        {7, 6, 4, 11},                    // 10.5
        {5, 6, 4, 8},                     // 7.5
        {2, 6, 4, 3},                     // exact
        {-1, 6, 4, -2},                   // -1.5
        {3, 7, 8, 3},                     // 2.625
        {1, 1, 3, 0},                     // 0.33
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(gui::ScaleRounded(entry.a, entry.b, entry.c), entry.result)
            << entry.a << " * " << entry.b << " / " << entry.c;
    }
}

TEST(WindowLayoutTest, EachNumberOfARectangleIsScaledOnItsOwn) {
    const BaseUnits units{7, 14};
    // x + width scaled together would give a right edge of 724, here it is 12 + 712.
    EXPECT_EQ(gui::ToPixels(DialogRect{7, 199, 407, 14}, units), (PixelRect{12, 348, 712, 25}));
    EXPECT_EQ(gui::ToPixels(gui::kDialogArea, units), (PixelRect{0, 0, 737, 385}));
    EXPECT_EQ(gui::ToPixels(DialogRect{346, 150, 68, 40}, BaseUnits{6, 13}),
              (PixelRect{519, 244, 102, 65}));
}

TEST(WindowLayoutTest, ControlsThatCanBeShownStayInsideTheDialogAndApart) {
    const auto layout = gui::WindowLayout();
    for (const gui::ControlLayout& control : layout) {
        EXPECT_GE(control.rect.x, 0) << control.id;
        EXPECT_LE(control.rect.Right(), gui::kDialogArea.Right()) << control.id;
        EXPECT_LE(control.rect.Bottom(), gui::kDialogArea.Bottom()) << control.id;
        if (control.kind == gui::ControlKind::Picture) {
            continue;
        }
        for (const gui::ControlLayout& other : layout) {
            const bool overlaps = control.rect.SharesRowsWith(other.rect) &&
                                  control.rect.x < other.rect.Right() &&
                                  other.rect.x < control.rect.Right();
            EXPECT_FALSE(&other != &control && other.kind != gui::ControlKind::Picture && overlaps)
                << control.id << " overlaps " << other.id;
        }
    }
}

TEST(WindowLayoutTest, TextsGrowToTheNextControlOnTheirRowsOrTheMargin) {
    const struct {
        int id;
        int limit;
    } cases[] = {
        {1001, 414},                            // the hidden picture beside it is never shown
        {1002, 414}, {1011, 342},               // the language button may be shown
        {1012, 81},                             // the port value follows the label
        {1015, 342},                            // "Update" beside the version
        {1016, 342}, {1018, 342}, {1000, 414},  // already as wide as the layout allows
    };
    for (const auto& entry : cases) {
        const gui::ControlLayout* control = gui::FindControl(entry.id);
        ASSERT_NE(control, nullptr) << entry.id;
        EXPECT_EQ(gui::TextRightLimit(*control), entry.limit) << "control " << entry.id;
    }
}

}  // namespace
}  // namespace tapfix::test
