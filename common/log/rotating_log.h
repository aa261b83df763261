#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <type_traits>

#include "common/log/log_format.h"

namespace quietway {

// Log file names of the four programs; all of them share one log directory.
inline constexpr const char* kServiceLogFile = "QuietwayService.log";
inline constexpr const char* kUpdaterLogFile = "QuietwayUpdaterService.log";
inline constexpr const char* kFirewallLogFile = "Firewall.log";
inline constexpr const char* kTrayLogFile = "Quietway2Tray.log";

// Environment variable that replaces the platform's log directory (tests, demo).
inline constexpr const char* kLogDirEnv = "QUIETWAY_LOG_DIR";

// Appends one time-stamped line per message to the program's log file and keeps two older
// generations. The file is opened and closed around every message so that nothing is lost
// when the process dies and other readers can look at it at any time.
class RotatingLog {
public:
    static constexpr int kPathCapacity = 261;
    static constexpr int kMessageCapacity = 2048;
    static constexpr uint32_t kMessagesPerGeneration = 1000;

    RotatingLog();
    RotatingLog(const RotatingLog&) = delete;
    RotatingLog& operator=(const RotatingLog&) = delete;

    // Chooses the directory ($QUIETWAY_LOG_DIR, else the given default or the platform's) and
    // the file.
    void set_file_name(const char* file_name, const char* default_directory = nullptr);

    // When standard error is the journal (a service under systemd), every message is also
    // written there, without the time stamp the journal adds itself. Returns whether it is.
    bool mirror_to_journal();

    // printf-style message in the Windows dialect (%I64d is accepted on every platform); the
    // arguments are checked against the text when the call is compiled. Returns nonzero when
    // the line was written.
    template <class... Args>
    int log(log_format::Checked<std::type_identity_t<Args>...> format, Args... args) {
        return log_unchecked(format.text(), args...);
    }
    int log_unchecked(const char* format, ...);
    int vlog(const char* format, va_list args);

    const char* full_path() const { return full_path_; }
    void set_rotation(bool on) { rotate_flag_.store(on ? 1u : 0u); }

private:
    void count_and_rotate();
    void rotate_files();

    char directory_[kPathCapacity];
    char file_name_[kPathCapacity];
    char full_path_[kPathCapacity];
    std::atomic<uint32_t> rotate_flag_;
    std::atomic<uint32_t> message_count_;
    std::atomic<bool> journal_copy_{false};
};

// The process-wide log object, created before main runs.
RotatingLog& program_log();

// Shorthand for program_log().log(...).
int log_unchecked(const char* format, ...);
template <class... Args>
int log(log_format::Checked<std::type_identity_t<Args>...> format, Args... args) {
    return log_unchecked(format.text(), args...);
}

}  // namespace quietway
