#pragma once

#include <string_view>

// Checks that a control API call comes from a page the local web interface served, so that a
// web site in the user's browser cannot reach the API through DNS rebinding or a cross-site
// form post.
namespace quietway {

// "localhost", a dotted IPv4 address in 127.0.0.0/8 or "[::1]", each with an optional
// ":port". Host names compare case-insensitively.
bool is_loopback_host(std::string_view host);

// "http://" or "https://" followed by a loopback host as above, and nothing else.
bool is_loopback_origin(std::string_view origin);

// The Host header must be present and loopback; an Origin header, when sent, must be too.
// Either pointer is null when its header is missing.
bool is_local_request(const char* host, const char* origin);

}  // namespace quietway
