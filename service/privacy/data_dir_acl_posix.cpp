#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/log/rotating_log.h"
#include "common/os/unique_fd.h"
#include "service/privacy/data_dir_acl.h"

namespace quietway {
namespace {

bool is_private(const struct stat& info) {
    return info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// What the directory held before it was closed: server directories and their files. Links are
// left alone (provisioning refuses them).
void close_entries(const std::string& dir, int depth) {
    std::error_code error;
    const std::filesystem::directory_iterator end;
    for (std::filesystem::directory_iterator it(dir, error); !error && it != end;
         it.increment(error)) {
        const std::string path = it->path().string();
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) continue;
        if ((info.st_mode & 077) != 0 && ::chmod(path.c_str(), info.st_mode & 07700) != 0) {
            log("%s cannot be closed to other users: %s", path.c_str(), std::strerror(errno));
        }
        if (depth > 0 && S_ISDIR(info.st_mode)) close_entries(path, depth - 1);
    }
}

}  // namespace

bool secure_data_directory(const std::string& dir) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(dir).parent_path(), ignored);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        log("data directory %s cannot be made: %s", dir.c_str(), std::strerror(errno));
        return false;
    }
    // Opened without following a link, so that what is checked and changed is the directory.
    UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) {
        log("data directory %s cannot be opened as a directory, not through a link (%s): servers "
            "are not prepared",
            dir.c_str(), std::strerror(errno));
        return false;
    }
    if (!is_private(info)) {
        if ((info.st_uid != ::geteuid() && ::fchown(fd.get(), ::geteuid(), ::getegid()) != 0) ||
            ::fchmod(fd.get(), 0700) != 0) {
            log("data directory %s is open to other users and cannot be closed (%s): servers are "
                "not prepared",
                dir.c_str(), std::strerror(errno));
            return false;
        }
        log("%s was open to other users: now its owner's only", dir.c_str());
    }
    close_entries(dir, 1);
    return true;
}

bool is_link(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace quietway
