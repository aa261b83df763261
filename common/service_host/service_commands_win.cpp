#include <windows.h>

#include <string>

#include "common/log/rotating_log.h"
#include "common/os/sc_handle_win.h"
#include "common/service_host/cnt_service.h"

// The command-line actions on the service control manager.
namespace quietway {
namespace {

constexpr DWORD kMaxProgramPath = 1023;

// The service control manager and one service in it, opened for a command-line action.
class OpenedService {
public:
    OpenedService(const char* action, const char* name, DWORD manager_access, DWORD access)
        : manager_(OpenSCManagerA(nullptr, nullptr, manager_access)),
          service_(manager_ ? OpenServiceA(manager_.get(), name, access) : nullptr) {
        if (!manager_) {
            log("%s: cannot open the service control manager, error %lu", action, GetLastError());
        } else if (!service_) {
            log("%s: cannot open service %s, error %lu", action, name, GetLastError());
        }
    }
    explicit operator bool() const { return static_cast<bool>(service_); }
    SC_HANDLE get() const { return service_.get(); }

private:
    ScHandle manager_;
    ScHandle service_;
};

// Queries every 100 ms while the service is in the pending state; returns the state after.
DWORD wait_while(SC_HANDLE service, DWORD pending, SERVICE_STATUS& status) {
    while (status.dwCurrentState == pending) {
        Sleep(100);
        if (!QueryServiceStatus(service, &status)) break;
    }
    return status.dwCurrentState;
}

}  // namespace

bool CNTService::install_service() {
    char path[kMaxProgramPath + 1];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length > kMaxProgramPath) {
        log("install: cannot read the program's path");
        return false;
    }
    {
        ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!manager) {
            log("install: cannot open the service control manager, error %lu", GetLastError());
            return false;
        }
        // Quoted, so that a path with blanks cannot start another program ("C:\Program.exe").
        const std::string binary = "\"" + std::string(path) + "\"";
        // Only the local system account may interact with the desktop.
        const DWORD type = install_.account.empty()
                               ? install_.service_type
                               : install_.service_type & ~kServiceInteractiveProcess;
        ScHandle service(CreateServiceA(
            manager.get(), service_name_, display_name_, install_.desired_access, type,
            install_.start_type, install_.error_control, binary.c_str(), nullptr, nullptr, nullptr,
            install_.account.empty() ? nullptr : install_.account.c_str(),
            install_.password.empty() ? nullptr : install_.password.c_str()));
        if (!service) {
            log("install: cannot create service %s, error %lu", service_name_, GetLastError());
            return false;
        }
    }
    add_event_source(path, kEventError | kEventWarning | kEventInformation);
    log_event("Service installed", kEventInformation);
    return true;
}

bool CNTService::remove_service() {
    OpenedService service("remove", service_name_, SC_MANAGER_ALL_ACCESS, SERVICE_ALL_ACCESS);
    if (!service) return false;
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        wait_while(service.get(), SERVICE_STOP_PENDING, status);
    }
    const bool deleted = DeleteService(service.get()) != FALSE;
    if (!deleted) log("remove: cannot delete service %s, error %lu", service_name_, GetLastError());
    if (deleted) remove_event_source();
    return deleted;
}

bool CNTService::stop_installed_service() {
    OpenedService service("stop", service_name_, SC_MANAGER_CONNECT,
                          SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!service) return false;
    SERVICE_STATUS status{};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        log("stop: service %s refused the stop control, error %lu", service_name_, GetLastError());
        return false;
    }
    return wait_while(service.get(), SERVICE_STOP_PENDING, status) == SERVICE_STOPPED;
}

bool CNTService::start_installed_service() {
    OpenedService service("start", service_name_, SC_MANAGER_CONNECT,
                          SERVICE_START | SERVICE_QUERY_STATUS);
    if (!service) return false;
    if (!StartServiceA(service.get(), 0, nullptr)) {
        log("start: cannot start service %s, error %lu", service_name_, GetLastError());
        return false;
    }
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.get(), &status)) return false;
    return wait_while(service.get(), SERVICE_START_PENDING, status) == SERVICE_RUNNING;
}

}  // namespace quietway
