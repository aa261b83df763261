#include "common/process/spawn_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "common/os/file_io_posix.h"
#include "common/os/unique_fd.h"

extern char** environ;

namespace quietway::posix {
namespace {

// Everything the child needs, prepared before fork so the child only makes system calls.
struct ChildPlan {
    const char* path = nullptr;
    std::vector<char*> argv;
    char** envp = nullptr;
    int std_fds[3] = {-1, -1, -1};
    int report_fd = -1;
    bool new_process_group = false;
    bool new_session = false;
    const UserIdentity* user = nullptr;
    const char* working_dir = nullptr;
    int parent_death_signal = 0;
    pid_t parent = 0;
};

std::vector<char*> pointers_to(const std::vector<std::string>& texts) {
    std::vector<char*> out;
    out.reserve(texts.size() + 1);
    for (const std::string& text : texts) out.push_back(const_cast<char*>(text.c_str()));
    out.push_back(nullptr);
    return out;
}

// Writes errno to the report pipe and ends the child; the parent reads it as the failure.
[[noreturn]] void fail_child(int report_fd, int error) {
    write_all(report_fd, &error, sizeof(error));
    _exit(127);
}

void close_range_checked(unsigned first, unsigned last) {
    if (first > last) return;
    if (::syscall(SYS_close_range, first, last, 0) == 0) return;
    const long open_max = ::sysconf(_SC_OPEN_MAX);
    const unsigned limit =
        open_max > 0 && open_max < 65536 ? static_cast<unsigned>(open_max) : 65536u;
    for (unsigned fd = first; fd <= last && fd < limit; ++fd) ::close(static_cast<int>(fd));
}

void reset_signals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig == SIGKILL || sig == SIGSTOP) continue;
        ::sigaction(sig, &action, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

void setup_stdio(const ChildPlan& plan) {
    for (int target = 0; target < 3; ++target) {
        // Sources are numbered above 2, so dup2 never overwrites one still to be placed.
        if (::dup2(plan.std_fds[target], target) < 0) fail_child(plan.report_fd, errno);
    }
    const unsigned report = static_cast<unsigned>(plan.report_fd);
    close_range_checked(3, report - 1);
    close_range_checked(report + 1, UINT_MAX);
}

void switch_identity(const ChildPlan& plan) {
    const UserIdentity& user = *plan.user;
    if (::setgroups(user.groups.size(), user.groups.data()) < 0 || ::setgid(user.gid) < 0 ||
        ::setuid(user.uid) < 0) {
        fail_child(plan.report_fd, errno);
    }
}

[[noreturn]] void run_child(const ChildPlan& plan) {
    reset_signals();
    // The caller may have ended between fork and prctl; then the signal would never come.
    if (plan.parent_death_signal != 0 &&
        (::prctl(PR_SET_PDEATHSIG, plan.parent_death_signal) < 0 || ::getppid() != plan.parent)) {
        fail_child(plan.report_fd, ESRCH);
    }
    if (plan.new_session && ::setsid() < 0) fail_child(plan.report_fd, errno);
    if (plan.new_process_group && ::setpgid(0, 0) < 0) fail_child(plan.report_fd, errno);
    setup_stdio(plan);
    if (plan.user != nullptr) switch_identity(plan);
    if (plan.working_dir != nullptr && ::chdir(plan.working_dir) < 0) {
        fail_child(plan.report_fd, errno);
    }
    ::execve(plan.path, plan.argv.data(), plan.envp);
    fail_child(plan.report_fd, errno);
}

// The middle process of a detached start: it forks the real child and ends at once, so the
// child is adopted by init and never becomes the caller's zombie.
[[noreturn]] void run_detaching_child(const ChildPlan& plan) {
    const pid_t pid = ::fork();
    if (pid < 0) fail_child(plan.report_fd, errno);
    if (pid == 0) run_child(plan);
    _exit(0);
}

// Returns a copy of `fd` numbered 3 or higher, so that placing the standard streams in the
// child cannot overwrite another source.
int above_stdio(int fd, UniqueFd& keeper) {
    if (fd < 0 || fd > 2) return fd;
    keeper.reset(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
    return keeper.get();
}

// Reads the child's report: nothing before end-of-file means exec succeeded.
int read_child_report(int fd) {
    int error = 0;
    size_t got = 0;
    while (got < sizeof(error)) {
        const ssize_t n = ::read(fd, reinterpret_cast<char*>(&error) + got, sizeof(error) - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (got == 0) return 0;
    return got == sizeof(error) && error != 0 ? error : EIO;
}

pid_t wait_for(pid_t pid, int& status) {
    pid_t r;
    do {
        r = ::waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    return r;
}

// The descriptors a child gets, open in the parent until the child has run exec.
struct ChildFds {
    UniqueFd null_device;
    UniqueFd report_read;
    UniqueFd report_write;
    UniqueFd copies[4];  // sources moved above the standard streams: stdin, stdout, stderr, report
};

// Opens what the child needs and records it in the plan; returns 0 or an errno.
int prepare_fds(const SpawnRequest& request, ChildFds& fds, ChildPlan& plan) {
    fds.null_device.reset(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (fds.null_device.get() < 0) return errno;
    int report_pipe[2];
    if (::pipe2(report_pipe, O_CLOEXEC) < 0) return errno;
    fds.report_read.reset(report_pipe[0]);
    fds.report_write.reset(report_pipe[1]);
    plan.report_fd = above_stdio(fds.report_write.get(), fds.copies[3]);
    if (plan.report_fd < 0) return EMFILE;
    const int sources[3] = {request.stdin_fd, request.stdout_fd, request.stderr_fd};
    for (int i = 0; i < 3; ++i) {
        const int source = sources[i] >= 0 ? sources[i] : fds.null_device.get();
        plan.std_fds[i] = above_stdio(source, fds.copies[i]);
        if (plan.std_fds[i] < 0) return EMFILE;
    }
    return 0;
}

void describe_program(const SpawnRequest& request, ChildPlan& plan, std::vector<char*>& envp) {
    plan.path = request.path.c_str();
    plan.argv = pointers_to(request.args);
    if (request.env != nullptr) envp = pointers_to(*request.env);
    plan.envp = request.env != nullptr ? envp.data() : environ;
    plan.new_process_group = request.new_process_group;
    plan.new_session = request.new_session;
    plan.user = request.user;
    plan.working_dir = request.working_dir.empty() ? nullptr : request.working_dir.c_str();
    plan.parent_death_signal = request.parent_death_signal;
    plan.parent = ::getpid();
}

}  // namespace

SpawnResult spawn_process(const SpawnRequest& request) {
    SpawnResult result;
    if (request.path.empty() || request.args.empty()) {
        result.error = EINVAL;
        return result;
    }
    ChildFds fds;
    ChildPlan plan;
    result.error = prepare_fds(request, fds, plan);
    if (result.error != 0) return result;
    std::vector<char*> envp;
    describe_program(request, plan, envp);

    const pid_t pid = ::fork();
    if (pid < 0) {
        result.error = errno;
        return result;
    }
    if (pid == 0) request.detached ? run_detaching_child(plan) : run_child(plan);

    fds.report_write.reset();
    fds.copies[3].reset();
    result.error = read_child_report(fds.report_read.get());
    int status = 0;
    if (request.detached || result.error != 0) wait_for(pid, status);
    result.ok = result.error == 0;
    result.pid = result.ok && !request.detached ? pid : 0;
    return result;
}

bool find_executable(const std::string& name, std::string& path) {
    if (name.empty()) return false;
    if (name.find('/') != std::string::npos) {
        path = name;
        return true;
    }
    const char* search = std::getenv("PATH");
    const std::string dirs =
        search != nullptr && *search != '\0' ? search : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            path = candidate;
            return true;
        }
        start = end + 1;
    }
    return false;
}

uint32_t exit_code_of(int status) {
    if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
    return 0;
}

}  // namespace quietway::posix
