#include "common/crash/collector_address.h"

#include <cctype>

#include "common/crash/crash_reporter.h"
#include "common/log/rotating_log.h"
#include "common/store/store.h"

namespace quietway {
namespace {

constexpr size_t kMaxHost = 253;

bool is_host_name(const std::string& host) {
    if (host.empty() || host.size() > kMaxHost) return false;
    for (const char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_') {
            return false;
        }
    }
    return host.front() != '-' && host.front() != '.';
}

bool is_bracketed_v6(const std::string& host) {
    if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
    for (size_t i = 1; i + 1 < host.size(); ++i) {
        const char c = host[i];
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
    }
    return true;
}

bool parse_port(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

bool parse_collector_address(const std::string& text, CollectorAddress& out) {
    std::string rest = text;
    const std::string scheme = "http://";
    if (rest.compare(0, scheme.size(), scheme) == 0) rest.erase(0, scheme.size());
    if (!rest.empty() && rest.back() == '/') rest.pop_back();

    CollectorAddress parsed;
    parsed.port = kCrashCollectorPort;
    // The port follows the last colon, after the closing bracket of an IPv6 address.
    const size_t bracket = rest.rfind(']');
    const size_t colon = rest.rfind(':');
    const bool has_port =
        colon != std::string::npos &&
        (rest.front() != '[' || (bracket != std::string::npos && colon > bracket));
    parsed.host = has_port ? rest.substr(0, colon) : rest;
    if (has_port && !parse_port(rest.substr(colon + 1), parsed.port)) return false;
    if (!is_host_name(parsed.host) && !is_bracketed_v6(parsed.host)) return false;
    out = parsed;
    return true;
}

const char* default_crash_collector_host() { return QUIETWAY_CRASH_COLLECTOR_HOST; }

CollectorAddress crash_collector_address() {
    CollectorAddress address{default_crash_collector_host(), kCrashCollectorPort};
    std::string configured;
    if (!get_setting_string("app", kCrashReportUrlValue, configured) || configured.empty()) {
        return address;
    }
    if (!parse_collector_address(configured, address)) {
        log("crash reporting: ignoring invalid crash_report_url \"%s\"", configured.c_str());
        address = {default_crash_collector_host(), kCrashCollectorPort};
    }
    return address;
}

}  // namespace quietway
