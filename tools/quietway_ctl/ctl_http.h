#pragma once

#include <string>

// One request to the engine's loopback web server and its whole answer: libcurl on Linux,
// WinINet on Windows.
namespace quietway::ctl {

struct HttpCall {
    std::string host;  // an address on the loopback interface
    int port = 0;
    bool post = false;  // POST `body`, else GET
    std::string path = "/";
    std::string authorization;  // the Authorization header's value, or empty for none
    std::string body;
    int timeout_seconds = 120;
};

struct HttpAnswer {
    long status = 0;
    std::string body;
};

// The engine's answers are small; a body beyond this is not the engine's.
inline constexpr size_t kLongestAnswer = 1024 * 1024;

// False when no whole answer came (nobody listens, the time ran out, the body was too long).
bool http_exchange(const HttpCall& call, HttpAnswer& answer);

}  // namespace quietway::ctl
