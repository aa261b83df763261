#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Programs that tests start, watch and end themselves: from an argument vector, never
// through a shell.
namespace quietway::testing {

struct ChildOptions {
    // Files that standard output and standard error are appended to. No output file: the
    // null device; no error file: standard error goes with standard output.
    std::string output_file;
    std::string error_file;
    // Linux: standard output and error into a pipe for read_line instead of the files.
    bool pipe_output = false;
    // Linux: standard input from this descriptor instead of /dev/null.
    int input = -1;
    // Windows: a console of its own, so that request_stop's Ctrl+C reaches the child alone.
    bool own_console = false;
};

// One child program. The destructor kills and reaps it if it still runs.
class ChildProcess {
public:
    ChildProcess() = default;
    // Starts the program at once; started() tells whether that worked.
    explicit ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is the program: a path, or on Linux a bare name looked up in PATH.
    bool start(const std::vector<std::string>& argv, const ChildOptions& options = {});
    bool started() const { return started_; }
    bool running();
    uint32_t pid() const { return pid_; }

    // Waits up to `limit` for the end; the exit code (on Linux 128 + the signal number when
    // a signal ended it), nothing while it still runs.
    std::optional<int> wait(std::chrono::milliseconds limit = std::chrono::seconds(60));
    // SIGTERM on Linux, Ctrl+C on Windows (which needs own_console).
    bool request_stop();
    // Ends it at once and reaps it; its exit code (kKilledExitCode unless it had ended).
    std::optional<int> kill();

#ifndef _WIN32
    // One line of the piped output without its line end; empty when none came in time.
    std::string read_line(std::chrono::milliseconds limit = std::chrono::seconds(10));
#endif

private:
    bool started_ = false;
    intptr_t handle_ = 0;  // the process handle on Windows, the pid elsewhere
    uint32_t pid_ = 0;
    std::optional<int> exit_code_;
    int output_ = -1;  // read end of the output pipe (Linux)
    std::string pending_;
};

// What kill() leaves as the exit code on both targets: SIGKILL as a shell reports it.
inline constexpr int kKilledExitCode = 128 + 9;

// Runs the program to its end; its exit code, or -1 when it could not start or did not end
// within `limit` (it is killed then).
int run_child(const std::vector<std::string>& argv, const ChildOptions& options = {},
              std::chrono::milliseconds limit = std::chrono::minutes(2));

struct ChildResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs the program to its end with standard output and error captured through files in the
// directory `scratch`.
ChildResult run_captured(const std::vector<std::string>& argv, const std::string& scratch);

// Directory of the running test program, without a trailing separator.
std::string program_directory();

}  // namespace quietway::testing
