#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/service_host/control_source.h"
#include "common/service_host/service_arguments.h"
#include "common/service_host/service_status.h"

namespace quietway {

// What `install_service` hands to the service manager.
struct InstallParameters {
    uint32_t desired_access = 0xF01FF;  // all access
    uint32_t service_type = kServiceWin32OwnProcess | kServiceInteractiveProcess;
    uint32_t start_type = kServiceDemandStart;
    uint32_t error_control = 1;  // normal
    std::string account;         // empty: the local system account
    std::string password;        // empty: none
};

// The host of a service program: its command line, the service manager's dispatcher, the
// service main function, the control handler, the status reports and the event log.
class CNTService {
public:
    CNTService(const char* service_name, const char* display_name);
    virtual ~CNTService();
    CNTService(const CNTService&) = delete;
    CNTService& operator=(const CNTService&) = delete;

    virtual void service_run(int argc, char** argv) = 0;
    virtual void service_stop() = 0;
    virtual void service_pause() {}
    virtual void service_continue() {}
    virtual void service_shutdown() {}
    // Returns 1 when the chosen action succeeded, 0 when it failed; without an action, what
    // `run_dispatcher` returns.
    virtual int process_command_line(int argc, char** argv);
    virtual int run_dispatcher();
    virtual bool install_service();
    virtual bool remove_service();
    virtual bool stop_installed_service();
    virtual bool start_installed_service();
    virtual void add_event_source(const char* message_file, uint32_t types);
    virtual void remove_event_source();
    // An id of -1 is chosen from the type: 2 for errors, 1 for warnings, 0 otherwise.
    virtual void log_event(const char* message, uint16_t type, int32_t id = -1);

    // "-f": runs the service in the console with status reports written to the program's log
    // and Ctrl+C (or SIGTERM) as the stop control. Returns 1.
    int run_foreground();

    // Reports a state; returns false (and logs the failure as an event) when the report failed.
    bool set_status(uint32_t state, uint32_t wait_hint);

    // What the service manager calls: control handler registration, the start and stop
    // reports around `service_run`.
    void service_main(int argc, char** argv);
    void control_handler(uint32_t control);

    // The host object of this process, for the callbacks that get no context.
    static CNTService* instance();

    const char* service_name() const { return service_name_; }
    const char* display_name() const { return display_name_; }
    InstallParameters& install_parameters() { return install_; }
    ServiceStatus status() const;
    uint32_t last_error() const { return last_error_.load(); }
    const std::string& account_name() const { return account_name_; }
    bool is_foreground() const { return foreground_.load(); }

    static int event_id_for(uint16_t type, int32_t id);

    // The service ended without a stop request (its application never ran). On Linux the
    // process then exits with a failure code, so that the unit's restart policy applies.
    void report_run_failure() { run_failed_.store(true); }
    bool run_failed() const { return run_failed_.load(); }

private:
    void apply_command_line(const CommandLine& command);
    bool report_to_manager(const ServiceStatus& status);  // per platform
    bool register_control_handler();                      // per platform, keeps control_source_
    void look_up_account();                               // per platform
    void log_status(const ServiceStatus& status) const;
    void set_current_state(uint32_t state);

    const char* service_name_;
    const char* display_name_;
    std::atomic<uint32_t> check_point_{0};
    std::atomic<uint32_t> last_error_{0};
    mutable std::mutex status_lock_;  // reports come from the service and control threads
    ServiceStatus status_;
    std::atomic<intptr_t> status_handle_{0};
    uint32_t accepted_controls_ = kAcceptStop;
    std::vector<unsigned char> user_sid_;  // empty where the platform has none
    InstallParameters install_;
    std::string account_name_;
    std::atomic<bool> foreground_{false};
    std::atomic<bool> run_failed_{false};
    std::unique_ptr<ControlSource> control_source_;
};

}  // namespace quietway
