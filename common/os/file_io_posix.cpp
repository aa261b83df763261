#include "common/os/file_io_posix.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "common/os/unique_fd.h"

namespace quietway {
namespace {

constexpr int kTemporaryAttempts = 8;

// Removes `path` without losing the errno of the failure that made it necessary.
void remove_keeping_errno(int dir, const std::string& path) {
    const int error = errno;
    ::unlinkat(dir, path.c_str(), 0);
    errno = error;
}

std::string unique_temporary(const std::string& name) {
    static std::atomic<unsigned long> counter{0};
    const size_t slash = name.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    return dir + std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "." +
           std::to_string(++counter);
}

// A new file with exactly the owner and mode asked for, before any byte is in it.
UniqueFd open_new(int dir, const std::string& path, const AtomicWrite& how) {
    UniqueFd fd(::openat(dir, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         how.mode));
    if (!fd.valid()) return fd;
    const bool keep_owner =
        how.owner == static_cast<uid_t>(-1) && how.group == static_cast<gid_t>(-1);
    if ((keep_owner || ::fchown(fd.get(), how.owner, how.group) == 0) &&
        ::fchmod(fd.get(), how.mode) == 0) {
        return fd;
    }
    remove_keeping_errno(dir, path);
    return UniqueFd();
}

UniqueFd create_temporary(int dir, const std::string& name, const AtomicWrite& how,
                          std::string& temporary) {
    if (!how.temporary.empty()) {
        temporary = how.temporary;
        ::unlinkat(dir, temporary.c_str(), 0);  // left by a run that ended early
        return open_new(dir, temporary, how);
    }
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        temporary = unique_temporary(name);
        UniqueFd fd = open_new(dir, temporary, how);
        if (fd.valid() || errno != EEXIST) return fd;  // EEXIST: left by a crashed writer
    }
    return UniqueFd();
}

}  // namespace

bool write_all(int fd, const void* data, size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, next, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        next += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool send_all(int socket, const void* data, size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(socket, next, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        next += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool write_synced(int fd, std::string_view bytes) {
    return write_all(fd, bytes) && ::fsync(fd) == 0;
}

bool read_bounded(int fd, size_t limit, std::string& out) {
    out.clear();
    char buffer[4096];
    for (;;) {
        // One byte more than is left shows an overlong file.
        const size_t room = limit - out.size();
        const ssize_t n = ::read(fd, buffer, room < sizeof buffer ? room + 1 : sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (static_cast<size_t>(n) > room) return false;
        out.append(buffer, static_cast<size_t>(n));
    }
}

AtomicWriteResult write_file_atomically(int dir, const std::string& name, std::string_view bytes,
                                        const AtomicWrite& how) {
    std::string temporary;
    UniqueFd file = create_temporary(dir, name, how, temporary);
    if (!file.valid()) return AtomicWriteResult::not_created;
    AtomicWriteResult result = AtomicWriteResult::not_written;
    if (write_synced(file.get(), bytes) && ::close(file.release()) == 0) {
        const int placed = how.keep_existing
                               ? ::linkat(dir, temporary.c_str(), dir, name.c_str(), 0)
                               : ::renameat(dir, temporary.c_str(), dir, name.c_str());
        result = placed == 0 ? AtomicWriteResult::placed : AtomicWriteResult::not_placed;
    }
    // A rename took the temporary name with it; a link leaves it beside the file.
    if (result != AtomicWriteResult::placed || how.keep_existing) {
        remove_keeping_errno(dir, temporary);
    }
    return result;
}

}  // namespace quietway
