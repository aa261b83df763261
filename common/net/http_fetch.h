#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Plain HTTP GETs to the vendor's web server: a direct connection (never a proxy), no cache,
// default time-outs. WinINet on Windows, libcurl on Linux.
namespace quietway {

// User agents of the updater's requests.
inline constexpr const char* kFetchAgent = "UN/1.0";
inline constexpr const char* kDownloadAgent = "downloader";

enum class FetchStatus {
    ok,
    no_session,   // the HTTP library could not start a session ("InternetOpen")
    no_request,   // the address could not be opened: bad URL, no connection, HTTP error
    read_failed,  // the body could not be read to its end
    too_long,     // the body is longer than the limit; nothing is kept
};

// Reads the whole body of `url` (agent "UN/1.0") into `body`, however many reads it takes,
// up to `limit` bytes. On any failure `body` is left empty and `error` holds the platform's
// error code (GetLastError, or the CURLcode / HTTP status), 0 when there is none.
FetchStatus fetch_document(const std::string& url, size_t limit, std::string& body,
                           uint32_t& error);

}  // namespace quietway
