#pragma once

#include <cstdint>

namespace quietway {

// Service states with the values the Windows service control manager uses; the Linux host
// reports the same states to systemd.
enum ServiceState : uint32_t {
    kServiceStopped = 1,
    kServiceStartPending = 2,
    kServiceStopPending = 3,
    kServiceRunning = 4,
    kServiceContinuePending = 5,
    kServicePausePending = 6,
    kServicePaused = 7,
};

// Controls that reach the control handler.
enum ServiceControl : uint32_t {
    kControlStop = 1,
    kControlPause = 2,
    kControlContinue = 3,
    kControlInterrogate = 4,
    kControlShutdown = 5,
};

// Event types of the event log.
enum EventType : uint16_t {
    kEventError = 1,
    kEventWarning = 2,
    kEventInformation = 4,
};

// Controls the service accepts (a bit mask): stop only.
inline constexpr uint32_t kAcceptStop = 1;

inline constexpr uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr uint32_t kServiceInteractiveProcess = 0x100;
inline constexpr uint32_t kServiceAutoStart = 2;
inline constexpr uint32_t kServiceDemandStart = 3;

// Wait hints of the status reports.
inline constexpr uint32_t kStartWaitHintMs = 3000;
inline constexpr uint32_t kStopWaitHintMs = 11000;

// The status record as the service control manager knows it (same field order and widths).
struct ServiceStatus {
    uint32_t service_type = kServiceWin32OwnProcess;
    uint32_t current_state = kServiceStopped;
    uint32_t controls_accepted = 0;
    uint32_t win32_exit_code = 0;
    uint32_t service_specific_exit_code = 0;
    uint32_t check_point = 0;
    uint32_t wait_hint = 0;
};
static_assert(sizeof(ServiceStatus) == 28, "same layout as the platform's status record");

// "start pending", "running", ...; "unknown" for values outside the table.
const char* service_state_name(uint32_t state);

}  // namespace quietway
