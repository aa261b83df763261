#include <mutex>

#include "service/privacy/host_key_cache.h"

namespace quietway {

bool run_storing_plink(const std::vector<std::string>& args, const RunOptions& options,
                       const std::string&) {
    // plink keeps its keys in the user's registry hive, which no run can be pointed away from:
    // runs that store keys take turns so that none loses another's entry.
    static std::mutex cache_mutex;
    std::lock_guard<std::mutex> lock(cache_mutex);
    const RunResult result = run_program(args, options);
    return result.started && !result.timed_out;
}

}  // namespace quietway
