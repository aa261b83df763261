#include <winsock2.h>
#include <ws2tcpip.h>

#include <filesystem>

#include "common/os/win_handle.h"
#include "service/privacy/provision_platform.h"
#include "service/privacy/provision_text.h"

namespace quietway {

TargetForm native_form() { return TargetForm::windows; }

char path_separator() { return '\\'; }

std::string program_file(const char* base) { return std::string(base) + ".exe"; }

bool write_whole_file(const std::string& path, const std::string& data, bool) {
    // What is there goes first, a link as a link: the file is made anew in its place, never
    // through a link, and takes the directory's private access list.
    if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    WinHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD written = 0;
    // The text already carries its CR LF line breaks.
    return file.valid() && data.size() <= MAXDWORD &&
           WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
           written == data.size();
}

bool make_server_directory(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

// The client puts the pushed name servers on the TAP adapter itself (block-outside-dns).
std::string vpn_config_platform_lines(const std::string&, const std::string&) { return ""; }

bool resolve_ipv4(const std::string& host, std::string& out) {
    // Counted by the system: every start has its cleanup, so callers need no setup of their own.
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    bool ok = getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found != nullptr;
    if (ok) {
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
        ok = inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text)) != nullptr;
        if (ok) out = text;
    }
    if (found != nullptr) freeaddrinfo(found);
    WSACleanup();
    return ok;
}

}  // namespace quietway
