#pragma once

#include <string>

namespace quietway {

// An image name is a bare file name ("quietway_firewall.exe" on Windows, "quietway_firewall"
// on Linux): no path, no wildcard, no quote, no control character, at most 255 bytes.
bool is_valid_image_name(const std::string& name);

// Ends every process running the image `name`, forcibly: on Windows with "taskkill.exe /f /IM
// name" itself, on Linux by signal (never the calling process) after which it waits briefly for
// them to be gone. Returns true when at least one process was found and all found processes
// were ended; false for an invalid name, when none runs, or on failure.
bool kill_processes_by_name(const std::string& name);

}  // namespace quietway
