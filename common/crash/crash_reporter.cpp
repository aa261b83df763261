#include "common/crash/crash_reporter.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "common/crash/collector_address.h"
#include "common/crash/crash_setup.h"
#include "common/log/rotating_log.h"

namespace quietway {
namespace {

template <size_t N>
bool copy_text(char (&dest)[N], const char* src) {
    const int length = std::snprintf(dest, N, "%s", src);
    return length >= 0 && static_cast<size_t>(length) < N;
}

}  // namespace

bool install_crash_handler(const char* product) {
    static CrashSetup setup;
    static std::atomic<bool> installed{false};
    if (product == nullptr || *product == '\0' || std::strlen(product) > kMaxCrashProduct) {
        log("crash reporting: invalid product name, no handler installed");
        return false;
    }
    if (installed.exchange(true)) return true;
    const CollectorAddress collector = crash_collector_address();
    const bool fits = copy_text(setup.product, product) &&
                      copy_text(setup.version, kCrashVersion) &&
                      copy_text(setup.host, collector.host.c_str());
    setup.port = collector.port;
    if (!fits || !install_platform_crash_handler(setup)) {
        log("crash reporting: the crash handler could not be installed");
        installed = false;
        return false;
    }
    return true;
}

}  // namespace quietway
