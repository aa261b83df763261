#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/crash/crash_report_posix.h"
#include "common/crash/crash_setup.h"
#include "common/log/rotating_log.h"

namespace quietway {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};
constexpr const char* kUploaderName = "quietway_crash_upload";
constexpr size_t kAltStackSize = 128 * 1024;
// The crashing process waits this long for the upload before it dies.
constexpr int kUploadWaitMs = 60000;

// Everything the handler touches, filled in at installation.
struct HandlerState {
    const CrashSetup* setup = nullptr;
    char dump_dir[PATH_MAX];  // ends with '/'
    char uploader[PATH_MAX];
    char port[8];
    char dump_path[PATH_MAX + crash_report::kDumpIdSize + 8];
};

HandlerState g_state;
std::atomic<pid_t> g_reporting_thread{0};
static_assert(std::atomic<pid_t>::is_always_lock_free, "used from a signal handler");

pid_t current_thread() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

void sleep_ms(long ms) {
    timespec pause{ms / 1000, (ms % 1000) * 1000000};
    while (::nanosleep(&pause, &pause) < 0 && errno == EINTR) {
    }
}

// The uploader is a fresh program: the crashed process's heap and locks cannot be trusted.
// A raw clone (not fork) runs no fork handlers; the child only makes system calls.
pid_t start_uploader() {
    char* const argv[] = {g_state.uploader,
                          const_cast<char*>(g_state.setup->host),
                          g_state.port,
                          const_cast<char*>(g_state.setup->product),
                          const_cast<char*>(g_state.setup->version),
                          g_state.dump_path,
                          nullptr};
    char* const envp[] = {nullptr};
    const long pid = ::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0);
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::syscall(SYS_close_range, 3u, ~0u, 0u);
        ::execve(g_state.uploader, argv, envp);
        _exit(127);
    }
    return static_cast<pid_t>(pid);
}

void wait_for_uploader(pid_t pid) {
    for (int waited = 0; waited < kUploadWaitMs; waited += 50) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return;
        // Reaped elsewhere (SIGCHLD ignored): it is done once it no longer exists.
        if (r < 0 && errno == ECHILD && ::kill(pid, 0) < 0) return;
        sleep_ms(50);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

void write_dump_and_upload(int sig, siginfo_t* info, void* context) {
    char id[crash_report::kDumpIdSize];
    crash_report::make_dump_id(id);
    g_state.dump_path[0] = '\0';
    crash_report::append_text(g_state.dump_path, sizeof(g_state.dump_path), g_state.dump_dir);
    crash_report::append_text(g_state.dump_path, sizeof(g_state.dump_path), id);
    crash_report::append_text(g_state.dump_path, sizeof(g_state.dump_path), ".dmp");
    const int fd = ::open(g_state.dump_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        crash_report::write_crash_report(fd, *g_state.setup, sig, info, context);
        ::close(fd);
    }
    // A failed dump is still sent for: the collector learns of the crash either way.
    const pid_t uploader = start_uploader();
    if (uploader > 0) wait_for_uploader(uploader);
}

// Back to the default action, and the signal again: it is delivered as soon as the handler
// returns, so the process ends of it as the service manager expects.
void die_of(int sig) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(sig, &fallback, nullptr);
    ::syscall(SYS_tgkill, ::getpid(), current_thread(), sig);
}

void on_fatal_signal(int sig, siginfo_t* info, void* context) {
    const pid_t self = current_thread();
    pid_t none = 0;
    if (!g_reporting_thread.compare_exchange_strong(none, self)) {
        // Another thread reports and ends the process; a crash inside our own report ends it now.
        if (none != self) {
            for (;;) ::pause();
        }
        die_of(sig);
        return;
    }
    write_dump_and_upload(sig, info, context);
    die_of(sig);
}

bool choose_dump_dir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    if (dir.back() != '/') dir += '/';
    return std::snprintf(g_state.dump_dir, sizeof(g_state.dump_dir), "%s", dir.c_str()) <
           static_cast<int>(sizeof(g_state.dump_dir));
}

// The uploader is installed beside the program.
void choose_uploader() {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    std::string dir = "/usr/lib/quietway";
    if (n > 0) {
        const std::string path(self, static_cast<size_t>(n));
        dir = path.substr(0, path.rfind('/'));
    }
    std::snprintf(g_state.uploader, sizeof(g_state.uploader), "%s/%s", dir.c_str(), kUploaderName);
    if (::access(g_state.uploader, X_OK) != 0) {
        log("crash reporting: %s not found, crash reports stay in %s", g_state.uploader,
            g_state.dump_dir);
    }
}

// A stack overflow leaves no stack to handle it on; the handler runs on one of its own. Only
// the installing thread gets it: the system has no way to give every thread one.
bool install_alternate_stack() {
    void* memory = ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return false;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAltStackSize;
    return ::sigaltstack(&stack, nullptr) == 0;
}

}  // namespace

bool install_platform_crash_handler(const CrashSetup& setup) {
    g_state.setup = &setup;
    std::snprintf(g_state.port, sizeof(g_state.port), "%u", static_cast<unsigned>(setup.port));
    if (!choose_dump_dir()) return false;
    choose_uploader();
    if (!install_alternate_stack()) {
        log("crash reporting: no alternate signal stack, error %d", errno);
    }
    // The first backtrace loads the unwinder; that must not happen inside the handler.
    void* frames[4];
    ::backtrace(frames, 4);

    struct sigaction action {};
    action.sa_sigaction = on_fatal_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigfillset(&action.sa_mask);
    for (const int sig : kFatalSignals) {
        if (::sigaction(sig, &action, nullptr) != 0) {
            log("crash reporting: cannot handle signal %d, error %d", sig, errno);
            return false;
        }
    }
    return true;
}

}  // namespace quietway
