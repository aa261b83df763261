#include "service/rpc/request_origin.h"

#include <cctype>

namespace quietway {
namespace {

bool is_digits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

bool is_port(std::string_view text) {
    if (!is_digits(text) || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) value = value * 10 + static_cast<unsigned>(c - '0');
    return value <= 65535;
}

// A decimal number 0..255 without leading zeros (a leading zero reads as octal elsewhere).
bool is_octet(std::string_view text, unsigned& value) {
    if (!is_digits(text) || text.size() > 3 || (text.size() > 1 && text[0] == '0')) return false;
    value = 0;
    for (char c : text) value = value * 10 + static_cast<unsigned>(c - '0');
    return value <= 255;
}

bool is_loopback_ipv4(std::string_view text) {
    unsigned octets[4] = {};
    for (int i = 0; i < 4; ++i) {
        const size_t dot = i < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos || !is_octet(text.substr(0, dot), octets[i])) {
            return false;
        }
        text = i < 3 ? text.substr(dot + 1) : std::string_view();
    }
    return octets[0] == 127;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equals_ignoring_case(text.substr(0, prefix.size()), prefix);
}

}  // namespace

bool is_loopback_host(std::string_view host) {
    // The name ends after "]" for an IPv6 literal, else at the last ":".
    size_t name_end = host.size();
    if (!host.empty() && host[0] == '[') {
        const size_t close = host.find(']');
        if (close == std::string_view::npos) return false;
        name_end = close + 1;
    } else if (const size_t colon = host.rfind(':'); colon != std::string_view::npos) {
        name_end = colon;
    }
    const std::string_view name = host.substr(0, name_end);
    const std::string_view rest = host.substr(name_end);
    if (!rest.empty() && (rest[0] != ':' || !is_port(rest.substr(1)))) return false;
    return name == "[::1]" || equals_ignoring_case(name, "localhost") || is_loopback_ipv4(name);
}

bool is_loopback_origin(std::string_view origin) {
    for (std::string_view scheme : {"http://", "https://"}) {
        if (starts_with_ignoring_case(origin, scheme)) {
            return is_loopback_host(origin.substr(scheme.size()));
        }
    }
    return false;
}

bool is_local_request(const char* host, const char* origin) {
    if (host == nullptr || !is_loopback_host(host)) return false;
    return origin == nullptr || is_loopback_origin(origin);
}

}  // namespace quietway
