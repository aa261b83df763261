#include "tray/linux/tray_log_directory.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/log/rotating_log.h"

namespace quietway {
namespace {

// The log's own limit on a full path, less room for the file's name.
constexpr size_t kMaxDirectory = RotatingLog::kPathCapacity - 1 - 32;

std::string home_directory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

// Like "mkdir -p" with mode 0700 for every directory it makes.
bool make_directories(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string tray_log_directory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (state != nullptr && state[0] == '/') {
        base = state;
    } else {
        base = home_directory();
        if (base.empty()) return {};
        base += "/.local/state";
    }
    const std::string dir = base + "/quietway";
    if (dir.size() > kMaxDirectory || !make_directories(dir)) return {};
    return dir;
}

}  // namespace quietway
