#include "tray/linux/notification_popup.h"

#include <gtk/gtk.h>
#include <pango/pangocairo.h>

#include <cstring>

#include "common/log/rotating_log.h"

namespace quietway {
namespace {

// Largest banner image the tray decodes: a file from the vendor must not make it allocate
// without bound.
constexpr int kMaxBannerSide = 8192;
// The frame around a banner: the colour of an active window's border.
constexpr uint32_t kBannerFrame = 0xFFB4B4B4;
// Where the popup's family is missing.
constexpr const char* kFallbackFamily = "Sans";

void set_colour(cairo_t* cr, uint32_t argb) {
    cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                          (argb & 0xFF) / 255.0, ((argb >> 24) & 0xFF) / 255.0);
}

bool family_installed(const char* family) {
    PangoFontFamily** families = nullptr;
    int count = 0;
    pango_font_map_list_families(pango_cairo_font_map_get_default(), &families, &count);
    bool found = false;
    for (int i = 0; i < count && !found; ++i) {
        found = g_ascii_strcasecmp(pango_font_family_get_name(families[i]), family) == 0;
    }
    g_free(families);
    return found;
}

PangoFontDescription* popup_font(float points) {
    static const bool have_family = family_installed(kPopupFontFamily);
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, have_family ? kPopupFontFamily : kFallbackFamily);
    pango_font_description_set_size(font, static_cast<int>(points * PANGO_SCALE));
    return font;
}

// Stored texts are meant to be UTF-8; anything else is drawn with replacement characters.
std::string valid_utf8(const std::string& text) {
    gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
    std::string result = valid;
    g_free(valid);
    return result;
}

PangoLayout* text_layout(PangoContext* context, PangoFontDescription* font, const std::string& text,
                         int width) {
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, text.c_str(), -1);
    if (width > 0) {
        pango_layout_set_width(layout, width * PANGO_SCALE);
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    }
    return layout;
}

PangoRectangle measure(PangoContext* context, PangoFontDescription* font, const std::string& text,
                       int width) {
    PangoLayout* layout = text_layout(context, font, text, width);
    PangoRectangle logical{};
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    return logical;
}

}  // namespace

NotificationPopup::NotificationPopup(Click on_click)
    : on_click_(std::move(on_click)),
      title_font_(popup_font(kTitlePoints)),
      info_font_(popup_font(kInfoPoints)) {}

NotificationPopup::~NotificationPopup() {
    destroy_window();
    pango_font_description_free(title_font_);
    pango_font_description_free(info_font_);
}

void NotificationPopup::destroy_window() {
    if (window_ != nullptr) {
        gtk_widget_destroy(window_);
        window_ = nullptr;
    }
    if (banner_ != nullptr) {
        g_object_unref(banner_);
        banner_ = nullptr;
    }
}

PopupScreen NotificationPopup::screen() const {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
    PopupScreen result;
    if (monitor == nullptr) return result;
    GdkRectangle whole{};
    GdkRectangle work{};
    gdk_monitor_get_geometry(monitor, &whole);
    gdk_monitor_get_workarea(monitor, &work);
    // The right edge of the work area (a panel on the right stays uncovered); the panel along
    // the bottom is what the work area leaves below it.
    result.right = work.x + work.width;
    result.bottom = whole.y + whole.height;
    result.taskbar = result.bottom - (work.y + work.height);
    return result;
}

bool NotificationPopup::load_banner(const std::string& path, PopupSize& size) {
    int width = 0;
    int height = 0;
    if (gdk_pixbuf_get_file_info(path.c_str(), &width, &height) == nullptr || width <= 0 ||
        height <= 0) {
        log("Can't read image size!");
        return false;
    }
    if (width > kMaxBannerSide || height > kMaxBannerSide) {
        log("Banner image %s is too large: %dx%d", path.c_str(), width, height);
        return false;
    }
    size = scaled_banner(screen().right, PopupSize{width, height});
    if (size.width <= 0 || size.height <= 0) return false;
    GError* error = nullptr;
    banner_ =
        gdk_pixbuf_new_from_file_at_scale(path.c_str(), size.width, size.height, FALSE, &error);
    if (banner_ == nullptr) {
        log("Can't load banner image %s: %s", path.c_str(),
            error != nullptr ? error->message : "unknown error");
        g_clear_error(&error);
        return false;
    }
    return true;
}

