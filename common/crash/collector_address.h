#pragma once

#include <cstdint>
#include <string>

namespace quietway {

struct CollectorAddress {
    std::string host;  // a name, an IPv4 address, or an IPv6 address in brackets
    uint16_t port = 0;
};

// Reads "host", "host:port", "[v6]" or "[v6]:port", optionally after "http://" and before a
// final "/". The port defaults to 1127. Anything else (another scheme, a path, a bad port or
// host character) is refused.
bool parse_collector_address(const std::string& text, CollectorAddress& out);

// The collector named by the store value crash_report_url in section "app" when present and
// valid, else the build-time default host on port 1127. A value that is present but invalid is
// logged and ignored.
CollectorAddress crash_collector_address();

// The build-time default host.
const char* default_crash_collector_host();

}  // namespace quietway
