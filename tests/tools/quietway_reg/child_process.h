#pragma once

#include <string>
#include <vector>

// Starts real programs for the tool's tests, with standard output and error in files.
namespace quietway::testing {

// Directory of the running test program, without a trailing separator.
std::string program_directory();

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // waits for a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::string& program, const std::vector<std::string>& args,
               const std::string& out_file, const std::string& err_file);
    // The exit code, or -1 when the child could not be waited for.
    int wait();

private:
    long long id_ = -1;  // process id on Linux, process handle on Windows
    bool running_ = false;
};

struct ChildResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs the program to its end; `scratch` is a directory for the captured output.
ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::string& scratch);

}  // namespace quietway::testing
