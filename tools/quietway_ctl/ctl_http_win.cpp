#include <windows.h>
#include <wininet.h>

#include "common/os/internet_handle_win.h"
#include "tools/quietway_ctl/ctl_http.h"

namespace quietway::ctl {
namespace {

void set_timeouts(HINTERNET session, int seconds) {
    DWORD milliseconds = static_cast<DWORD>(seconds) * 1000;
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        InternetSetOptionA(session, option, &milliseconds, sizeof milliseconds);
    }
}

bool read_body(HINTERNET request, std::string& body) {
    char block[8192];
    for (;;) {
        DWORD received = 0;
        if (!InternetReadFile(request, block, sizeof block, &received)) return false;
        if (received == 0) return true;
        if (body.size() + received > kLongestAnswer) return false;
        body.append(block, received);
    }
}

}  // namespace

bool http_exchange(const HttpCall& call, HttpAnswer& answer) {
    answer = {};
    InternetHandle session(
        InternetOpenA("quietway_ctl", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session) return false;
    set_timeouts(session.get(), call.timeout_seconds);
    InternetHandle connection(InternetConnectA(session.get(), call.host.c_str(),
                                               static_cast<INTERNET_PORT>(call.port), nullptr,
                                               nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return false;
    // No cache, no cookies, no dialogs and no stored credentials of the user's own.
    const DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD |
                        INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES |
                        INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTH;
    InternetHandle request(HttpOpenRequestA(connection.get(), call.post ? "POST" : "GET",
                                            call.path.c_str(), nullptr, nullptr, nullptr, flags,
                                            0));
    if (!request) return false;
    std::string headers;
    if (!call.authorization.empty()) headers += "Authorization: " + call.authorization + "\r\n";
    if (call.post) headers += "Content-Type: application/json\r\n";
    if (!HttpSendRequestA(request.get(), headers.empty() ? nullptr : headers.c_str(),
                          static_cast<DWORD>(headers.size()),
                          call.post ? const_cast<char*>(call.body.data()) : nullptr,
                          call.post ? static_cast<DWORD>(call.body.size()) : 0)) {
        return false;
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr)) {
        return false;
    }
    answer.status = static_cast<long>(status);
    return read_body(request.get(), answer.body);
}

}  // namespace quietway::ctl
