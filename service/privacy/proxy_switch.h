#pragma once

#include <string>
#include <string_view>

// Points the console user's system proxy at the local forwarding port of an SSH privacy
// session, or back to a direct connection.
namespace quietway {

// The host the local forwarding port listens on.
inline constexpr const char* kLocalProxyHost = "127.0.0.1";

// Switches the console user's proxy on (127.0.0.1 and `port`, local names bypassed) or off
// (direct). Returns false, having changed nothing, when nobody is logged on at the console or
// `on` comes with a `port` that is not a port number. On Windows the result is whether the
// browser-settings refresher was started in the user's session; on Linux whether the user's
// desktop settings hold the new mode afterwards.
bool set_system_proxy(const std::string& port, bool on);

// Whether `text` is a port number in plain decimal digits: 1 to 65535, no sign or blank.
bool is_proxy_port(std::string_view text);

}  // namespace quietway
