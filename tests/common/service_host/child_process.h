#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quietway::testing {

// A program started by a test with an argument vector and the test's environment; its
// standard error goes to a file. The destructor kills it if it still runs.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // On Windows the child gets a console of its own so that request_stop reaches it alone.
    bool start(const std::string& program, const std::vector<std::string>& args,
               const std::string& error_file);

    // Waits up to `limit`; true with the exit code when the child ended.
    bool wait(std::chrono::milliseconds limit, int& exit_code);

    // SIGTERM on Linux, Ctrl+C on Windows.
    bool request_stop();
    void kill();
    bool running() const { return handle_ != 0; }
    uint32_t pid() const { return pid_; }

private:
    intptr_t handle_ = 0;  // a process handle on Windows, the pid elsewhere
    uint32_t pid_ = 0;
};

// Runs the program to its end; returns its exit code, or -1 when it did not end in time
// (then it is killed).
int run_program(const std::string& program, const std::vector<std::string>& args,
                const std::string& error_file,
                std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace quietway::testing
