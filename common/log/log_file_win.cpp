#include <windows.h>

#include "log_file.h"

namespace quietway::log_platform {

const char* default_directory() { return "C:\\ProgramData\\Quietway\\logs"; }

char path_separator() { return '\\'; }

LocalTime local_time() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

LogFile::LogFile(const char* path)
    : handle_(reinterpret_cast<intptr_t>(CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))) {}

LogFile::~LogFile() {
    if (is_open()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool LogFile::is_open() const { return reinterpret_cast<HANDLE>(handle_) != INVALID_HANDLE_VALUE; }

bool LogFile::append(const char* data, size_t size) {
    // Offsets of all ones write at the end of the file as one step, so lines of threads
    // logging at once never overwrite each other.
    OVERLAPPED at_end{};
    at_end.Offset = 0xFFFFFFFF;
    at_end.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    return WriteFile(reinterpret_cast<HANDLE>(handle_), data, static_cast<DWORD>(size), &written,
                     &at_end) != FALSE &&
           written == size;
}

void remove_file(const char* path) { DeleteFileA(path); }

void rename_file(const char* from, const char* to) { MoveFileA(from, to); }

}  // namespace quietway::log_platform
