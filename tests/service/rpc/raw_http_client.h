#pragma once

#include <cstdint>
#include <string>

// A minimal HTTP client over a plain TCP socket, so that tests see the exact bytes a server
// writes and whether it closed the connection.
namespace quietway::testing {

struct RawReply {
    bool connected = false;
    bool closed_by_server = false;  // false when the read timed out instead
    std::string bytes;
};

// Connects to 127.0.0.1:port, sends `request` as it is and reads until the server closes the
// connection or nothing arrives for 15 seconds.
RawReply raw_exchange(uint16_t port, const std::string& request);

// A loopback port that was free a moment ago (bound to port 0, then released).
uint16_t free_loopback_port();

}  // namespace quietway::testing