void NotificationPopup::show(const CurrentNotification& notification) {
    destroy_window();
    const PopupScreen where = screen();
    title_ = valid_utf8(notification.title);
    info_ = valid_utf8(notification.info);
    banner_card_ = !notification.banner.empty();
    if (banner_card_) {
        PopupSize image{};
        // An image that can't be loaded leaves the frame and the close box.
        if (!load_banner(notification.banner, image)) image = PopupSize{};
        rect_ = banner_popup_rect(where, image);
    } else {
        PangoContext* context = gdk_pango_context_get();
        title_height_ = measure(context, title_font_, title_, 0).height;
        const PangoRectangle info =
            measure(context, info_font_, info_, info_layout_width(where.right));
        g_object_unref(context);
        rect_ = text_popup_rect(where, title_height_, info.width, info.height);
    }

    window_ = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_window_set_title(GTK_WINDOW(window_), kWindowTitle);
    gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_NOTIFICATION);
    gtk_widget_set_app_paintable(window_, TRUE);
    gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK);
    gtk_widget_set_size_request(window_, rect_.width(), rect_.height());
    gtk_window_move(GTK_WINDOW(window_), rect_.left, rect_.top);
    g_signal_connect(window_, "draw", G_CALLBACK(on_draw), this);
    g_signal_connect(window_, "button-press-event", G_CALLBACK(on_button), this);
    gtk_widget_show(window_);
    gtk_window_set_keep_above(GTK_WINDOW(window_), TRUE);
}

void NotificationPopup::hide() {
    if (window_ != nullptr) gtk_widget_hide(window_);
}

int NotificationPopup::on_draw(GtkWidget* widget, cairo_t* cr, void* self) {
    static_cast<NotificationPopup*>(self)->draw(cr, gtk_widget_get_allocated_width(widget),
                                                gtk_widget_get_allocated_height(widget));
    return TRUE;
}

void NotificationPopup::draw(cairo_t* cr, int width, int height) {
    if (banner_card_) {
        set_colour(cr, kBannerFrame);
        cairo_paint(cr);
        if (banner_ != nullptr && width > 2 && height > 2) {
            cairo_save(cr);
            cairo_translate(cr, 1, 1);
            cairo_scale(cr, static_cast<double>(width - 2) / gdk_pixbuf_get_width(banner_),
                        static_cast<double>(height - 2) / gdk_pixbuf_get_height(banner_));
            gdk_cairo_set_source_pixbuf(cr, banner_, 0, 0);
            cairo_paint(cr);
            cairo_restore(cr);
        }
    } else {
        draw_text_card(cr, width, height);
    }
    draw_close_box(cr, width);
}

void NotificationPopup::draw_text_card(cairo_t* cr, int width, int height) {
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_BEST);
    set_colour(cr, kCardBackground);
    cairo_paint(cr);
    set_colour(cr, kCardBorder);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, 0.5, 0.5, width - 1, height - 1);
    cairo_stroke(cr);

    const int text_width = width - 2 * kTextInsetX;
    if (text_width <= 0) return;
    PangoContext* context = pango_cairo_create_context(cr);
    struct Block {
        PangoFontDescription* font;
        const std::string& text;
        uint32_t colour;
        int y;
        int height;
    };
    const Block blocks[] = {
        {title_font_, title_, kTitleColour, kTextInsetY, title_height_},
        {info_font_, info_, kInfoColour, kTextInsetY + title_height_, height - 5},
    };
    for (const Block& block : blocks) {
        PangoLayout* layout = text_layout(context, block.font, block.text, text_width);
        cairo_save(cr);
        cairo_rectangle(cr, kTextInsetX, block.y, text_width, block.height);
        cairo_clip(cr);
        set_colour(cr, block.colour);
        cairo_move_to(cr, kTextInsetX, block.y);
        pango_cairo_show_layout(cr, layout);
        cairo_restore(cr);
        g_object_unref(layout);
    }
    g_object_unref(context);
}

void NotificationPopup::draw_close_box(cairo_t* cr, int width) {
    const CloseBoxShape box = close_box_shape(width, 0);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_BEST);
    cairo_rectangle(cr, box.x + 0.5, box.y + 0.5, box.size, box.size);
    set_colour(cr, kCloseBoxFill);
    cairo_fill_preserve(cr);
    set_colour(cr, kCloseBoxPen);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    for (const int* line : {box.line1, box.line2}) {
        cairo_move_to(cr, line[0] + 0.5, line[1] + 0.5);
        cairo_line_to(cr, line[2] + 0.5, line[3] + 0.5);
    }
    cairo_stroke(cr);
}

int NotificationPopup::on_button(GtkWidget*, GdkEventButton* event, void* self) {
    if (event->type != GDK_BUTTON_PRESS || event->button != 1) return FALSE;
    auto* popup = static_cast<NotificationPopup*>(self);
    const bool close_box = close_box_hit(popup->rect_, static_cast<int>(event->x_root),
                                         static_cast<int>(event->y_root));
    popup->on_click_(close_box);
    popup->hide();
    return TRUE;
}

}  // namespace quietway
