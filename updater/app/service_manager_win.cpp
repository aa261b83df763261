#include <windows.h>

#include "common/os/sc_handle_win.h"
#include "updater/app/updater_seams.h"

namespace quietway {
namespace {

class ScmServiceManager final : public ServiceManager {
public:
    WatchedState query_state(const std::string& service) override {
        ScHandle manager(OpenSCManagerA(nullptr, "ServicesActive", SC_MANAGER_ALL_ACCESS));
        if (!manager) return WatchedState::stopped;
        ScHandle handle(OpenServiceA(manager.get(), service.c_str(), SERVICE_ALL_ACCESS));
        if (!handle) return WatchedState::stopped;
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(handle.get(), &status)) return WatchedState::stopped;
        switch (status.dwCurrentState) {
            case SERVICE_STOPPED:
                return WatchedState::stopped;
            case SERVICE_RUNNING:
                return WatchedState::running;
            default:
                return WatchedState::pending;
        }
    }

    bool start(const std::string& service, uint32_t& error) override {
        ScHandle manager(OpenSCManagerA(nullptr, "ServicesActive", SC_MANAGER_ALL_ACCESS));
        if (!manager) {
            error = GetLastError();
            return false;
        }
        ScHandle handle(OpenServiceA(manager.get(), service.c_str(), SERVICE_ALL_ACCESS));
        if (!handle || !StartServiceA(handle.get(), 0, nullptr)) {
            error = GetLastError();
            return false;
        }
        return true;
    }
};

}  // namespace

std::unique_ptr<ServiceManager> make_system_service_manager() {
    return std::make_unique<ScmServiceManager>();
}

}  // namespace quietway
