#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace quietway {

// Decides from a process's command line (program first) whether it is to be ended.
using CommandLinePredicate = std::function<bool(const std::vector<std::string>&)>;

// Ends, by SIGKILL, every process but the caller whose command line `matches` accepts, and
// waits briefly for them to be gone. Returns how many were found.
size_t kill_processes_by_command_line(const CommandLinePredicate& matches);

// Whether a process other than the caller runs the image `name` (a bare file name, found as
// kill_processes_by_name finds it).
bool is_process_running(const std::string& name);

}  // namespace quietway
