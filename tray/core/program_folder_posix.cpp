#include <limits.h>
#include <unistd.h>

#include <string>

#include "tray/core/program_folder.h"

namespace quietway {

std::string beside_program(const char* name) {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    // readlink does not say when it cut the path: a full buffer counts as cut.
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return name;
    const std::string program(path, static_cast<size_t>(length));
    const size_t slash = program.rfind('/');
    if (slash == std::string::npos) return name;
    return program.substr(0, slash + 1) + name;
}

}  // namespace quietway
