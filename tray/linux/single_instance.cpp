#include "tray/linux/single_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "common/log/rotating_log.h"

namespace quietway {
namespace {

std::string lock_path() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    // Only an absolute directory of a sane length; anything else falls back to /tmp.
    if (runtime != nullptr && runtime[0] == '/' && std::strlen(runtime) < 512) {
        struct stat info {};
        if (::stat(runtime, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid()) {
            return std::string(runtime) + "/" + kTrayLockFile;
        }
    }
    return "/tmp/quietway-tray-" + std::to_string(::getuid()) + ".lock";
}

}  // namespace

SingleInstance::SingleInstance() : path_(lock_path()) {
    // O_NOFOLLOW: a link planted in /tmp must not make us create or lock another file.
    UniqueFd fd(::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        log("Can't open the tray's lock file %s: %s", path_.c_str(), std::strerror(errno));
        return;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid()) {
        log("The tray's lock file %s is not this user's own file", path_.c_str());
        return;
    }
    int result;
    do {
        result = ::flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        lock_ = std::move(fd);
    } else if (errno == EWOULDBLOCK) {
        held_elsewhere_ = true;
    } else {
        log("Can't lock %s: %s", path_.c_str(), std::strerror(errno));
    }
}

}  // namespace quietway
