#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/pipe/pipe_client.h"
#include "tray/core/command_worker.h"
#include "tray/core/notification_check.h"
#include "tray/core/report_sender.h"
#include "tray/core/tray_status.h"
#include "tray/linux/desktop_alerts.h"
#include "tray/linux/notification_popup.h"
#include "tray/linux/tray_indicator.h"

namespace quietway {

// The tray program on a Linux desktop: the indicator and its menu, the status poll every
// second, the notification check every 30 seconds and the popup. Everything runs on the GTK
// main thread except the pipe exchanges (CommandWorker) and the server reports.
class TrayApplication {
public:
    // `asset_dir` holds the icons and the chime (tray/icons).
    explicit TrayApplication(const std::string& asset_dir);
    ~TrayApplication();
    TrayApplication(const TrayApplication&) = delete;
    TrayApplication& operator=(const TrayApplication&) = delete;

    // Shows the start-up status and starts the one-second timer; false when the pipe thread
    // could not be started.
    bool start();

    struct Mailbox;

private:
    static int on_timer(void* self);
    void tick();
    void on_reply(int command, int status);
    void apply(const std::optional<StatusView>& view);
    void check_notifications_now();
    void show_notification();
    void open_notification();
    void on_menu(int id);
    std::string sound_file() const;

    std::string asset_dir_;
    PipeClient pipe_;
    StatusMonitor monitor_;
    NotificationClock clock_;
    CurrentNotification current_;
    NotificationShow pending_ = NotificationShow::none;
    TrayIndicator indicator_;
    NotificationPopup popup_;
    DesktopAlerts alerts_;
    ReportSender reports_;
    std::shared_ptr<Mailbox> mailbox_;
    unsigned timer_ = 0;
    // Last: its thread is ended before anything it reports to goes away.
    std::unique_ptr<CommandWorker> worker_;
};

}  // namespace quietway
