#pragma once

#include <cstdint>

// Where the notification popup goes and where its close box is. All numbers are pixels;
// rectangles are screen coordinates unless said otherwise.
namespace quietway {

struct PopupRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const PopupRect&) const = default;
};

// The screen the popup sits on: the desktop's right and bottom edges and the height of the
// panel (taskbar) along the bottom, 0 when there is none.
struct PopupScreen {
    int right = 0;
    int bottom = 0;
    int taskbar = 0;
};

struct PopupSize {
    int width = 0;
    int height = 0;
    bool operator==(const PopupSize&) const = default;
};

// A banner wider than half the screen shrunk to half the screen's width, keeping its shape.
PopupSize scaled_banner(int screen_right, PopupSize image);
// The banner card: the (scaled) image plus a 2-pixel frame, at the right edge, above the panel.
PopupRect banner_popup_rect(const PopupScreen& screen, PopupSize image);

// Width available to the info text: a quarter of the screen, rounded up.
int info_layout_width(int screen_right);
// The text card for the measured title height and the info's measured width and height.
PopupRect text_popup_rect(const PopupScreen& screen, int title_height, int info_width,
                          int info_height);

// Text card layout inside the client area.
inline constexpr int kTextInsetX = 31;
inline constexpr int kTextInsetY = 11;
inline constexpr float kTitlePoints = 11.0f;
inline constexpr float kInfoPoints = 10.0f;
inline constexpr const char* kPopupFontFamily = "Segoe UI";

// ARGB colours.
inline constexpr uint32_t kCardBackground = 0xFFFFFFFF;
inline constexpr uint32_t kCardBorder = 0xFF000000;
inline constexpr uint32_t kTitleColour = 0xFF3947AF;
inline constexpr uint32_t kInfoColour = 0xFF000000;
inline constexpr uint32_t kCloseBoxFill = 0x7D000000;
inline constexpr uint32_t kCloseBoxPen = 0xFFFFFFFF;

// The close box drawn in client coordinates of a client rectangle's right and top edges: the
// square and the two strokes of its cross.
struct CloseBoxShape {
    int x = 0, y = 0, size = 0;
    int line1[4] = {};  // x1, y1, x2, y2
    int line2[4] = {};
};
CloseBoxShape close_box_shape(int client_right, int client_top);

// Whether a click at screen position (x, y) hits the close box of the popup at `popup`.
bool close_box_hit(const PopupRect& popup, int x, int y);

}  // namespace quietway
