#pragma once

#include <cstddef>
#include <cstdint>

// The platform half of the rotating log: file access and the local clock.
namespace quietway::log_platform {

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};

const char* default_directory();
char path_separator();
LocalTime local_time();

// A log file opened for one message: created when missing, shared for reading and writing.
class LogFile {
public:
    explicit LogFile(const char* path);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    bool is_open() const;
    bool append(const char* data, size_t size);

private:
    intptr_t handle_;  // a HANDLE on Windows, a descriptor elsewhere
};

// Whether standard error is the stream systemd named in $JOURNAL_STREAM.
bool stderr_is_journal();
void write_stderr(const char* data, size_t size);

void remove_file(const char* path);
void rename_file(const char* from, const char* to);

}  // namespace quietway::log_platform
