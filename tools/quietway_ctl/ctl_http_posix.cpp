#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "tools/quietway_ctl/ctl_http.h"

namespace quietway::ctl {
namespace {

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

size_t on_body(char* data, size_t size, size_t count, void* target) {
    auto* body = static_cast<std::string*>(target);
    const size_t bytes = size * count;
    if (body->size() + bytes > kLongestAnswer) return 0;  // ends the transfer as failed
    body->append(data, bytes);
    return bytes;
}

// Adds one header line; false when libcurl could not take it.
bool add_header(std::unique_ptr<curl_slist, ListDeleter>& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) return false;
    list.release();
    list.reset(grown);
    return true;
}

}  // namespace

bool http_exchange(const HttpCall& call, HttpAnswer& answer) {
    static std::once_flag global_init;
    static CURLcode global_result = CURLE_OK;
    std::call_once(global_init, [] { global_result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (global_result != CURLE_OK) return false;
    const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) return false;
    std::unique_ptr<curl_slist, ListDeleter> headers;
    if (!call.authorization.empty() && !add_header(headers, "Authorization: " + call.authorization))
        return false;
    if (call.post && !add_header(headers, "Content-Type: application/json")) return false;
    const std::string url = "http://" + call.host + ":" + std::to_string(call.port) + call.path;
    answer = {};
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    // Straight to the loopback server, whatever proxy the environment names.
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, static_cast<long>(call.timeout_seconds));
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    if (call.post) {
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(call.body.size()));
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, call.body.c_str());
    }
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &on_body);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &answer.body);
    if (curl_easy_perform(handle) != CURLE_OK) return false;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer.status);
    return true;
}

}  // namespace quietway::ctl
