#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Runs an outside program from an argument vector, so that no caller ever has to paste text
// into a shell command. The program gets no window and, unless captured, its output goes
// nowhere.
namespace quietway {

// Largest standard input text and the most output kept; output beyond it is read and dropped.
inline constexpr size_t kMaxProgramInput = 1024 * 1024;
inline constexpr size_t kMaxCapturedOutput = 1024 * 1024;

struct RunOptions {
    // Written to the program's standard input, which is then closed. Empty: an empty input.
    std::string input;
    // Milliseconds after which the program (with the processes it started in its group or
    // job) is ended. 0: wait without a limit.
    uint32_t time_limit_ms = 0;
    // When set, receives standard output and standard error together.
    std::string* output = nullptr;
};

struct RunResult {
    bool started = false;    // the program was found and its process created
    bool timed_out = false;  // it was ended because the time limit passed
    // The program's exit code. On Linux a program ended by a signal gives 128 + the signal
    // number, as a shell reports it.
    uint32_t exit_code = 0;
    uint32_t error = 0;  // system error code when it was not started
};

// args[0] is the program: a path, or a bare name looked up in the search path.
RunResult run_program(const std::vector<std::string>& args, const RunOptions& options = {});

}  // namespace quietway
