#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <thread>

#include "tests/support/child_process.h"

extern char** environ;

namespace quietway::testing {
namespace {

constexpr int kAppend = O_WRONLY | O_CREAT | O_APPEND;

int exit_code_of(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ChildProcess::~ChildProcess() {
    kill();
    if (output_ >= 0) close(output_);
}

bool ChildProcess::start(const std::vector<std::string>& argv, const ChildOptions& options) {
    if (started_ || argv.empty()) return false;
    int pipe_fds[2] = {-1, -1};
    if (options.pipe_output && pipe2(pipe_fds, O_CLOEXEC) != 0) return false;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.input >= 0) {
        posix_spawn_file_actions_adddup2(&actions, options.input, STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    if (options.pipe_output) {
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
    } else {
        const char* output =
            options.output_file.empty() ? "/dev/null" : options.output_file.c_str();
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output, kAppend, 0644);
        if (options.error_file.empty()) {
            posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.error_file.c_str(),
                                             kAppend, 0644);
        }
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (pipe_fds[1] >= 0) close(pipe_fds[1]);
    if (failed != 0) {
        if (pipe_fds[0] >= 0) close(pipe_fds[0]);
        return false;
    }
    started_ = true;
    handle_ = pid;
    pid_ = static_cast<uint32_t>(pid);
    output_ = pipe_fds[0];
    return true;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds limit) {
    if (!started_ || exit_code_) return exit_code_;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(static_cast<pid_t>(handle_), &status, WNOHANG);
        if (done == static_cast<pid_t>(handle_)) {
            exit_code_ = exit_code_of(status);
            return exit_code_;
        }
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool ChildProcess::request_stop() {
    return started_ && !exit_code_ && ::kill(static_cast<pid_t>(handle_), SIGTERM) == 0;
}

std::optional<int> ChildProcess::kill() {
    if (!started_ || exit_code_) return exit_code_;
    ::kill(static_cast<pid_t>(handle_), SIGKILL);
    int status = 0;
    pid_t done;
    while ((done = waitpid(static_cast<pid_t>(handle_), &status, 0)) < 0 && errno == EINTR) {
    }
    if (done == static_cast<pid_t>(handle_)) exit_code_ = exit_code_of(status);
    return exit_code_;
}

std::string ChildProcess::read_line(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (output_ < 0 || left.count() <= 0) return {};
        pollfd watched{output_, POLLIN, 0};
        if (poll(&watched, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[512];
        const ssize_t got = read(output_, buffer, sizeof buffer);
        if (got <= 0) return {};
        pending_.append(buffer, static_cast<size_t>(got));
    }
}

std::string program_directory() {
    char path[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    const std::string full(path, static_cast<size_t>(length));
    return full.substr(0, full.rfind('/'));
}

}  // namespace quietway::testing
