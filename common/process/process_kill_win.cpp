#include <algorithm>
#include <string>

#include "common/log/rotating_log.h"
#include "common/process/process_kill.h"
#include "common/process/run_program.h"

namespace quietway {
namespace {

constexpr uint32_t kTaskkillTimeLimitMs = 60000;
// taskkill's own words are kept in the log only this far.
constexpr size_t kLoggedOutput = 512;

}  // namespace

bool kill_processes_by_name(const std::string& name) {
    if (!is_valid_image_name(name)) {
        log("kill_processes_by_name: invalid image name, nothing ended");
        return false;
    }
    std::string output;
    const RunResult result =
        run_program({"taskkill.exe", "/f", "/IM", name},
                    {.time_limit_ms = kTaskkillTimeLimitMs, .output = &output});
    if (!result.started) {
        log("kill_processes_by_name: cannot start taskkill.exe, error %u", result.error);
        return false;
    }
    const bool ended = !result.timed_out && result.exit_code == 0;
    if (!ended) {
        // Which of "none runs", "one could not be ended" and a hang it was, for whoever reads
        // the log afterwards.
        output.resize(std::min(output.size(), kLoggedOutput));
        std::replace_if(
            output.begin(), output.end(),
            [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
        log("kill_processes_by_name: taskkill.exe /IM %s %s %u: %s", name.c_str(),
            result.timed_out ? "timed out, code" : "ended with code", result.exit_code,
            output.c_str());
    }
    return ended;
}

}  // namespace quietway
