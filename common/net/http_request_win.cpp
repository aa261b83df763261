#include <windows.h>
#include <wininet.h>

#include "common/net/http_request.h"
#include "common/os/internet_handle_win.h"

namespace quietway {

struct HttpRequest::Impl {
    InternetHandle session;
    InternetHandle request;  // closed first, as it is declared last
};

HttpRequest::HttpRequest() : impl_(std::make_unique<Impl>()) {}

HttpRequest::~HttpRequest() = default;

bool HttpRequest::attempt_connect() { return InternetAttemptConnect(0) == ERROR_SUCCESS; }

bool HttpRequest::open_session(const char* agent) {
    impl_->session.reset(InternetOpenA(agent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!impl_->session) {
        error_ = GetLastError();
        return false;
    }
    return true;
}

bool HttpRequest::open_url(const std::string& url, bool no_cache_write) {
    const DWORD flags = no_cache_write ? INTERNET_FLAG_NO_CACHE_WRITE : 0;
    impl_->request.reset(InternetOpenUrlA(impl_->session.get(), url.c_str(), nullptr, 0, flags, 0));
    if (!impl_->request) {
        error_ = GetLastError();
        return false;
    }
    DWORD status = 0;
    DWORD length = sizeof status;
    if (HttpQueryInfoA(impl_->request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                       &status, &length, nullptr) &&
        (status < 200 || status > 299)) {
        error_ = status;
        return false;
    }
    return true;
}

std::optional<uint32_t> HttpRequest::content_length() {
    DWORD value = 0;
    DWORD length = sizeof value;
    if (!HttpQueryInfoA(impl_->request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                        &value, &length, nullptr)) {
        error_ = GetLastError();
        return std::nullopt;
    }
    return value;
}

bool HttpRequest::read(char* buffer, size_t size, size_t& received) {
    DWORD got = 0;
    received = 0;
    if (!InternetReadFile(impl_->request.get(), buffer, static_cast<DWORD>(size), &got)) {
        error_ = GetLastError();
        return false;
    }
    received = got;
    return true;
}

}  // namespace quietway
