#include "tray/linux/tray_application.h"

#include <glib.h>

#include <ctime>
#include <filesystem>
#include <system_error>

#include "common/log/rotating_log.h"
#include "common/pipe/pipe_vocabulary.h"
#include "common/store/notification_store.h"
#include "tray/core/program_folder.h"
#include "tray/core/tray_menu.h"
#include "tray/core/url_policy.h"

namespace quietway {

// Pipe replies arrive on the worker's thread and are handed to the main thread through this;
// `owner` is cleared (on the main thread) when the application goes.
struct TrayApplication::Mailbox {
    TrayApplication* owner = nullptr;
};

namespace {

constexpr unsigned kTimerPeriodMs = 1000;

uint32_t masked_ticks() { return static_cast<uint32_t>(g_get_monotonic_time() / 1000) & kTickMask; }

struct Delivery {
    std::shared_ptr<TrayApplication::Mailbox> mailbox;
    int command;
    int status;
};

}  // namespace

TrayApplication::TrayApplication(const std::string& asset_dir)
    : asset_dir_(asset_dir),
      clock_(masked_ticks()),
      indicator_(
          asset_dir, [this] { return build_tray_menu(monitor_.status(), std::time(nullptr)); },
          [this](int id) { on_menu(id); }),
      popup_([this](bool close_box) {
          if (!close_box) open_notification();
      }),
      alerts_([this] {
          open_notification();
          popup_.hide();
      }),
      mailbox_(std::make_shared<Mailbox>()) {
    log("create TrayApplication");
    mailbox_->owner = this;
    worker_ = std::make_unique<CommandWorker>(
        [this](int command, int& status) { return pipe_.send_command(command, status); },
        [mailbox = mailbox_](int command, int status) {
            g_idle_add(
                [](gpointer data) -> gboolean {
                    std::unique_ptr<Delivery> delivery(static_cast<Delivery*>(data));
                    if (delivery->mailbox->owner != nullptr) {
                        delivery->mailbox->owner->on_reply(delivery->command, delivery->status);
                    }
                    return G_SOURCE_REMOVE;
                },
                new Delivery{mailbox, command, status});
        });
}

TrayApplication::~TrayApplication() {
    if (timer_ != 0) g_source_remove(timer_);
    worker_.reset();
    mailbox_->owner = nullptr;
    log("destroy TrayApplication");
}

bool TrayApplication::start() {
    if (!worker_->running()) return false;
    apply(monitor_.initial_view());
    timer_ = g_timeout_add(kTimerPeriodMs, on_timer, this);
    return true;
}

int TrayApplication::on_timer(void* self) {
    static_cast<TrayApplication*>(self)->tick();
    return G_SOURCE_CONTINUE;
}

void TrayApplication::tick() {
    worker_->poll();
    if (clock_.due(masked_ticks())) {
        check_notifications_now();
        // The store may have changed (servers, account, notifications) since the last look.
        indicator_.refresh();
    }
    if (pending_ != NotificationShow::none) {
        show_notification();
        pending_ = NotificationShow::none;
    }
}

void TrayApplication::on_reply(int command, int status) {
    apply(command == kPipeStatus ? monitor_.on_poll_reply(status)
                                 : monitor_.on_command_reply(status));
}

void TrayApplication::apply(const std::optional<StatusView>& view) {
    if (!view) return;
    indicator_.show(*view);
    indicator_.refresh();
}

void TrayApplication::check_notifications_now() {
    NotificationCheck check = check_notifications(std::time(nullptr));
    if (!check.selected) return;
    current_ = std::move(check.notification);
    pending_ = check.show;
}

void TrayApplication::show_notification() {
    popup_.hide();
    const std::string id = std::to_string(current_.id);
    if (!set_notification_state(id, kNotificationShown)) log("Can't change notification state!");
    reports_.send(id, kNotificationShown);
    if (pending_ == NotificationShow::text) alerts_.show_balloon(current_.title, current_.info);
    alerts_.play(sound_file());
    popup_.show(current_);
}

void TrayApplication::open_notification() {
    const std::string id = std::to_string(current_.id);
    if (!set_notification_state(id, kNotificationOpened)) log("Can't change notification state!");
    reports_.send(id, kNotificationOpened);
    if (!current_.url.empty()) open_url(current_.url);
}

void TrayApplication::on_menu(int id) { run_menu_entry(id, *worker_); }

std::string TrayApplication::sound_file() const {
    // The chime beside the program wins, as on Windows; else our own.
    std::error_code error;
    const std::string local = beside_program(kNotificationSoundFile);
    if (std::filesystem::is_regular_file(local, error)) return local;
    return asset_dir_ + "/notify.wav";
}

}  // namespace quietway
