#include <atomic>

#include "tests/support/test_support.h"
#include "tests/tools/quietway_reg/child_process.h"

namespace quietway::testing {

ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::string& scratch) {
    static std::atomic<int> counter{0};
    const std::string stem = scratch + "/child" + std::to_string(++counter);
    ChildResult result;
    ChildProcess child;
    if (!child.start(program, args, stem + ".out", stem + ".err")) return result;
    result.exit_code = child.wait();
    result.out = read_file(stem + ".out");
    result.err = read_file(stem + ".err");
    return result;
}

}  // namespace quietway::testing
