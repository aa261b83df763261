#include "common/service_host/systemctl.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "common/log/rotating_log.h"
#include "common/os/unique_fd.h"

extern char** environ;

namespace quietway {
namespace {

// systemctl waits for its job; systemd's own start and stop timeouts end that long before.
constexpr auto kTimeLimit = std::chrono::minutes(5);

const char* systemctl_program() {
    const char* program = std::getenv(kSystemctlEnv);
    return program != nullptr && *program != '\0' ? program : "systemctl";
}

bool spawn(const std::vector<std::string>& args, int output_fd, pid_t& pid) {
    std::vector<char*> argv;
    std::string program = systemctl_program();
    argv.push_back(program.data());
    std::vector<std::string> copies(args);
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output_fd, STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    const int result = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) log("cannot run %s, error %d", argv[0], result);
    return result == 0;
}

// Reads the child's output until it closes or the deadline passes; false on the deadline.
bool read_output(int fd, std::string& output, std::chrono::steady_clock::time_point deadline) {
    char buffer[512];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        struct pollfd entry {
            fd, POLLIN, 0
        };
        const int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return true;
        const size_t room = kSystemctlOutputLimit - output.size();
        output.append(buffer, std::min(room, static_cast<size_t>(got)));
    }
}

int wait_for_exit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

SystemctlResult run_systemctl(const std::vector<std::string>& args) {
    SystemctlResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return result;
    UniqueFd read_end(fds[0]);
    UniqueFd write_end(fds[1]);
    pid_t pid = 0;
    if (!spawn(args, write_end.get(), pid)) return result;
    write_end.reset();
    const bool finished =
        read_output(read_end.get(), result.output, std::chrono::steady_clock::now() + kTimeLimit);
    if (!finished) {
        log("%s did not finish in time and was ended", systemctl_program());
        kill(pid, SIGKILL);
    }
    const int exit_code = wait_for_exit(pid);
    result.ran = finished && exit_code >= 0;
    result.exit_code = exit_code;
    return result;
}

std::string unit_state(const std::string& unit) {
    const SystemctlResult result = run_systemctl({"is-active", unit});
    if (!result.ran) return {};
    const std::string& out = result.output;
    const size_t end = out.find_first_of(" \t\r\n");
    return out.substr(0, end);
}

}  // namespace quietway
