#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "service/dns/connection_check.h"

namespace quietway {

bool host_addresses(const std::string& host, bool numeric_only, std::vector<std::string>& out) {
    out.clear();
    // Counted by the system: every start has its cleanup, so callers need no setup of their own.
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = numeric_only ? AI_NUMERICHOST : 0;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0) {
        for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
            char text[NI_MAXHOST] = {};
            if (getnameinfo(entry->ai_addr, static_cast<socklen_t>(entry->ai_addrlen), text,
                            sizeof text, nullptr, 0, NI_NUMERICHOST) == 0 &&
                std::find(out.begin(), out.end(), text) == out.end()) {
                out.push_back(text);
            }
        }
        freeaddrinfo(found);
    }
    WSACleanup();
    return !out.empty();
}

std::string curl_in(const std::string& app_dir) { return app_dir + "\\bin\\curl.exe"; }

}  // namespace quietway
