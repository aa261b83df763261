#include "common/log/rotating_log.h"
#include "common/process/process_kill.h"
#include "common/process/run_program.h"

namespace quietway {
namespace {

constexpr uint32_t kTaskkillTimeLimitMs = 60000;

}  // namespace

bool kill_processes_by_name(const std::string& name) {
    if (!is_valid_image_name(name)) {
        log("kill_processes_by_name: invalid image name, nothing ended");
        return false;
    }
    const RunResult result =
        run_program({"taskkill.exe", "/f", "/IM", name}, {.time_limit_ms = kTaskkillTimeLimitMs});
    if (!result.started) {
        log("kill_processes_by_name: cannot start taskkill.exe, error %u", result.error);
        return false;
    }
    return !result.timed_out && result.exit_code == 0;
}

}  // namespace quietway
