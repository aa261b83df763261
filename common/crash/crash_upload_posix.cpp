#include <curl/curl.h>

#include <cstdio>
#include <string>

#include "common/crash/crash_reporter.h"
#include "common/crash/crash_upload.h"

namespace quietway {
namespace {

constexpr long kConnectTimeoutSeconds = 10;
constexpr long kTotalTimeoutSeconds = 45;

size_t discard_body(char*, size_t size, size_t count, void*) { return size * count; }

bool perform(CURL* curl, const std::string& url, const char* product, const char* version,
             const char* dump) {
    curl_mime* form = curl_mime_init(curl);
    curl_mimepart* part = curl_mime_addpart(form);
    curl_mime_name(part, kCrashProductField);
    curl_mime_data(part, product, CURL_ZERO_TERMINATED);
    part = curl_mime_addpart(form);
    curl_mime_name(part, kCrashVersionField);
    curl_mime_data(part, version, CURL_ZERO_TERMINATED);
    part = curl_mime_addpart(form);
    curl_mime_name(part, kCrashFilePart);
    const bool have_file = curl_mime_filedata(part, dump) == CURLE_OK;

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, form);
    // A direct connection, whatever proxy the environment names.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTotalTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard_body);
    const CURLcode result = have_file ? curl_easy_perform(curl) : CURLE_READ_ERROR;
    curl_mime_free(form);
    if (result != CURLE_OK) {
        std::fprintf(stderr, "quietway_crash_upload: %s: %s\n", url.c_str(),
                     curl_easy_strerror(result));
    }
    return result == CURLE_OK;
}

}  // namespace

bool send_crash_dump(const CollectorAddress& collector, const char* product, const char* version,
                     const char* dump_path) {
    const std::string url =
        "http://" + collector.host + ":" + std::to_string(collector.port) + kCrashCollectorPath;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL* curl = curl_easy_init();
    const bool sent = curl != nullptr && perform(curl, url, product, version, dump_path);
    if (curl != nullptr) curl_easy_cleanup(curl);
    curl_global_cleanup();
    return sent;
}

}  // namespace quietway
