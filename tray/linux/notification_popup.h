#pragma once

#include <functional>
#include <string>

#include "tray/core/notification_check.h"
#include "tray/core/popup_geometry.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GdkPixbuf GdkPixbuf;
typedef struct _GdkEventButton GdkEventButton;
typedef struct _cairo cairo_t;
typedef struct _PangoFontDescription PangoFontDescription;

namespace quietway {

// The notification card: an undecorated popup window at the right edge of the monitor's work
// area, just above the panel, drawn with cairo and Pango. A text card (title and info) or a
// banner card (the banner image in a thin frame), each with a close box.
class NotificationPopup {
public:
    // Called on a left click: true when it hit the close box. The popup is hidden after it.
    using Click = std::function<void(bool close_box)>;

    explicit NotificationPopup(Click on_click);
    ~NotificationPopup();
    NotificationPopup(const NotificationPopup&) = delete;
    NotificationPopup& operator=(const NotificationPopup&) = delete;

    // Replaces any popup on screen with the card for `notification`.
    void show(const CurrentNotification& notification);
    void hide();
    // Screen rectangle of the last popup shown.
    const PopupRect& rect() const { return rect_; }

    // X window title of the popup, for the desktop's window lists and for tests.
    static constexpr const char* kWindowTitle = "Quietway notification";

private:
    static int on_draw(GtkWidget* widget, cairo_t* cr, void* self);
    static int on_button(GtkWidget* widget, GdkEventButton* event, void* self);
    void draw(cairo_t* cr, int width, int height);
    void draw_text_card(cairo_t* cr, int width, int height);
    void draw_close_box(cairo_t* cr, int width);
    bool load_banner(const std::string& path, PopupSize& size);
    PopupScreen screen() const;
    void destroy_window();

    Click on_click_;
    GtkWidget* window_ = nullptr;
    GdkPixbuf* banner_ = nullptr;
    PangoFontDescription* title_font_ = nullptr;
    PangoFontDescription* info_font_ = nullptr;
    std::string title_;
    std::string info_;
    bool banner_card_ = false;
    int title_height_ = 0;
    PopupRect rect_;
};

}  // namespace quietway
