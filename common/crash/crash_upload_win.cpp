#include <windows.h>
#include <wininet.h>

#include <string>

#include "common/crash/crash_reporter.h"
#include "common/crash/crash_upload_win.h"
#include "common/crash/multipart_form.h"

namespace quietway {
namespace {

constexpr const char* kUserAgent = "Quietway crash reporter";
constexpr DWORD kChunkSize = 64 * 1024;
constexpr LONGLONG kMaxDumpSize = 512LL * 1024 * 1024;

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    ~InternetHandle() {
        if (handle_ != nullptr) InternetCloseHandle(handle_);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return handle_; }

private:
    HINTERNET handle_;
};

class FileHandle {
public:
    explicit FileHandle(const char* path)
        : handle_(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

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
    // Static: the crashed process's heap is best left alone.
    static char chunk[kChunkSize];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof(chunk), &got, nullptr)) return false;
        if (got == 0) return true;
        if (!write_all(request, chunk, got)) return false;
    }
}

// WinINet takes an IPv6 literal without its brackets.
std::string connect_host(const char* host) {
    std::string text = host;
    if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
        text = text.substr(1, text.size() - 2);
    }
    return text;
}

}  // namespace

bool upload_crash_dump(const CrashSetup& setup, const char* dump_path, const char* file_name,
                       const char* boundary_seed) {
    FileHandle file(dump_path);
    LARGE_INTEGER size{};
    if (file.get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.get(), &size) ||
        size.QuadPart > kMaxDumpSize) {
        return false;
    }
    const std::string boundary = std::string("----------------QuietwayCrash") + boundary_seed;
    const std::string head = form_head(
        boundary, {{kCrashProductField, setup.product}, {kCrashVersionField, setup.version}},
        kCrashFilePart, file_name);
    const std::string tail = form_tail(boundary);
    const std::string header = "Content-Type: " + form_content_type(boundary) + "\r\n";

    InternetHandle session(
        InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (session.get() == nullptr) return false;
    InternetHandle connection(InternetConnectA(session.get(), connect_host(setup.host).c_str(),
                                               setup.port, nullptr, nullptr, INTERNET_SERVICE_HTTP,
                                               0, 0));
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
