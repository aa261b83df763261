#include <pwd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "common/log/rotating_log.h"
#include "common/service_host/cnt_service.h"
#include "common/service_host/error_text.h"

namespace quietway {
namespace {

bool is_pending(uint32_t state) {
    return state == kServiceStartPending || state == kServiceStopPending ||
           state == kServiceContinuePending || state == kServicePausePending;
}

// The systemd notification for a status report: READY=1 for running, STOPPING=1 for stop
// pending, the wait hint of a pending state as an extension of systemd's timeout.
std::string notification_for(const ServiceStatus& status) {
    std::string text;
    if (status.current_state == kServiceRunning) text += "READY=1\n";
    if (status.current_state == kServiceStopPending) text += "STOPPING=1\n";
    text += "STATUS=";
    text += service_state_name(status.current_state);
    if (is_pending(status.current_state) && status.wait_hint != 0) {
        text += "\nEXTEND_TIMEOUT_USEC=" + std::to_string(uint64_t{status.wait_hint} * 1000);
    }
    return text;
}

}  // namespace

void CNTService::look_up_account() {
    const uid_t uid = geteuid();
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        account_name_.assign(found->pw_name, 0, kMaxAccountText);
    } else {
        account_name_ = std::to_string(uid);
    }
    log("service logged under account %s", account_name_.c_str());
}

// Started by systemd, the unit's notification socket is in the environment; without it the
// program was started by hand and fails like the Windows dispatcher outside the manager
// (exit code 0).
int CNTService::run_dispatcher() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (socket == nullptr || *socket == '\0') {
        errno = ENOTCONN;
        const uint32_t error = last_system_error();
        log_event(system_error_text(error).c_str(), kEventError);
        return 0;
    }
    std::string name = service_name_;
    char* args[] = {name.data(), nullptr};
    service_main(1, args);
    // systemd reads the exit code as the service's result: success after a stop, failure
    // when the service ended on its own, which Restart=on-failure then acts on.
    return run_failed() ? EXIT_FAILURE : EXIT_SUCCESS;
}

bool CNTService::register_control_handler() {
    control_source_ = listen_for_service_stop(*this);
    return control_source_ != nullptr;
}

bool CNTService::report_to_manager(const ServiceStatus& status) {
    const int result = sd_notify(0, notification_for(status).c_str());
    if (result > 0) return true;
    errno = result < 0 ? -result : ENOTCONN;
    return false;
}

}  // namespace quietway
