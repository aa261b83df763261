#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/os/unique_fd.h"
#include "common/process/spawn_posix.h"
#include "service/privacy/pipe_bridge_child.h"
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

namespace quietway {
namespace {

// Starts the stand-in child and waits until it has run its script up to "hang" (it says so).
pid_t start_child(const std::vector<std::string>& script) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    UniqueFd read_end(fds[0]), write_end(fds[1]);
    posix::SpawnRequest request;
    request.path = QUIETWAY_BRIDGE_CHILD;
    request.args = {request.path};
    request.args.insert(request.args.end(), script.begin(), script.end());
    request.args.insert(request.args.end(), {"out:ready", "hang"});
    request.stdout_fd = write_end.get();
    const posix::SpawnResult started = posix::spawn_process(request);
    write_end.reset();
    char ready[5];
    if (!started.ok || ::read(read_end.get(), ready, sizeof(ready)) != sizeof(ready)) return -1;
    return started.pid;
}

TEST(PipeBridge, PoliteCloseIsSigtermWithBoundedGrace) {
    struct Case {
        std::vector<std::string> script;
        bool ends_by_sigterm;
    } cases[] = {{{}, true}, {{"deaf"}, false}};
    for (const Case& c : cases) {
        const pid_t pid = start_child(c.script);
        ASSERT_GT(pid, 0);
        ChildProcessInfo info;
        info.process_id = static_cast<unsigned long>(pid);
        ask_child_to_close(info);  // returns once the child ended or the grace ran out
        EXPECT_TRUE(test::child_left_behind(info.process_id));  // not reaped by the request
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), c.ends_by_sigterm ? SIGTERM : SIGKILL);
    }
}

}  // namespace
}  // namespace quietway
