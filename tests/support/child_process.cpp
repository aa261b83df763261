#include "tests/support/child_process.h"

#include <atomic>

#include "tests/support/test_support.h"

namespace quietway::testing {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
    start(argv, options);
}

bool ChildProcess::running() { return started_ && !wait(std::chrono::milliseconds(0)); }

int run_child(const std::vector<std::string>& argv, const ChildOptions& options,
              std::chrono::milliseconds limit) {
    ChildProcess child;
    if (!child.start(argv, options)) return -1;
    return child.wait(limit).value_or(-1);
}

ChildResult run_captured(const std::vector<std::string>& argv, const std::string& scratch) {
    static std::atomic<int> counter{0};
    const std::string stem = scratch + "/child" + std::to_string(++counter);
    ChildResult result;
    result.exit_code = run_child(argv, {.output_file = stem + ".out", .error_file = stem + ".err"});
    result.out = read_file(stem + ".out");
    result.err = read_file(stem + ".err");
    return result;
}

}  // namespace quietway::testing
