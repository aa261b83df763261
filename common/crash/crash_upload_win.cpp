#include <windows.h>
#include <wininet.h>

#include <string>

#include "common/crash/crash_reporter.h"
#include "common/crash/crash_upload.h"
#include "common/crash/multipart_form.h"
#include "common/os/internet_handle_win.h"
#include "common/os/win_handle.h"

namespace quietway {
namespace {

constexpr const char* kUserAgent = "Quietway crash reporter";
constexpr DWORD kChunkSize = 64 * 1024;
constexpr LONGLONG kMaxDumpSize = 512LL * 1024 * 1024;
constexpr DWORD kTimeoutMs = 15000;  // each of connect, send and receive

bool write_all(HINTERNET request, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!InternetWriteFile(request, data, size, &written) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

bool write_file_body(HINTERNET request, HANDLE file) {
    std::string chunk(kChunkSize, '\0');
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk.data(), kChunkSize, &got, nullptr)) return false;
        if (got == 0) return true;
        if (!write_all(request, chunk.data(), got)) return false;
    }
}

// WinINet takes an IPv6 literal without its brackets.
std::string connect_host(const std::string& host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        return host.substr(1, host.size() - 2);
    }
    return host;
}

void limit_waits(HINTERNET session) {
    DWORD timeout = kTimeoutMs;
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        InternetSetOptionA(session, option, &timeout, sizeof(timeout));
    }
}

}  // namespace

bool send_crash_dump(const CollectorAddress& collector, const char* product, const char* version,
                     const char* dump_path) {
    WinHandle file(CreateFileA(dump_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxDumpSize) {
        return false;
    }
    const std::string path = dump_path;
    const std::string file_name = path.substr(path.find_last_of("\\/") + 1);
    const std::string boundary =
        "----------------QuietwayCrash" + file_name.substr(0, file_name.find('.'));
    const std::string head =
        form_head(boundary, {{kCrashProductField, product}, {kCrashVersionField, version}},
                  kCrashFilePart, file_name);
    const std::string tail = form_tail(boundary);
    const std::string header = "Content-Type: " + form_content_type(boundary) + "\r\n";

    InternetHandle session(
        InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (session.get() == nullptr) return false;
    limit_waits(session.get());
    InternetHandle connection(InternetConnectA(session.get(), connect_host(collector.host).c_str(),
                                               collector.port, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
    if (connection.get() == nullptr) return false;
    InternetHandle request(HttpOpenRequestA(connection.get(), "POST", kCrashCollectorPath, nullptr,
                                            nullptr, nullptr,
                                            INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD |
                                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI,
                                            0));
    if (request.get() == nullptr) return false;

    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof(buffers);
    buffers.lpcszHeader = header.c_str();
    buffers.dwHeadersLength = static_cast<DWORD>(header.size());
    buffers.dwBufferTotal = static_cast<DWORD>(head.size() + size.QuadPart + tail.size());
    if (!HttpSendRequestExA(request.get(), &buffers, nullptr, 0, 0)) return false;
    const bool body_sent = write_all(request.get(), head.data(), static_cast<DWORD>(head.size())) &&
                           write_file_body(request.get(), file.get()) &&
                           write_all(request.get(), tail.data(), static_cast<DWORD>(tail.size()));
    return HttpEndRequestA(request.get(), nullptr, 0, 0) && body_sent;
}

}  // namespace quietway
