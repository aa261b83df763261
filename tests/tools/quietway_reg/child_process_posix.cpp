#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "tests/tools/quietway_reg/child_process.h"

extern char** environ;

namespace quietway::testing {

std::string program_directory() {
    char path[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    const std::string full(path, static_cast<size_t>(length));
    return full.substr(0, full.rfind('/'));
}

ChildProcess::~ChildProcess() {
    if (running_) wait();
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& out_file, const std::string& err_file) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    const int failed =
        ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return false;
    id_ = pid;
    running_ = true;
    return true;
}

int ChildProcess::wait() {
    if (!running_) return -1;
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(static_cast<pid_t>(id_), &status, 0);
    } while (done < 0 && errno == EINTR);
    running_ = false;
    if (done < 0 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace quietway::testing
