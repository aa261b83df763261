#include "tests/firewall/lab/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace quietway::lab {
namespace {

pid_t spawn_with_output(const std::vector<std::string>& argv, int& read_end, int input = -1) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) {
        posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);

    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (pid < 0) {
        close(pipe_fds[0]);
        return -1;
    }
    read_end = pipe_fds[0];
    return pid;
}

}  // namespace

int run_program(const std::vector<std::string>& argv, std::string* output) {
    int read_end = -1;
    const pid_t pid = spawn_with_output(argv, read_end);
    if (pid < 0) return -1;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(read_end, buffer, sizeof buffer)) != 0) {
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (output != nullptr) output->append(buffer, static_cast<size_t>(got));
    }
    close(read_end);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, int input) {
    pid_ = spawn_with_output(argv, output_, input);
}

ChildProcess::~ChildProcess() {
    if (started() && !reaped_) stop(SIGKILL);
    if (output_ >= 0) close(output_);
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

bool ChildProcess::running() {
    if (!started() || reaped_) return false;
    const pid_t done = waitpid(pid_, &status_, WNOHANG);
    if (done == pid_) reaped_ = true;
    return !reaped_;
}

int ChildProcess::stop(int signal, std::chrono::milliseconds limit) {
    if (!started()) return -1;
    if (!reaped_) kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
            }
            reaped_ = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

}  // namespace quietway::lab
