// quietway_crash_upload HOST PORT PRODUCT VERSION DUMP
//
// Sends one crash dump to the collector: a multipart POST to http://HOST:PORT/post with the
// form parts "prod" and "ver" and the file part "upload_file_minidump". Started by the crash
// handler, which ignores the result; the exit code (0 sent, 1 refused, 2 failed) is for people.
#include <curl/curl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/crash/collector_address.h"
#include "common/crash/crash_reporter.h"

namespace {

constexpr long kConnectTimeoutSeconds = 10;
constexpr long kTotalTimeoutSeconds = 45;
constexpr size_t kMaxFieldLength = 255;

size_t discard_body(char*, size_t size, size_t count, void*) { return size * count; }

bool send_dump(const std::string& url, const char* product, const char* version, const char* dump) {
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return false;
    curl_mime* form = curl_mime_init(curl);
    curl_mimepart* part = curl_mime_addpart(form);
    curl_mime_name(part, quietway::kCrashProductField);
    curl_mime_data(part, product, CURL_ZERO_TERMINATED);
    part = curl_mime_addpart(form);
    curl_mime_name(part, quietway::kCrashVersionField);
    curl_mime_data(part, version, CURL_ZERO_TERMINATED);
    part = curl_mime_addpart(form);
    curl_mime_name(part, quietway::kCrashFilePart);
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
    curl_easy_cleanup(curl);
    if (result != CURLE_OK) {
        std::fprintf(stderr, "quietway_crash_upload: %s: %s\n", url.c_str(),
                     curl_easy_strerror(result));
    }
    return result == CURLE_OK;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: quietway_crash_upload HOST PORT PRODUCT VERSION DUMP\n");
        return 1;
    }
    quietway::CollectorAddress collector;
    const std::string address = std::string(argv[1]) + ":" + argv[2];
    if (!quietway::parse_collector_address(address, collector) ||
        std::strlen(argv[3]) > kMaxFieldLength || std::strlen(argv[4]) > kMaxFieldLength) {
        std::fprintf(stderr, "quietway_crash_upload: invalid arguments\n");
        return 1;
    }
    const std::string url = "http://" + collector.host + ":" + std::to_string(collector.port) +
                            quietway::kCrashCollectorPath;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const bool sent = send_dump(url, argv[3], argv[4], argv[5]);
    curl_global_cleanup();
    return sent ? 0 : 2;
}
