#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace quietway::lab {

// Runs a program to its end with its output captured; returns its exit status (-1 when it
// could not be run or was killed).
int run_program(const std::vector<std::string>& argv, std::string* output = nullptr);

// A program running in the background with standard input on /dev/null (or `input`) and
// standard output readable through a pipe. Killed (SIGKILL) and reaped on destruction if
// still running.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv, int input = -1);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Reads one line of standard output (without the line end); empty when none came in time.
    std::string read_line(std::chrono::milliseconds limit = std::chrono::seconds(10));
    bool running();
    // Sends `signal` and waits for the end; the wait status, or -1.
    int stop(int signal, std::chrono::milliseconds limit = std::chrono::seconds(10));

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;
    bool reaped_ = false;
    int status_ = 0;
};

}  // namespace quietway::lab
