#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Process creation on Windows for every child of ours that is handed handles: the tunnel
// programs and the argument-vector runner.
namespace quietway {

// Creates the process with `command_line` (which the call may modify), `flags` and
// `startup`, letting it inherit exactly `handles` (each inheritable; null ones are skipped)
// and nothing else of this process, whatever else is inheritable at the moment: the pipe
// server's instances and other children's pipe ends stay out of it, as close-on-exec keeps
// them out on Linux. Without handles it inherits none. On failure no process exists and the
// system's last error tells why.
bool create_process_with_handles(const char* application, std::string& command_line, DWORD flags,
                                 const STARTUPINFOA& startup, std::vector<HANDLE> handles,
                                 PROCESS_INFORMATION& created);

}  // namespace quietway
