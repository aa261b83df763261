#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "common/net/http_request.h"

namespace quietway {
namespace {

// Close to WinINet's own connect time-out; a server that stops sending for the stall time
// fails the transfer instead of holding the updater's only thread for ever.
constexpr long kConnectTimeoutSeconds = 60;
constexpr int kStallSeconds = 60;
constexpr long kMaxRedirects = 5;
constexpr long kPollMilliseconds = 1000;

std::string_view trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool has_name(std::string_view line, std::string_view name) {
    return line.size() > name.size() && line[name.size()] == ':' &&
           strncasecmp(line.data(), name.data(), name.size()) == 0;
}

}  // namespace

int http_stall_seconds(int fallback) {
    const char* text = std::getenv("QUIETWAY_HTTP_STALL_SECONDS");
    if (text == nullptr || *text == '\0' || std::strlen(text) > 4) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > 3600) return fallback;
    return static_cast<int>(value);
}

struct HttpRequest::Impl {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    bool attached = false;
    std::string agent;
    // The block the transfer delivered and how much of it the caller has taken.
    std::string block;
    size_t taken = 0;
    bool paused = false;
    bool headers_done = false;
    bool location_seen = false;
    std::optional<uint32_t> length;
    bool finished = false;
    CURLcode result = CURLE_OK;

    ~Impl() {
        if (attached) curl_multi_remove_handle(multi, easy);
        if (easy != nullptr) curl_easy_cleanup(easy);
        if (multi != nullptr) curl_multi_cleanup(multi);
    }

    bool has_unread() const { return taken < block.size(); }

    // One round of the transfer: progress, then a bounded wait for the socket.
    void step() {
        int running = 0;
        CURLMcode code = curl_multi_perform(multi, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                finished = true;
                result = message->data.result;
            }
        }
        if (code != CURLM_OK && !finished) {
            finished = true;
            result = CURLE_FAILED_INIT;
        }
        if (!finished && !has_unread() && !paused) {
            curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr);
        }
    }

    // Takes one block at a time: while the caller has not read the last one, the transfer
    // pauses and libcurl keeps the bytes.
    static size_t on_body(char* data, size_t size, size_t count, void* self) {
        auto* impl = static_cast<Impl*>(self);
        if (impl->has_unread()) {
            impl->paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        impl->block.assign(data, size * count);
        impl->taken = 0;
        return size * count;
    }

    static size_t on_header(char* data, size_t size, size_t count, void* self) {
        auto* impl = static_cast<Impl*>(self);
        const std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            impl->location_seen = false;
            impl->length.reset();
        } else if (has_name(line, "Location")) {
            impl->location_seen = true;
        } else if (has_name(line, "Content-Length")) {
            const std::string_view value = trim(line.substr(sizeof "Content-Length"));
            uint32_t number = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), number);
            if (error == std::errc() && end == value.data() + value.size() && !value.empty()) {
                impl->length = number;
            } else {
                impl->length.reset();
            }
        } else if (trim(line).empty()) {
            // The end of one answer's headers; a redirect that libcurl follows is not the end.
            long status = 0;
            curl_easy_getinfo(impl->easy, CURLINFO_RESPONSE_CODE, &status);
            const bool followed = status >= 300 && status <= 399 && impl->location_seen;
            if (status >= 200 && !followed) impl->headers_done = true;
        }
        return size * count;
    }
};

HttpRequest::HttpRequest() : impl_(std::make_unique<Impl>()) {}

HttpRequest::~HttpRequest() = default;

bool HttpRequest::attempt_connect() { return true; }

bool HttpRequest::open_session(const char* agent) {
    static std::once_flag global_init;
    static CURLcode global_result = CURLE_OK;
    std::call_once(global_init, [] { global_result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (global_result != CURLE_OK) {
        error_ = global_result;
        return false;
    }
    impl_->multi = curl_multi_init();
    impl_->easy = curl_easy_init();
    if (impl_->multi == nullptr || impl_->easy == nullptr) {
        error_ = CURLE_FAILED_INIT;
        return false;
    }
    impl_->agent = agent;
    return true;
}

bool HttpRequest::open_url(const std::string& url, bool) {
    // libcurl keeps no cache, so there is nothing to leave unwritten.
    CURL* easy = impl_->easy;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, impl_->agent.c_str());
    // A direct connection, whatever proxy the environment names.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>(http_stall_seconds(kStallSeconds)));
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::on_header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, impl_.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::on_body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, impl_.get());
    if (curl_multi_add_handle(impl_->multi, easy) != CURLM_OK) {
        error_ = CURLE_FAILED_INIT;
        return false;
    }
    impl_->attached = true;
    while (!impl_->headers_done && !impl_->finished) impl_->step();
    if (!impl_->headers_done) {
        error_ = impl_->result != CURLE_OK ? impl_->result : CURLE_RECV_ERROR;
        return false;
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
        error_ = static_cast<uint32_t>(status);
        return false;
    }
    return true;
}

std::optional<uint32_t> HttpRequest::content_length() {
    if (!impl_->length) error_ = 0;
    return impl_->length;
}

bool HttpRequest::read(char* buffer, size_t size, size_t& received) {
    received = 0;
    if (!impl_->has_unread() && impl_->paused) {
        impl_->paused = false;
        curl_easy_pause(impl_->easy, CURLPAUSE_CONT);
    }
    while (!impl_->has_unread() && !impl_->finished) impl_->step();
    if (impl_->has_unread()) {
        received = std::min(size, impl_->block.size() - impl_->taken);
        std::memcpy(buffer, impl_->block.data() + impl_->taken, received);
        impl_->taken += received;
        return true;
    }
    if (impl_->result != CURLE_OK) {
        error_ = impl_->result;
        return false;
    }
    return true;
}

}  // namespace quietway
