#pragma once

#include <string>
#include <vector>

// systemctl as the Linux host's service manager client. $QUIETWAY_SYSTEMCTL names another
// program to run in its place (tests; systemd is not PID 1 everywhere).
namespace quietway {

inline constexpr const char* kSystemctlEnv = "QUIETWAY_SYSTEMCTL";

// Bytes of systemctl's output that are kept; the rest is read and dropped.
inline constexpr size_t kSystemctlOutputLimit = 4096;

struct SystemctlResult {
    bool ran = false;    // the program started and ended within the time limit
    int exit_code = -1;  // its exit code when it ran
    std::string output;  // its standard output, cut at kSystemctlOutputLimit
};

// Runs systemctl with the arguments (an argument vector, never a shell).
SystemctlResult run_systemctl(const std::vector<std::string>& args);

// The first word of "systemctl is-active UNIT": "active", "activating", "deactivating",
// "inactive", "failed", ...; empty when systemctl could not be run.
std::string unit_state(const std::string& unit);

}  // namespace quietway
