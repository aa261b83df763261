#include "service/privacy/proxy_switch_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "common/log/rotating_log.h"
#include "common/os/unique_fd.h"
#include "common/process/session_user_posix.h"
#include "service/privacy/proxy_switch.h"

namespace quietway {
namespace posix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kConsoleSeat = "seat0";
constexpr const char* kRuntimeRoot = "/run/user";
constexpr const char* kProxySchema = "org.gnome.system.proxy";
constexpr const char* kIgnoreHosts = "['localhost', '127.0.0.0/8', '::1', '*.local']";
constexpr size_t kMaxToolOutput = 4096;

bool child_ended(pid_t pid, int& status) {
    pid_t r;
    do {
        r = ::waitpid(pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    return r == pid || (r < 0 && errno == ECHILD);
}

// Runs `args` as `who` with exactly their session's environment and waits for it within the
// time limit. True when it exited with 0; `output` gets the first of its output and errors.
bool run_as(const DesktopUser& who, const std::vector<std::string>& args, std::string& output) {
    output.clear();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    UniqueFd read_end(fds[0]);
    UniqueFd write_end(fds[1]);
    SpawnRequest request;
    request.path = args[0];
    request.args = args;
    request.env = &who.env;
    request.user = &who.user;
    request.stdout_fd = write_end.get();
    request.stderr_fd = write_end.get();
    request.new_process_group = true;
    request.working_dir = "/";
    const SpawnResult started = spawn_process(request);
    write_end.reset();
    if (!started.ok) return false;

    const auto deadline = Clock::now() + std::chrono::milliseconds(kSettingsToolTimeLimitMs);
    int status = 0;
    while (!child_ended(started.pid, status)) {
        if (Clock::now() >= deadline) {
            ::kill(-started.pid, SIGKILL);
            while (::waitpid(started.pid, &status, 0) < 0 && errno == EINTR) {
            }
            output = "no answer within the time limit";
            return false;
        }
        pollfd ready{read_end.get(), POLLIN, 0};
        if (read_end.valid() && ::poll(&ready, 1, 20) > 0) {
            char buffer[1024];
            const ssize_t n = ::read(read_end.get(), buffer, sizeof(buffer));
            if (n > 0 && output.size() < kMaxToolOutput) {
                output.append(buffer,
                              std::min(static_cast<size_t>(n), kMaxToolOutput - output.size()));
            } else if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                read_end.reset();
            }
        } else if (!read_end.valid()) {
            ::usleep(20000);
        }
    }
    // What is left in the pipe, without waiting for any process the tool left holding it.
    if (read_end.valid()) {
        ::fcntl(read_end.get(), F_SETFL, O_NONBLOCK);
        char buffer[1024];
        ssize_t n;
        while (output.size() < kMaxToolOutput &&
               (n = ::read(read_end.get(), buffer, sizeof(buffer))) > 0) {
            output.append(buffer, std::min(static_cast<size_t>(n), kMaxToolOutput - output.size()));
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool find_console_user(DesktopUser& out) {
    ActiveSession session;
    // The login screen also holds the seat; only a person's session counts.
    if (!find_active_session(kConsoleSeat, session) || session.session_class != "user") {
        return false;
    }
    if (!lookup_user(session.uid, out.user)) return false;
    std::vector<std::string> leader_env;
    if (session.leader > 0) {
        read_environment_file("/proc/" + std::to_string(session.leader) + "/environ",
                              kMaxEnvironmentFile, leader_env);
    }
    out.env = session_environment(out.user, session, kRuntimeRoot, desktop_variables(leader_env));
    return true;
}

bool apply_desktop_proxy(const DesktopUser& who, const std::string& port, bool on) {
    if (on && !is_proxy_port(port)) return false;
    // Without the session's bus the tool would start one of its own that nothing ends.
    const bool has_bus = std::any_of(who.env.begin(), who.env.end(), [](const std::string& e) {
        return e.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) == 0;
    });
    if (!has_bus) {
        log("set_system_proxy: %s has no session bus, desktop proxy unchanged",
            who.user.name.c_str());
        return false;
    }
    std::string tool;
    if (!find_executable("gsettings", tool)) {
        log("set_system_proxy: gsettings not found, desktop proxy unchanged");
        return false;
    }
    const std::string http = std::string(kProxySchema) + ".http";
    const std::string https = std::string(kProxySchema) + ".https";
    const std::string host = std::string("'") + kLocalProxyHost + "'";
    std::vector<std::vector<std::string>> changes;
    if (on) {
        // The mode comes last, so that programs never see "manual" with a stale address.
        changes = {{tool, "set", http, "host", host},
                   {tool, "set", http, "port", port},
                   {tool, "set", https, "host", host},
                   {tool, "set", https, "port", port},
                   {tool, "set", kProxySchema, "ignore-hosts", kIgnoreHosts}};
    }
    const std::string mode = on ? "manual" : "none";
    changes.push_back({tool, "set", kProxySchema, "mode", mode});
    std::string output;
    for (const std::vector<std::string>& change : changes) {
        if (!run_as(who, change, output)) {
            log("set_system_proxy: gsettings %s %s failed for %s: %s", change[2].c_str(),
                change[3].c_str(), who.user.name.c_str(), output.c_str());
            return false;
        }
    }
    // When the bus does not answer, the tool exits with 0 yet keeps nothing; only reading the
    // mode back tells.
    if (!run_as(who, {tool, "get", kProxySchema, "mode"}, output) || output != "'" + mode + "'\n") {
        log("set_system_proxy: the desktop proxy of %s did not take mode %s", who.user.name.c_str(),
            mode.c_str());
        return false;
    }
    return true;
}

}  // namespace posix

bool set_system_proxy(const std::string& port, bool on) {
    if (on && !is_proxy_port(port)) return false;
    posix::DesktopUser who;
    if (!posix::find_console_user(who)) return false;
    return posix::apply_desktop_proxy(who, port, on);
}

}  // namespace quietway
