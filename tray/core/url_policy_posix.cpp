#include "common/process/run_program.h"
#include "tray/core/url_policy.h"

namespace quietway {

bool launch_url_opener(const std::string& url) {
    // xdg-open hands the address to the desktop's browser and returns; the limit only guards
    // against an opener that hangs.
    RunOptions options;
    options.time_limit_ms = 30000;
    return run_program({"xdg-open", url}, options).started;
}

}  // namespace quietway
