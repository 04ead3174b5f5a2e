#include "gui/window_layout.hpp"

#include <algorithm>
#include <cstdlib>

namespace tapfix::gui {
namespace {

using enum ControlKind;

constexpr ControlLayout kLayout[] = {
    {1000, Text, {7, 8, 407, 8}, true, true},
    {1001, Text, {7, 28, 249, 8}, true, true},
    {1002, Text, {9, 42, 244, 8}, true, true},
    {1003, Text, {9, 52, 341, 8}, true, true},
    {1004, Text, {9, 62, 341, 8}, true, true},
    {1005, Text, {9, 72, 341, 8}, true, true},
    {1007, WarningText, {7, 86, 407, 8}, true, true},
    {1008, WarningText, {7, 96, 407, 8}, true, true},
    {1009, WarningText, {7, 106, 407, 8}, true, true},
    {1010, WarningText, {7, 116, 407, 8}, true, true},
    {1011, Text, {7, 126, 273, 8}, true, true},
    {1012, Text, {7, 142, 63, 8}, true, true},
    {1013, Value, {85, 143, 63, 8}, true, true},
    {1014, Text, {7, 154, 63, 8}, true, true},
    {1015, Value, {85, 154, 181, 8}, true, true},
    {1016, Value, {7, 167, 266, 8}, true, true},
    {1017, Text, {7, 178, 63, 8}, true, true},
    {1018, Value, {85, 178, 63, 8}, true, true},
    {1006, ProgressBar, {7, 199, 407, 14}, true, true},
    {1021, PushButton, {346, 150, 68, 40}, true, false},
    {1020, PushButton, {346, 128, 68, 14}, false, false},
    {130, Picture, {277, 18, 80, 33}, false, false},
};

// The picture has no image and nothing ever shows it; every other control may be visible.
bool CanBeShown(const ControlLayout& control) {
    return control.kind != Picture;
}

}  // namespace

std::span<const ControlLayout> WindowLayout() {
    return kLayout;
}

const ControlLayout* FindControl(int id) {
    const auto found = std::ranges::find(kLayout, id, &ControlLayout::id);
    return found == std::end(kLayout) ? nullptr : &*found;
}

int TextRightLimit(const ControlLayout& control) {
    int limit = kDialogArea.Right() - kLayoutMargin;
    for (const ControlLayout& other : kLayout) {
        if (&other != &control && CanBeShown(other) && other.rect.x >= control.rect.Right() &&
            other.rect.SharesRowsWith(control.rect)) {
            limit = std::min(limit, other.rect.x - kControlGap);
        }
    }
    return std::max(limit, control.rect.Right());
}

int AverageCharWidth(int sampleWidth) {
    constexpr int kLetterPairs = 26;
    return (sampleWidth / kLetterPairs + 1) / 2;
}

int ScaleRounded(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = std::llabs(c) / 2;
    const long long rounded = ((product < 0) != (c < 0)) ? product - half : product + half;
    return static_cast<int>(rounded / c);
}

int HorizontalPixels(int dialogUnits, const BaseUnits& units) {
    return ScaleRounded(dialogUnits, units.averageWidth, 4);
}

PixelRect ToPixels(const DialogRect& rect, const BaseUnits& units) {
    return {HorizontalPixels(rect.x, units), ScaleRounded(rect.y, units.height, 8),
            HorizontalPixels(rect.width, units), ScaleRounded(rect.height, units.height, 8)};
}

}  // namespace tapfix::gui
