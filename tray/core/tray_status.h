#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/pipe/pipe_vocabulary.h"
#include "common/privacy/privacy_status.h"
#include "tray/core/tray_assets.h"

// What the icon and its tooltip show for each privacy status the service reports.
namespace quietway {

// The tip the icon record starts with; replaced at start when all icons loaded.
inline constexpr const char* kStartupTip = "Quietway is stopped";
// Capacity of the icon record's tip, terminator included.
inline constexpr size_t kTipCapacity = 128;

struct StatusView {
    TrayIcon icon = TrayIcon::stopped;
    std::string tooltip;
};

// The icon and tooltip shown for a status; status 2 alternates its two frames, one step per
// call.
class StatusDisplay {
public:
    // Nothing for a value the tray does not show (negative, 7 and above): keep what is shown.
    std::optional<StatusView> view_for(int status);
    int toggle() const { return toggle_; }

private:
    int toggle_ = 0;
};

// The status the tray last heard and the display that goes with it. Used on one thread (the
// window's); replies from other threads are handed over to it first.
class StatusMonitor {
public:
    int status() const { return status_; }
    // A poll's reply: stored, and shown only when it differs from the stored status.
    std::optional<StatusView> on_poll_reply(int status);
    // A menu command's reply: stored and shown.
    std::optional<StatusView> on_command_reply(int status);
    // The start-up display of status 0.
    std::optional<StatusView> initial_view() { return display_.view_for(status_); }

private:
    int status_ = kPrivacyNone;
    StatusDisplay display_;
};

}  // namespace quietway
