#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tray/core/tray_menu.h"
#include "tray/core/tray_status.h"

typedef struct _AppIndicator AppIndicator;
typedef struct _GtkWidget GtkWidget;

namespace quietway {

// The tray's icon and context menu on a Linux desktop: an AppIndicator (a status icon in an
// XEMBED tray where no indicator host runs) with a GTK menu made from the core's menu model.
class TrayIndicator {
public:
    using Activate = std::function<void(int id)>;
    using Model = std::function<std::vector<MenuEntry>()>;

    // `theme_dir` holds hicolor/<N>x<N>/apps/quietway-<stem>.png. `model` gives the menu as
    // it should be now; it is asked whenever the menu opens and on refresh().
    TrayIndicator(const std::string& theme_dir, Model model, Activate on_activate);
    ~TrayIndicator();
    TrayIndicator(const TrayIndicator&) = delete;
    TrayIndicator& operator=(const TrayIndicator&) = delete;

    // The status: the icon, and the tooltip as the indicator's title.
    void show(const StatusView& view);
    // Brings the menu up to date unless it is open right now; for hosts that show a copy of
    // the menu (an indicator host) rather than opening it here.
    void refresh();

private:
    static void on_item(GtkWidget* item, void* self);
    static void on_menu_shown(GtkWidget* menu, void* self);
    static void on_menu_hidden(GtkWidget* menu, void* self);
    void set_menu(const std::vector<MenuEntry>& entries);
    void fill(GtkWidget* menu, const std::vector<MenuEntry>& entries);

    AppIndicator* indicator_ = nullptr;
    GtkWidget* menu_ = nullptr;
    Model model_;
    Activate on_activate_;
    std::vector<MenuEntry> shown_;
    bool menu_filled_ = false;
    bool menu_open_ = false;
};

}  // namespace quietway
