#include "tests/common/service_host/child_process.h"

namespace quietway::testing {

int run_program(const std::string& program, const std::vector<std::string>& args,
                const std::string& error_file, std::chrono::milliseconds limit) {
    ChildProcess child;
    if (!child.start(program, args, error_file)) return -2;
    int exit_code = -1;
    if (!child.wait(limit, exit_code)) {
        child.kill();
        return -1;
    }
    return exit_code;
}

}  // namespace quietway::testing
