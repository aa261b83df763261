#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "common/log/rotating_log.h"
#include "common/os/file_io_posix.h"
#include "common/service_host/cnt_service.h"
#include "common/service_host/systemctl.h"
#include "common/service_host/systemd_sandbox.h"
#include "common/service_host/systemd_unit.h"

// The command-line actions on systemd: the unit file and systemctl.
namespace quietway {
namespace {

constexpr size_t kMaxProgramPath = 1023;
constexpr auto kPollPeriod = std::chrono::milliseconds(100);

bool own_program_path(std::string& path) {
    char buffer[kMaxProgramPath + 1];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) > kMaxProgramPath) return false;
    path.assign(buffer, static_cast<size_t>(length));
    return true;
}

// Writes the file complete beside its final name, then links it in place: a crash leaves no
// half-written unit, and an existing unit is never replaced (the service is then installed).
bool create_unit_file(const std::string& path, const std::string& text) {
    AtomicWrite how;
    how.mode = 0644;
    how.keep_existing = true;
    how.temporary = path + ".tmp-" + std::to_string(getpid());
    switch (write_file_atomically(AT_FDCWD, path, text, how)) {
        case AtomicWriteResult::placed:
            return true;
        case AtomicWriteResult::not_created:
            log("install: cannot write %s, errno %d", how.temporary.c_str(), errno);
            return false;
        case AtomicWriteResult::not_placed:
            log("install: cannot create %s, errno %d", path.c_str(), errno);
            return false;
        case AtomicWriteResult::not_written:
            break;
    }
    return false;
}

bool systemctl_succeeds(const std::vector<std::string>& args) {
    const SystemctlResult result = run_systemctl(args);
    if (result.ran && result.exit_code == 0) return true;
    log("systemctl %s %s failed, exit code %d", args.front().c_str(),
        args.size() > 1 ? args.back().c_str() : "", result.exit_code);
    return false;
}

// Polls the unit every 100 ms while it is in the pending state; returns the state after.
std::string wait_while(const std::string& unit, const char* pending) {
    std::string state = unit_state(unit);
    while (state == pending) {
        std::this_thread::sleep_for(kPollPeriod);
        state = unit_state(unit);
    }
    return state;
}

bool is_stopped_state(const std::string& state) { return state == "inactive" || state == "failed"; }

}  // namespace

bool CNTService::install_service() {
    std::string program;
    if (!own_program_path(program)) {
        log("install: cannot read the program's path");
        return false;
    }
    if (!install_.account.empty() && !is_valid_unit_user(install_.account)) {
        log("install: the account name is not a valid user name");
        return false;
    }
    if (!install_.password.empty()) {
        log("install: the password is ignored, a systemd unit runs without one");
    }
    std::string text;
    if (!build_unit_text({display_name_, program, install_.account, unit_sandbox(service_name_)},
                         text)) {
        log("install: the program's path cannot be written into a unit");
        return false;
    }
    const std::string unit = unit_name(service_name_);
    const std::string path = unit_directory() + "/" + unit;
    if (!create_unit_file(path, text)) return false;
    systemctl_succeeds({"daemon-reload"});
    if (install_.start_type == kServiceAutoStart && !systemctl_succeeds({"enable", unit})) {
        unlink(path.c_str());
        return false;
    }
    add_event_source(program.c_str(), kEventError | kEventWarning | kEventInformation);
    log_event("Service installed", kEventInformation);
    return true;
}

bool CNTService::remove_service() {
    const std::string unit = unit_name(service_name_);
    const std::string path = unit_directory() + "/" + unit;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        log("remove: %s is not installed", unit.c_str());
        return false;
    }
    if (systemctl_succeeds({"stop", unit})) wait_while(unit, "deactivating");
    systemctl_succeeds({"disable", unit});
    const bool deleted = unlink(path.c_str()) == 0;
    if (!deleted) log("remove: cannot delete %s, errno %d", path.c_str(), errno);
    systemctl_succeeds({"daemon-reload"});
    if (deleted) remove_event_source();
    return deleted;
}

// Like the service manager, starting needs a stopped service and stopping a running one.
bool CNTService::start_installed_service() {
    const std::string unit = unit_name(service_name_);
    if (!is_stopped_state(unit_state(unit))) {
        log("start: %s is not stopped", unit.c_str());
        return false;
    }
    if (!systemctl_succeeds({"start", unit})) return false;
    return wait_while(unit, "activating") == "active";
}

bool CNTService::stop_installed_service() {
    const std::string unit = unit_name(service_name_);
    const std::string state = unit_state(unit);
    if (state != "active" && state != "reloading") {
        log("stop: %s is not running", unit.c_str());
        return false;
    }
    if (!systemctl_succeeds({"stop", unit})) return false;
    return is_stopped_state(wait_while(unit, "deactivating"));
}

}  // namespace quietway
