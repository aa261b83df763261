#pragma once

#include <cstdint>
#include <memory>
#include <string>

// What the updater's loop needs from the machine, behind small interfaces so that the loop's
// scheduling and its reactions can be driven without waiting and without a service manager.
namespace quietway {

// The tick count the loop's periods are measured in, and the loop's pauses.
class TickClock {
public:
    virtual ~TickClock() = default;
    // Milliseconds since some fixed point, wrapping at 2^32.
    virtual uint32_t tick_count() = 0;
    virtual void sleep_ms(uint32_t ms) = 0;
};

enum class WatchedState { stopped, running, pending };

// The service manager as the watchdog uses it.
class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // A service that cannot be opened or queried counts as stopped.
    virtual WatchedState query_state(const std::string& service) = 0;
    // Asks the manager to start the service; false with the system's error code when the
    // request itself failed (no such service, no manager).
    virtual bool start(const std::string& service, uint32_t& error) = 0;
};

// The programs the updater looks after.
class ProcessSide {
public:
    virtual ~ProcessSide() = default;
    virtual bool tray_running() = 0;
    // Starts the tray program (a full path) in the console user's session.
    virtual bool start_tray(const std::string& program) = 0;
    // Ends every running firewall program and waits until that is done.
    virtual void kill_firewall() = 0;
    // Starts the firewall program (a full path) hidden, without waiting for it.
    virtual bool start_firewall(const std::string& program) = 0;
    // Starts the downloaded installer silently, without waiting for it.
    virtual bool run_installer(const std::string& path) = 0;
    // Logs how the installer at `path` ended once it has, a single time (Linux: dpkg's exit
    // code and output, which outlive the updater that the package's scripts stop). Windows'
    // setup program keeps its own record, so there this does nothing.
    virtual void report_installer_outcome(const std::string& path) { (void)path; }
    // Ends the engine's process so that the watchdog starts it again.
    virtual void end_engine() = 0;
};

// The programs below the application directory, with the platform's separator and suffix.
extern const char* const kTrayProgramPath;
extern const char* const kFirewallProgramPath;

std::unique_ptr<TickClock> make_system_clock();
std::unique_ptr<ServiceManager> make_system_service_manager();
std::unique_ptr<ProcessSide> make_system_process_side();

}  // namespace quietway
