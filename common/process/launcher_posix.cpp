#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/process/launcher.h"
#include "common/process/session_user_posix.h"
#include "common/process/spawn_posix.h"

namespace quietway {
namespace {

constexpr const char* kShell = "/bin/sh";
constexpr const char* kConsoleSeat = "seat0";
constexpr const char* kRuntimeRoot = "/run/user";

}  // namespace

bool run_in_user_session(const char* program) {
    if (program == nullptr || program[0] != '/') return false;
    posix::ActiveSession session;
    // The login screen also holds the seat; only a person's session counts.
    if (!posix::find_active_session(kConsoleSeat, session) || session.session_class != "user") {
        return false;
    }
    posix::UserIdentity user;
    if (!posix::lookup_user(session.uid, user)) return false;
    // The session's own display, authority and bus, as its leader got them at login.
    std::vector<std::string> leader_env;
    if (session.leader > 0) {
        posix::read_environment_file("/proc/" + std::to_string(session.leader) + "/environ",
                                     posix::kMaxEnvironmentFile, leader_env);
    }
    return posix::start_as_user(user, program,
                                posix::session_environment(user, session, kRuntimeRoot,
                                                           posix::desktop_variables(leader_env)));
}

uint32_t run_shell_command(const char* command) {
    if (command == nullptr) return EINVAL;
    // Same room as the Windows interpreter line: shell, " -c ", command and the final zero.
    const size_t length = std::strlen(kShell) + 4 + std::strlen(command) + 1;
    if (length > kShellCommandCapacity) {
        log("run_shell_command: command of %d bytes is too long, refused",
            static_cast<int>(std::strlen(command)));
        return E2BIG;
    }
    posix::SpawnRequest request;
    request.path = kShell;
    request.args = {kShell, "-c", command};
    const posix::SpawnResult started = posix::spawn_process(request);
    if (!started.ok) return static_cast<uint32_t>(started.error);
    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(started.pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    return waited == started.pid ? posix::exit_code_of(status) : 0;
}

}  // namespace quietway
