#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "common/log/log_file.h"
#include "common/os/file_io_posix.h"

namespace quietway::log_platform {

const char* default_directory() { return "/var/log/quietway"; }

char path_separator() { return '/'; }

LocalTime local_time() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return {local.tm_year + 1900,
            local.tm_mon + 1,
            local.tm_mday,
            local.tm_hour,
            local.tm_min,
            local.tm_sec,
            static_cast<int>(now.tv_nsec / 1000000)};
}

LogFile::LogFile(const char* path)
    : handle_(::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)) {}

LogFile::~LogFile() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool LogFile::is_open() const { return handle_ >= 0; }

bool LogFile::append(const char* data, size_t size) {
    return write_all(static_cast<int>(handle_), data, size);
}

// systemd sets JOURNAL_STREAM to "device:inode" of the stream it connected; a program that
// inherited the variable but not the stream must not write there.
bool stderr_is_journal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr) return false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    char rest = 0;
    if (std::sscanf(stream, "%llu:%llu%c", &device, &inode, &rest) != 2) return false;
    struct stat info {};
    return ::fstat(STDERR_FILENO, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

void write_stderr(const char* data, size_t size) {
    // A journal that cannot take the line leaves the file's copy; nothing else to do.
    static_cast<void>(write_all(STDERR_FILENO, data, size));
}

void remove_file(const char* path) { ::unlink(path); }

void rename_file(const char* from, const char* to) { ::rename(from, to); }

}  // namespace quietway::log_platform
