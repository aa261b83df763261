#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "tests/common/service_host/child_process.h"

extern char** environ;

namespace quietway::testing {

ChildProcess::~ChildProcess() { kill(); }

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& error_file) {
    std::vector<std::string> copies;
    copies.push_back(program);
    copies.insert(copies.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, error_file.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = 0;
    const int result = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) return false;
    handle_ = pid;
    pid_ = static_cast<uint32_t>(pid);
    return true;
}

bool ChildProcess::wait(std::chrono::milliseconds limit, int& exit_code) {
    if (handle_ == 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(static_cast<pid_t>(handle_), &status, WNOHANG);
        if (done == static_cast<pid_t>(handle_)) {
            handle_ = 0;
            exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        }
        if (done < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ChildProcess::request_stop() {
    return handle_ != 0 && ::kill(static_cast<pid_t>(handle_), SIGTERM) == 0;
}

void ChildProcess::kill() {
    if (handle_ == 0) return;
    ::kill(static_cast<pid_t>(handle_), SIGKILL);
    int status = 0;
    while (waitpid(static_cast<pid_t>(handle_), &status, 0) < 0 && errno == EINTR) {
    }
    handle_ = 0;
}

}  // namespace quietway::testing
