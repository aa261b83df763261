#include "common/service_host/cnt_service.h"

#include "common/log/rotating_log.h"

namespace quietway {
namespace {

std::atomic<CNTService*> g_host{nullptr};

bool takes_check_point(uint32_t state) {
    return state != kServiceRunning && state != kServiceStopped;
}

}  // namespace

const char* service_state_name(uint32_t state) {
    switch (state) {
        case kServiceStopped:
            return "stopped";
        case kServiceStartPending:
            return "start pending";
        case kServiceStopPending:
            return "stop pending";
        case kServiceRunning:
            return "running";
        case kServiceContinuePending:
            return "continue pending";
        case kServicePausePending:
            return "pause pending";
        case kServicePaused:
            return "paused";
        default:
            return "unknown";
    }
}

CNTService::CNTService(const char* service_name, const char* display_name)
    : service_name_(service_name), display_name_(display_name) {
    g_host.store(this);
    look_up_account();
}

CNTService::~CNTService() {
    control_source_.reset();
    CNTService* self = this;
    g_host.compare_exchange_strong(self, nullptr);
}

CNTService* CNTService::instance() { return g_host.load(); }

int CNTService::event_id_for(uint16_t type, int32_t id) {
    if (id != -1) return id;
    if (type == kEventError) return 2;
    if (type == kEventWarning) return 1;
    return 0;
}

int CNTService::process_command_line(int argc, char** argv) {
    const CommandLine command = parse_command_line(argc, argv);
    if (command.error != nullptr) {
        log("%s", command.error);
        return 0;
    }
    apply_command_line(command);
    switch (command.action) {
        case ServiceAction::install:
            return install_service() ? 1 : 0;
        case ServiceAction::remove:
            return remove_service() ? 1 : 0;
        case ServiceAction::start:
            return start_installed_service() ? 1 : 0;
        case ServiceAction::stop:
            return stop_installed_service() ? 1 : 0;
        case ServiceAction::foreground:
            return run_foreground();
        case ServiceAction::dispatcher:
            break;
    }
    return run_dispatcher();
}

void CNTService::apply_command_line(const CommandLine& command) {
    if (!command.account.empty()) install_.account = command.account;
    if (!command.password.empty()) install_.password = command.password;
}

ServiceStatus CNTService::status() const {
    std::lock_guard<std::mutex> lock(status_lock_);
    return status_;
}

bool CNTService::set_status(uint32_t state, uint32_t wait_hint) {
    {
        // Sent under the same lock it is built under, so the manager sees the reports of the
        // service and control threads in the order of their check points: a late "stop
        // pending" can never follow "stopped".
        std::lock_guard<std::mutex> lock(status_lock_);
        status_.current_state = state;
        status_.wait_hint = wait_hint;
        status_.win32_exit_code = 0;
        status_.service_specific_exit_code = 0;
        status_.controls_accepted = state == kServiceStartPending ? 0 : accepted_controls_;
        status_.check_point = takes_check_point(state) ? ++check_point_ : 0;
        if (foreground_.load()) {
            log_status(status_);
            return true;
        }
        if (report_to_manager(status_)) return true;
    }
    log_event("SetServiceStatus() failed", kEventError);
    return false;
}

void CNTService::log_status(const ServiceStatus& status) const {
    log("service status %s, controls accepted %u, check point %u, wait hint %u ms",
        service_state_name(status.current_state), status.controls_accepted, status.check_point,
        status.wait_hint);
}

void CNTService::service_main(int argc, char** argv) {
    if (!register_control_handler()) {
        report_run_failure();
        return;
    }
    if (set_status(kServiceStartPending, kStartWaitHintMs)) {
        service_run(argc, argv);
    } else {
        report_run_failure();
    }
    set_status(kServiceStopped, kStartWaitHintMs);
    control_source_.reset();
}

int CNTService::run_foreground() {
    foreground_.store(true);
    control_source_ = listen_for_console_stop(*this);
    if (set_status(kServiceStartPending, kStartWaitHintMs)) {
        std::string name = service_name_;
        char* args[] = {name.data(), nullptr};
        service_run(1, args);
    }
    set_status(kServiceStopped, kStartWaitHintMs);
    control_source_.reset();
    return 1;
}

void CNTService::set_current_state(uint32_t state) {
    std::lock_guard<std::mutex> lock(status_lock_);
    status_.current_state = state;
}

void CNTService::control_handler(uint32_t control) {
    switch (control) {
        case kControlStop:
            set_current_state(kServiceStopPending);
            service_stop();
            break;
        case kControlPause:
            set_current_state(kServicePausePending);
            service_pause();
            break;
        case kControlContinue:
            set_current_state(kServiceContinuePending);
            service_continue();
            break;
        case kControlInterrogate:
            set_status(status().current_state, kStartWaitHintMs);
            break;
        case kControlShutdown:
            service_shutdown();
            break;
        default:
            break;
    }
}

}  // namespace quietway
