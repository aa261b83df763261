#pragma once

#include <cstdint>

// Crash reporting for the two services: when the process crashes, a dump is written into the
// temporary directory as "<id>.dmp" and sent at once to the crash collector as one multipart
// POST; then the process ends as the crash would have ended it.
namespace quietway {

// The identifying form values of each program.
inline constexpr const char* kServiceCrashProduct = "quietway_service.pdb";
inline constexpr const char* kUpdaterCrashProduct = "quietway_updater.pdb";
inline constexpr const char* kCrashVersion = "337.9efd447";

// Form part names and the collector endpoint: plain HTTP to "<host>:1127/post".
inline constexpr const char* kCrashProductField = "prod";
inline constexpr const char* kCrashVersionField = "ver";
inline constexpr const char* kCrashFilePart = "upload_file_minidump";
inline constexpr uint16_t kCrashCollectorPort = 1127;
inline constexpr const char* kCrashCollectorPath = "/post";

// Store value (section "app") naming the collector as "host" or "host:port"; a build-time
// default host applies without it.
inline constexpr const char* kCrashReportUrlValue = "crash_report_url";

// Longest product text accepted.
inline constexpr unsigned kMaxCrashProduct = 63;

// Installs the handler once per process; later calls change nothing and return true. The
// collector's address is read from the store now, not at crash time. Returns false when the
// handler could not be installed (the reason is logged).
bool install_crash_handler(const char* product);

}  // namespace quietway
