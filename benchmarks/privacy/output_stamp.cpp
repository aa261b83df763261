// Stands in for a program a session starts, to time when that program's output said a given
// text: it runs the real program with its output through a pipe of its own, passes every chunk
// on at once, and the first time the text appears writes the steady clock's reading (ns, the
// system-wide monotonic clock) to a file. It is installed as links named after the programs;
// for a link named NAME it reads
//   QUIETWAY_STAMP_NAME        the real program
//   QUIETWAY_STAMP_NAME_TOKEN  the text to watch for (unset: nothing is stamped)
//   QUIETWAY_STAMP_NAME_FILE   the file the reading goes to
// and exits as the real program did (128 + signal when it was killed).
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/os/file_io_posix.h"

namespace {

using quietway::write_all;

constexpr size_t kNameCapacity = 32;
constexpr size_t kTokenCapacity = 256;

volatile sig_atomic_t child_pid = 0;

// A polite stop meant for the real program.
void forward(int sig) {
    const pid_t pid = child_pid;
    if (pid > 0) ::kill(pid, sig);
}

// The variable's value for this link's name, or "" when unset.
std::string variable(const std::string& prefix, const char* suffix) {
    const char* value = std::getenv((prefix + suffix).c_str());
    return value != nullptr ? value : "";
}

// QUIETWAY_STAMP_ and the link's name in capitals, or "" for a name that is not a plain word.
std::string prefix_for(const char* argv0) {
    std::string_view name(argv0);
    if (const size_t slash = name.rfind('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    if (name.empty() || name.size() > kNameCapacity) return "";
    std::string prefix = "QUIETWAY_STAMP_";
    for (const char c : name) {
        if (c >= 'a' && c <= 'z') {
            prefix += static_cast<char>(c - 'a' + 'A');
        } else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
            prefix += c;
        } else if (c == '-') {
            prefix += '_';
        } else {
            return "";
        }
    }
    return prefix;
}

void write_stamp(const std::string& path, std::chrono::steady_clock::time_point at) {
    const long long ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
    const std::string text = std::to_string(ns) + "\n";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    write_all(fd, text.data(), text.size());
    ::close(fd);
}

// Runs in the forked child: the real program with its output into the pipe, dying with us.
[[noreturn]] void become_program(pid_t parent, int write_end, const sigset_t& old_mask,
                                 std::vector<char*>& argv) {
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    // The sessions end some programs with SIGKILL, which we cannot pass on.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);
    if (::dup2(write_end, STDOUT_FILENO) < 0 || ::dup2(write_end, STDERR_FILENO) < 0) {
        ::_exit(127);
    }
    ::execv(argv[0], argv.data());
    constexpr char kFailed[] = "output_stamp: cannot run the real program\n";
    (void)!::write(STDERR_FILENO, kFailed, sizeof kFailed - 1);
    ::_exit(127);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string prefix = argc > 0 ? prefix_for(argv[0]) : "";
    const std::string program = prefix.empty() ? "" : variable(prefix, "");
    if (program.empty()) {
        std::fprintf(stderr,
                     "output_stamp: run me through a link whose QUIETWAY_STAMP_NAME is set\n");
        return 127;
    }
    const std::string token = variable(prefix, "_TOKEN");
    const std::string stamp_file = variable(prefix, "_FILE");
    if (token.size() > kTokenCapacity) {
        std::fprintf(stderr, "output_stamp: the token is longer than %zu\n", kTokenCapacity);
        return 127;
    }
    const bool watching = !token.empty() && !stamp_file.empty();

    std::vector<char*> child_argv(argv, argv + argc);
    child_argv[0] = const_cast<char*>(program.c_str());
    child_argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        std::perror("output_stamp: pipe");
        return 127;
    }
    // Held until the child's id is known, so that a stop arriving meanwhile is not lost.
    sigset_t stops;
    sigset_t old_mask;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    ::sigprocmask(SIG_BLOCK, &stops, &old_mask);
    struct sigaction action {};
    action.sa_handler = forward;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // Whoever reads our output may go first; the child's output is still drained.
    ::signal(SIGPIPE, SIG_IGN);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("output_stamp: fork");
        return 127;
    }
    if (pid == 0) become_program(parent, fds[1], old_mask, child_argv);
    child_pid = pid;
    ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    ::close(fds[1]);

    bool stamped = !watching;
    bool forwarding = true;
    std::string window;  // the end of the earlier output, for a token split across reads
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fds[0], chunk, sizeof chunk);
        const auto at = std::chrono::steady_clock::now();
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (!stamped) {
            window.append(chunk, static_cast<size_t>(got));
            if (window.find(token) != std::string::npos) {
                // Written before the chunk is passed on, so it is there once the reader sees it.
                write_stamp(stamp_file, at);
                stamped = true;
            } else if (window.size() >= token.size()) {
                window.erase(0, window.size() - (token.size() - 1));
            }
        }
        if (forwarding) forwarding = write_all(STDOUT_FILENO, chunk, static_cast<size_t>(got));
    }
    ::close(fds[0]);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 127;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 127;
}
