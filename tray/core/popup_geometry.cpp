#include "tray/core/popup_geometry.h"

#include <cmath>

namespace quietway {

PopupSize scaled_banner(int screen_right, PopupSize image) {
    if (image.width > screen_right * 0.5) {
        const float factor = static_cast<float>(screen_right / 2) / image.width;
        image.width = static_cast<int>(image.width * factor);
        image.height = static_cast<int>(image.height * factor);
    }
    return image;
}

PopupRect banner_popup_rect(const PopupScreen& screen, PopupSize image) {
    const PopupSize size = scaled_banner(screen.right, image);
    return PopupRect{screen.right - size.width - 2,
                     screen.bottom - size.height - screen.taskbar - 2, screen.right,
                     screen.bottom - screen.taskbar};
}

int info_layout_width(int screen_right) { return static_cast<int>(std::ceil(screen_right * 0.25)); }

PopupRect text_popup_rect(const PopupScreen& screen, int title_height, int info_width,
                          int info_height) {
    const double quarter = screen.right * 0.25;
    int width = info_width;
    int height = info_height;
    if (info_width > quarter) {
        // A text that would not wrap inside the quarter keeps its lines' share: narrower box,
        // proportionally more lines.
        const double ratio = std::ceil(quarter * 100.0 / info_width);
        width = static_cast<int>(std::ceil(ratio * info_width / 100.0));
        height = static_cast<int>(std::ceil(100.0 / ratio)) * info_height;
    }
    return PopupRect{screen.right - width - 62,
                     screen.bottom - title_height - height - screen.taskbar - 22, screen.right,
                     screen.bottom - screen.taskbar};
}

CloseBoxShape close_box_shape(int client_right, int client_top) {
    CloseBoxShape shape;
    shape.x = client_right - 31;
    shape.y = client_top + 5;
    shape.size = 25;
    const int l1[4] = {client_right - 26, client_top + 10, client_right - 11, client_top + 25};
    const int l2[4] = {client_right - 26, client_top + 25, client_right - 11, client_top + 10};
    for (int i = 0; i < 4; ++i) {
        shape.line1[i] = l1[i];
        shape.line2[i] = l2[i];
    }
    return shape;
}

bool close_box_hit(const PopupRect& popup, int x, int y) {
    return x > popup.right - 30 && x <= popup.right - 5 && y > popup.top + 5 && y <= popup.top + 30;
}

}  // namespace quietway
