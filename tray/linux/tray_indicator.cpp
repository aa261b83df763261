#include "tray/linux/tray_indicator.h"

#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

namespace quietway {
namespace {

constexpr const char* kIndicatorId = "quietway-tray";
constexpr const char* kMenuIdKey = "quietway-menu-id";

std::string icon_name(TrayIcon icon) { return std::string("quietway-") + icon_file_stem(icon); }

bool same_entries(const std::vector<MenuEntry>& a, const std::vector<MenuEntry>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].kind != b[i].kind || a[i].id != b[i].id || a[i].text != b[i].text ||
            a[i].enabled != b[i].enabled || a[i].checked != b[i].checked ||
            !same_entries(a[i].children, b[i].children)) {
            return false;
        }
    }
    return true;
}

}  // namespace

TrayIndicator::TrayIndicator(const std::string& theme_dir, Model model, Activate on_activate)
    : model_(std::move(model)), on_activate_(std::move(on_activate)) {
    // Without a desktop watcher the indicator falls back to a status icon and looks for its
    // theme folder in the icon theme's search path with a loop that reads past the end of that
    // list until it finds the folder (a crash under AddressSanitizer). Already in the list, the
    // folder is found before the end.
    gtk_icon_theme_append_search_path(gtk_icon_theme_get_default(), theme_dir.c_str());
    indicator_ =
        app_indicator_new_with_path(kIndicatorId, icon_name(TrayIcon::stopped).c_str(),
                                    APP_INDICATOR_CATEGORY_APPLICATION_STATUS, theme_dir.c_str());
    menu_ = gtk_menu_new();
    g_object_ref_sink(menu_);
    g_signal_connect(menu_, "show", G_CALLBACK(on_menu_shown), this);
    g_signal_connect(menu_, "hide", G_CALLBACK(on_menu_hidden), this);
    app_indicator_set_menu(indicator_, GTK_MENU(menu_));
    app_indicator_set_status(indicator_, APP_INDICATOR_STATUS_ACTIVE);
}

TrayIndicator::~TrayIndicator() {
    g_signal_handlers_disconnect_by_data(menu_, this);
    g_object_unref(indicator_);
    gtk_widget_destroy(menu_);
    g_object_unref(menu_);
}

void TrayIndicator::show(const StatusView& view) {
    app_indicator_set_icon_full(indicator_, icon_name(view.icon).c_str(), view.tooltip.c_str());
    app_indicator_set_title(indicator_, view.tooltip.c_str());
}

void TrayIndicator::refresh() {
    if (!menu_open_) set_menu(model_());
}

void TrayIndicator::set_menu(const std::vector<MenuEntry>& entries) {
    if (menu_filled_ && same_entries(entries, shown_)) return;
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu_));
    for (GList* child = children; child != nullptr; child = child->next) {
        gtk_widget_destroy(GTK_WIDGET(child->data));
    }
    g_list_free(children);
    fill(menu_, entries);
    shown_ = entries;
    menu_filled_ = true;
}

void TrayIndicator::fill(GtkWidget* menu, const std::vector<MenuEntry>& entries) {
    for (const MenuEntry& entry : entries) {
        GtkWidget* item = nullptr;
        const std::string label = underscore_mnemonics(entry.text);
        switch (entry.kind) {
            case MenuEntry::Kind::separator:
                item = gtk_separator_menu_item_new();
                break;
            case MenuEntry::Kind::submenu: {
                item = gtk_menu_item_new_with_mnemonic(label.c_str());
                GtkWidget* submenu = gtk_menu_new();
                fill(submenu, entry.children);
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), submenu);
                break;
            }
            case MenuEntry::Kind::item:
                if (entry.checked) {
                    item = gtk_check_menu_item_new_with_mnemonic(label.c_str());
                    // Before the handler is connected: setting the check activates the item.
                    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), TRUE);
                } else {
                    item = gtk_menu_item_new_with_mnemonic(label.c_str());
                }
                g_object_set_data(G_OBJECT(item), kMenuIdKey, GINT_TO_POINTER(entry.id));
                g_signal_connect(item, "activate", G_CALLBACK(on_item), this);
                break;
        }
        gtk_widget_set_sensitive(item, entry.enabled);
        gtk_widget_show(item);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    }
}

void TrayIndicator::on_item(GtkWidget* item, void* self) {
    const int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), kMenuIdKey));
    static_cast<TrayIndicator*>(self)->on_activate_(id);
}

void TrayIndicator::on_menu_shown(GtkWidget*, void* self) {
    // Built anew each time it opens, from the status and the store as they are now.
    auto* indicator = static_cast<TrayIndicator*>(self);
    if (indicator->menu_open_) return;
    indicator->set_menu(indicator->model_());
    indicator->menu_open_ = true;
}

void TrayIndicator::on_menu_hidden(GtkWidget*, void* self) {
    static_cast<TrayIndicator*>(self)->menu_open_ = false;
}

}  // namespace quietway
