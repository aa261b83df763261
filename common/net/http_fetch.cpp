#include "common/net/http_fetch.h"

#include <algorithm>
#include <cstring>

#include "common/log/rotating_log.h"
#include "common/net/downloader.h"
#include "common/net/http_request.h"

namespace quietway {
namespace {

constexpr size_t kFetchBlock = 4096;

FetchStatus read_body(HttpRequest& request, size_t limit, std::string& body) {
    const std::optional<uint32_t> announced = request.content_length();
    if (announced && *announced > limit) return FetchStatus::too_long;
    char block[kFetchBlock];
    size_t received = 0;
    do {
        // One byte more than the limit may still come, so that a longer body shows itself.
        const size_t room = std::min(sizeof block, limit - body.size() + 1);
        if (!request.read(block, room, received)) return FetchStatus::read_failed;
        body.append(block, received);
        if (body.size() > limit) return FetchStatus::too_long;
    } while (received > 0);
    // An early close ends the reads as if the body were complete.
    if (announced && body.size() != *announced) return FetchStatus::read_failed;
    return FetchStatus::ok;
}

}  // namespace

FetchStatus fetch_document(const std::string& url, size_t limit, std::string& body,
                           uint32_t& error) {
    body.clear();
    error = 0;
    HttpRequest request;
    FetchStatus status = FetchStatus::ok;
    if (!request.open_session(kFetchAgent)) {
        status = FetchStatus::no_session;
    } else if (!request.open_url(url, false)) {
        status = FetchStatus::no_request;
    } else {
        status = read_body(request, limit, body);
    }
    if (status != FetchStatus::ok) {
        body.clear();
        error = request.error();
    }
    return status;
}

size_t fetch_text(const std::string& url, char* buffer, size_t size) {
    std::string body;
    uint32_t error = 0;
    const FetchStatus status = fetch_document(url, size, body, error);
    buffer[0] = '\0';
    switch (status) {
        case FetchStatus::ok:
            std::memcpy(buffer, body.data(), body.size());
            buffer[body.size()] = '\0';
            return body.size();
        case FetchStatus::no_session:
            log("ERROR InternetOpen!!!! Code = %d", static_cast<int>(error));
            break;
        case FetchStatus::no_request:
            log("ERROR InternetOpenUrl!!!! Code = %d", static_cast<int>(error));
            break;
        case FetchStatus::read_failed:
            log("ERROR InternetReadFile!!!! Code = %d", static_cast<int>(error));
            break;
        case FetchStatus::too_long:
            log("ERROR %s is longer than %d bytes", url.c_str(), static_cast<int>(size));
            break;
    }
    return 0;
}

}  // namespace quietway
