#include "service/dns/fd_io_posix.h"

#include <unistd.h>

#include <cerrno>

namespace quietway::dns {

bool write_synced(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return ::fsync(fd) == 0;
}

bool read_bounded(int fd, size_t limit, std::string& out) {
    out.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (out.size() + static_cast<size_t>(n) > limit) return false;
        out.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace quietway::dns
