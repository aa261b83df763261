#include "common/log/rotating_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/log/log_file.h"

namespace quietway {
namespace {

// Rewrites the Windows-only length prefix "I64" as "ll", which every C runtime accepts.
std::string to_portable_format(const char* format) {
    std::string out;
    out.reserve(std::strlen(format) + 8);
    for (const char* p = format; *p != '\0'; ++p) {
        out += *p;
        if (*p != '%') continue;
        const char* conversion = p + 1;
        while (*conversion != '\0' && std::strchr("-+ #0123456789.*", *conversion) != nullptr)
            ++conversion;
        if (std::strncmp(conversion, "I64", 3) == 0) {
            out.append(p + 1, conversion);
            out += "ll";
            p = conversion + 2;
        } else if (*conversion == '%') {
            out += '%';
            p = conversion;
        }
    }
    return out;
}

void copy_bounded(char* dest, const char* src) {
    std::snprintf(dest, RotatingLog::kPathCapacity, "%s", src);
}

// One journal entry per message: the line breaks a caller ends its text with are dropped.
void copy_to_journal(const char* message) {
    std::string line(message);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    line += '\n';
    log_platform::write_stderr(line.data(), line.size());
}

}  // namespace

RotatingLog::RotatingLog() : rotate_flag_(1), message_count_(0) {
    directory_[0] = '\0';
    file_name_[0] = '\0';
    full_path_[0] = '\0';
}

void RotatingLog::set_file_name(const char* file_name, const char* default_directory) {
    const char* dir = std::getenv(kLogDirEnv);
    if (dir == nullptr || *dir == '\0') {
        dir = default_directory != nullptr ? default_directory : log_platform::default_directory();
    }
    copy_bounded(directory_, dir);
    copy_bounded(file_name_, file_name);
    const std::string full =
        std::string(directory_) + log_platform::path_separator() + std::string(file_name_);
    copy_bounded(full_path_, full.c_str());
}

bool RotatingLog::mirror_to_journal() {
    journal_copy_.store(log_platform::stderr_is_journal());
    return journal_copy_.load();
}

int RotatingLog::log_unchecked(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = vlog(format, args);
    va_end(args);
    return written;
}

int RotatingLog::vlog(const char* format, va_list args) {
    if (file_name_[0] == '\0' || format == nullptr) return 0;
    char message[kMessageCapacity];
    const std::string portable = to_portable_format(format);
    // vsnprintf cuts the text to the buffer; it never writes past it.
    const int length = std::vsnprintf(message, sizeof message, portable.c_str(), args);
    if (length > 0 && journal_copy_.load()) copy_to_journal(message);
    int written = 0;
    {
        log_platform::LogFile file(full_path_);
        if (!file.is_open()) return 0;
        if (length > 0) {
            const log_platform::LocalTime t = log_platform::local_time();
            char line[kMessageCapacity + 64];
            const int line_length = std::snprintf(
                line, sizeof line, "%04d/%02d/%02d %02d:%02d:%02d %03d %s\r\n", t.year, t.month,
                t.day, t.hour, t.minute, t.second, t.millisecond, message);
            const size_t size = line_length < static_cast<int>(sizeof line)
                                    ? static_cast<size_t>(line_length)
                                    : sizeof line - 1;
            written = file.append(line, size) ? 1 : 0;
        }
    }
    if (rotate_flag_.load() != 0) count_and_rotate();
    return written;
}

void RotatingLog::count_and_rotate() {
    // The thread whose message completes a generation, and only that one, rotates.
    uint32_t current = message_count_.load();
    uint32_t next;
    do {
        next = current + 1 >= kMessagesPerGeneration ? 0 : current + 1;
    } while (!message_count_.compare_exchange_weak(current, next));
    if (next == 0) rotate_files();
}

void RotatingLog::rotate_files() {
    std::string full(full_path_);
    const size_t slash = full.find_last_of(log_platform::path_separator());
    const size_t dot = full.find_last_of('.');
    const bool has_extension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string base_path = has_extension ? full.substr(0, dot) : full;
    const std::string extension = has_extension ? full.substr(dot) : std::string();

    char generation1[kPathCapacity * 2];
    char generation2[kPathCapacity * 2];
    std::snprintf(generation1, sizeof generation1, "%s_%01d%s", base_path.c_str(), 1,
                  extension.c_str());
    std::snprintf(generation2, sizeof generation2, "%s_%01d%s", base_path.c_str(), 2,
                  extension.c_str());

    log_platform::remove_file(generation2);
    log_platform::rename_file(generation1, generation2);
    log_platform::rename_file(full_path_, generation1);
}

RotatingLog& program_log() {
    static RotatingLog instance;
    return instance;
}

int log_unchecked(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = program_log().vlog(format, args);
    va_end(args);
    return written;
}

}  // namespace quietway
