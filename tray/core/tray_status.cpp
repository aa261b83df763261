#include "tray/core/tray_status.h"

namespace quietway {

std::optional<StatusView> StatusDisplay::view_for(int status) {
    switch (status) {
        case kPrivacyNone:
        case kPrivacyStopped:
        case kReplyStoppedOther:
            return StatusView{TrayIcon::stopped, "Quietway stopped"};
        case kReplyNoServer:
            return StatusView{TrayIcon::stopped, "Quietway stopped, not configured"};
        case kPrivacyConnecting:
            toggle_ = toggle_ + 1 == 2 ? 0 : toggle_ + 1;
            if (toggle_ != 0) return StatusView{TrayIcon::connecting1, "Quietway Connecting ..."};
            return StatusView{TrayIcon::connecting2, "Quietway Connecting .."};
        case kPrivacyConnected:
            return StatusView{TrayIcon::started, "Quietway started"};
        case kReplySameUser:
            return StatusView{TrayIcon::started, "Quietway started, same user detected"};
        default:
            return std::nullopt;
    }
}

std::optional<StatusView> StatusMonitor::on_poll_reply(int status) {
    if (status == status_) return std::nullopt;
    status_ = status;
    return display_.view_for(status);
}

std::optional<StatusView> StatusMonitor::on_command_reply(int status) {
    status_ = status;
    return display_.view_for(status);
}

}  // namespace quietway
