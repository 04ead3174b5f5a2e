#pragma once

#include <span>
#include <string_view>

// The window's layout in dialog units and their conversion to pixels. Knows no toolkit, so the
// table and the arithmetic are checked without a display.
namespace tapfix::gui {

struct DialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    int Right() const { return x + width; }
    int Bottom() const { return y + height; }
    bool SharesRowsWith(const DialogRect& other) const {
        return y < other.Bottom() && other.y < Bottom();
    }
    bool operator==(const DialogRect&) const = default;
};

enum class ControlKind { Text, WarningText, Value, ProgressBar, PushButton, Picture };

struct ControlLayout {
    int id;
    ControlKind kind;
    DialogRect rect;
    bool visible;  // at start
    bool enabled;  // at start
};

// The client area of the dialog.
inline constexpr DialogRect kDialogArea{0, 0, 421, 220};
// Free margin that text controls keep from the dialog's edge and from a neighbour.
inline constexpr int kLayoutMargin = 7;
inline constexpr int kControlGap = 4;

// Every control of the window, in layout order.
std::span<const ControlLayout> WindowLayout();
// The control with the id, or null.
const ControlLayout* FindControl(int id);

// How far to the right a text control may grow without covering a control that can be shown on
// any of its rows (or the dialog's margin), in dialog units.
int TextRightLimit(const ControlLayout& control);

// The font sizes a dialog unit is made of, in pixels: a horizontal unit is a quarter of the
// average character width, a vertical unit an eighth of the character height.
struct BaseUnits {
    int averageWidth = 0;
    int height = 0;
};

// The text whose width gives the average character width.
inline constexpr std::string_view kAverageWidthSample =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
// The average character width from the width of the sample, rounded as the dialog manager of
// the platform the layout was drawn on does it: a width per letter pair, then halved.
int AverageCharWidth(int sampleWidth);

// a * b / c rounded half away from zero, as the dialog manager scales its units.
int ScaleRounded(int a, int b, int c);

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

// Each of the four numbers scaled on its own, as a dialog template's are.
PixelRect ToPixels(const DialogRect& rect, const BaseUnits& units);
int HorizontalPixels(int dialogUnits, const BaseUnits& units);

}  // namespace tapfix::gui
