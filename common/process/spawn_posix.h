#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Process creation on Linux with everything the launchers need, done with fork and exec so
// that the child can change identity and session before it runs the program. Between fork and
// exec the child makes only async-signal-safe calls.
namespace quietway::posix {

// The identity a child takes before exec.
struct UserIdentity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;  // supplementary groups
    std::string name;
    std::string home;
    std::string shell;
};

struct SpawnRequest {
    std::string path;                               // the executable; absolute or relative to cwd
    std::vector<std::string> args;                  // argv, program name included
    const std::vector<std::string>* env = nullptr;  // nullptr: the caller's environment
    int stdin_fd = -1;                              // -1: /dev/null
    int stdout_fd = -1;                             // -1: /dev/null
    int stderr_fd = -1;                             // -1: /dev/null
    bool new_process_group = false;      // the child leads a group that can be ended whole
    bool new_session = false;            // detached from the caller's session
    bool detached = false;               // not a child of the caller (double fork)
    const UserIdentity* user = nullptr;  // switch to this identity first
    std::string working_dir;             // empty: the caller's
    // Sent to the child when the thread that started it ends, the whole process included
    // (SIGKILL of the caller): a tunnel program must not outlive the engine. 0: none.
    int parent_death_signal = 0;
};

struct SpawnResult {
    bool ok = false;
    pid_t pid = -1;  // the child; unknown (0) for a detached start
    int error = 0;   // errno of the failed step
};

// Starts the program. Success means exec succeeded: a failure of exec, of the identity switch
// or of any other step in the child is reported here as its errno. A detached child needs no
// waiting; any other must be reaped with waitpid.
SpawnResult spawn_process(const SpawnRequest& request);

// Looks `name` up like execvp would: a name with a slash is taken as it is, otherwise the
// directories of PATH (or a default list) are searched for an executable regular file.
bool find_executable(const std::string& name, std::string& path);

// Exit status as a number: the exit code, or 128 + the signal that ended the process.
uint32_t exit_code_of(int status);

}  // namespace quietway::posix
