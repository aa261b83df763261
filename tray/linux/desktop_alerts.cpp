#include "tray/linux/desktop_alerts.h"

#include <canberra.h>
#include <libnotify/notify.h>

#include "common/log/rotating_log.h"

namespace quietway {
namespace {

constexpr const char* kAppName = "Quietway";
// A bubble stays as long as the balloon did.
constexpr int kBalloonTimeoutMs = 10000;

}  // namespace

DesktopAlerts::DesktopAlerts(std::function<void()> on_open) : on_open_(std::move(on_open)) {
    if (!notify_is_initted()) notify_init(kAppName);
    const int result = ca_context_create(&sound_);
    if (result != CA_SUCCESS) {
        log("Can't create the sound context: %s", ca_strerror(result));
        sound_ = nullptr;
    }
}

DesktopAlerts::~DesktopAlerts() {
    drop_bubble();
    if (sound_ != nullptr) ca_context_destroy(sound_);
}

void DesktopAlerts::drop_bubble() {
    if (bubble_ == nullptr) return;
    g_signal_handlers_disconnect_by_data(bubble_, this);
    g_object_unref(bubble_);
    bubble_ = nullptr;
}

void DesktopAlerts::show_balloon(const std::string& title, const std::string& info) {
    drop_bubble();
    // The daemon reads the body as markup; the texts come from the vendor and are shown as
    // they are.
    gchar* body = g_markup_escape_text(info.c_str(), -1);
    bubble_ = notify_notification_new(title.c_str(), body, "dialog-information");
    g_free(body);
    notify_notification_set_timeout(bubble_, kBalloonTimeoutMs);
    notify_notification_set_app_name(bubble_, kAppName);
    notify_notification_add_action(bubble_, "default", "Open", on_action, this, nullptr);
    GError* error = nullptr;
    if (!notify_notification_show(bubble_, &error)) {
        log("Can't show the desktop notification: %s",
            error != nullptr ? error->message : "unknown error");
        g_clear_error(&error);
    }
}

void DesktopAlerts::on_action(NotifyNotification*, char* action, void* self) {
    if (g_strcmp0(action, "default") == 0) static_cast<DesktopAlerts*>(self)->on_open_();
}

bool DesktopAlerts::play(const std::string& path) {
    if (sound_ == nullptr) return false;
    const int result = ca_context_play(sound_, 0, CA_PROP_MEDIA_FILENAME, path.c_str(),
                                       CA_PROP_EVENT_DESCRIPTION, "Quietway notification", nullptr);
    if (result != CA_SUCCESS) {
        log("Can't play %s: %s", path.c_str(), ca_strerror(result));
        return false;
    }
    return true;
}

}  // namespace quietway
