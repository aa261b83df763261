#include <windows.h>

#include "common/log/rotating_log.h"
#include "common/service_host/cnt_service.h"
#include "common/service_host/control_source.h"

namespace quietway {
namespace {

// Windows ends the process soon after a close event's handler returns; give the service
// that much time to stop.
constexpr int kCloseWaitSteps = 50;

BOOL WINAPI console_stop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    CNTService* host = CNTService::instance();
    if (host == nullptr) return FALSE;
    host->control_handler(kControlStop);
    if (event == CTRL_CLOSE_EVENT) {
        for (int i = 0; i < kCloseWaitSteps && host->status().current_state != kServiceStopped;
             ++i) {
            Sleep(100);
        }
    }
    return TRUE;
}

class ConsoleControl final : public ControlSource {
public:
    ConsoleControl() { installed_ = SetConsoleCtrlHandler(console_stop, TRUE) != FALSE; }
    ~ConsoleControl() override {
        if (installed_) SetConsoleCtrlHandler(console_stop, FALSE);
    }
    bool installed() const { return installed_; }

private:
    bool installed_ = false;
};

}  // namespace

// The service control manager's control handler carries the stop on Windows.
std::unique_ptr<ControlSource> listen_for_service_stop(CNTService&) { return nullptr; }

std::unique_ptr<ControlSource> listen_for_console_stop(CNTService&) {
    auto control = std::make_unique<ConsoleControl>();
    if (!control->installed()) {
        log("service cannot handle console events, error %lu", GetLastError());
        return nullptr;
    }
    return control;
}

}  // namespace quietway
