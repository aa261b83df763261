#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// One plain HTTP GET over a direct connection, in the steps the downloader takes: a session,
// the request, the announced length, then block reads. WinINet on Windows, libcurl on Linux.
namespace quietway {

// Linux: seconds without a byte after which a transfer counts as failed,
// $QUIETWAY_HTTP_STALL_SECONDS (1 to 3600) when set, else `fallback`. Windows keeps WinINet's
// own time-outs.
int http_stall_seconds(int fallback);

class HttpRequest {
public:
    HttpRequest();
    ~HttpRequest();  // releases the request, then the session
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // InternetAttemptConnect; always true where there is no such step.
    static bool attempt_connect();

    bool open_session(const char* agent);
    // Sends the request and waits for the answer's headers. An answer other than 2xx fails
    // with its status code as the error. `no_cache_write`: the answer is not stored in a cache.
    bool open_url(const std::string& url, bool no_cache_write);
    // The announced Content-Length; nothing when there is none or it does not fit 32 bits.
    std::optional<uint32_t> content_length();
    // Up to `size` bytes of the body; `received` is 0 at its end. False on a failed read.
    bool read(char* buffer, size_t size, size_t& received);

    // The platform's code for the last failure (GetLastError, CURLcode or HTTP status).
    uint32_t error() const { return error_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    uint32_t error_ = 0;
};

}  // namespace quietway
