#pragma once

#include <memory>

namespace quietway {

class CNTService;

// Delivers the platform's stop requests that do not come from the Windows service control
// manager (SIGTERM and, on a console, Ctrl+C) to the host's control handler. Stops
// listening when destroyed.
class ControlSource {
public:
    virtual ~ControlSource() = default;
};

// The service manager's stop on Linux (SIGTERM); nothing on Windows, where the control
// handler registration does this.
std::unique_ptr<ControlSource> listen_for_service_stop(CNTService& host);

// Ctrl+C, Ctrl+Break, closing the console, and on Linux SIGTERM as well.
std::unique_ptr<ControlSource> listen_for_console_stop(CNTService& host);

}  // namespace quietway
