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

}  // namespace

bool run_in_user_session(const char* program) {
    if (program == nullptr || program[0] != '/') return false;
    posix::ConsoleUser console;
    if (!posix::find_console_user(console)) return false;
    return posix::start_as_user(console.user, program, console.env);
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
