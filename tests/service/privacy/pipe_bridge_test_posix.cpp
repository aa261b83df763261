#include <dirent.h>
#include <sys/wait.h>

#include "tests/service/privacy/pipe_bridge_test_probe.h"

namespace quietway::test {

int open_descriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
    return count;
}

bool child_left_behind(unsigned long process_id) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(process_id), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

}  // namespace quietway::test
