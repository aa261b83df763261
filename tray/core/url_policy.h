#pragma once

#include <string>
#include <string_view>

// The only way the tray opens a web page: http and https addresses only, handed to the
// platform's URL opener as one argument, never through a command interpreter.
namespace quietway {

// Longest address the tray opens.
inline constexpr size_t kMaxOpenableUrl = 2048;

// Environment variable naming a program that receives the address as its one argument in
// place of the platform's opener (tests).
inline constexpr const char* kUrlOpenerEnv = "QUIETWAY_URL_OPENER";

// "http://" or "https://" (scheme in any case) followed by a host, no spaces, no control
// characters, no backslashes or quotes, at most kMaxOpenableUrl bytes.
bool is_openable_url(std::string_view url);

// Opens `url` when the policy allows it; a refused address is logged. True when the opener
// was started.
bool open_url(const std::string& url);

// The platform side: the opener started with `url` as its one argument.
bool launch_url_opener(const std::string& url);

}  // namespace quietway
