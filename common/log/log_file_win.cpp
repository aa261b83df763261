#include <windows.h>

#include "common/log/log_file.h"

namespace quietway::log_platform {

const char* default_directory() { return "C:\\ProgramData\\Quietway\\logs"; }

char path_separator() { return '\\'; }

LocalTime local_time() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

LogFile::LogFile(const char* path)
    : handle_(reinterpret_cast<intptr_t>(
          CreateFileA(path, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))) {}

LogFile::~LogFile() {
    if (is_open()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool LogFile::is_open() const { return reinterpret_cast<HANDLE>(handle_) != INVALID_HANDLE_VALUE; }

namespace {

// Appenders take turns on one byte far past any real data: readers are never blocked, and
// lines of threads writing at once cannot overwrite each other even where the system's
// append is not one step.
class AppendTurn {
public:
    explicit AppendTurn(HANDLE file) : file_(file) {
        place_.Offset = 0xFFFFFFF0;
        place_.OffsetHigh = 0x7FFFFFFF;
        held_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &place_) != FALSE;
    }
    ~AppendTurn() {
        if (held_) UnlockFileEx(file_, 0, 1, 0, &place_);
    }
    AppendTurn(const AppendTurn&) = delete;
    AppendTurn& operator=(const AppendTurn&) = delete;

private:
    HANDLE file_;
    OVERLAPPED place_{};
    bool held_ = false;
};

}  // namespace

bool LogFile::append(const char* data, size_t size) {
    HANDLE file = reinterpret_cast<HANDLE>(handle_);
    AppendTurn turn(file);
    // The handle has append access only, so the write lands at the end of the file.
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) != FALSE &&
           written == size;
}

// The event log, not standard error, is where a Windows service reports.
bool stderr_is_journal() { return false; }
void write_stderr(const char*, size_t) {}

void remove_file(const char* path) { DeleteFileA(path); }

void rename_file(const char* from, const char* to) { MoveFileA(from, to); }

}  // namespace quietway::log_platform
