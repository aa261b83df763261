#include <windows.h>

#include <string>

#include "tray/core/program_folder.h"

namespace quietway {

std::string beside_program(const char* name) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    // A path cut to fit the buffer is no path at all.
    if (length == 0 || length >= sizeof path) return name;
    const std::string program(path, length);
    const size_t slash = program.find_last_of("\\/");
    if (slash == std::string::npos) return name;
    return program.substr(0, slash + 1) + name;
}

}  // namespace quietway
