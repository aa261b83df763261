#include "common/service_host/systemctl.h"
#include "common/service_host/systemd_unit.h"
#include "updater/app/updater_seams.h"

namespace quietway {
namespace {

// The error reported when systemctl itself could not be run.
constexpr uint32_t kNotRun = 0xFFFFFFFF;

class SystemdServiceManager final : public ServiceManager {
public:
    WatchedState query_state(const std::string& service) override {
        const std::string state = unit_state(unit_name(service.c_str()));
        if (state == "active" || state == "reloading") return WatchedState::running;
        if (state == "activating" || state == "deactivating") return WatchedState::pending;
        // "inactive", "failed", an unknown unit, or no systemctl at all.
        return WatchedState::stopped;
    }

    // systemctl waits until the unit has reported itself started (or failed to).
    bool start(const std::string& service, uint32_t& error) override {
        const SystemctlResult result = run_systemctl({"start", unit_name(service.c_str())});
        if (result.ran && result.exit_code == 0) return true;
        error = result.ran ? static_cast<uint32_t>(result.exit_code) : kNotRun;
        return false;
    }
};

}  // namespace

std::unique_ptr<ServiceManager> make_system_service_manager() {
    return std::make_unique<SystemdServiceManager>();
}

}  // namespace quietway
