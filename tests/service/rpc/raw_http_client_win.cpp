#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/service/rpc/raw_http_client.h"

namespace quietway::testing {
namespace {

class WinsockSession {
public:
    WinsockSession() {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockSession() {
        if (started_) WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    bool started() const { return started_; }

private:
    bool started_ = false;
};

class Socket {
public:
    Socket() : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
    ~Socket() {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return socket_; }
    bool valid() const { return socket_ != INVALID_SOCKET; }

private:
    SOCKET socket_;
};

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

RawReply raw_exchange(uint16_t port, const std::string& request) {
    RawReply reply;
    WinsockSession winsock;
    if (!winsock.started()) return reply;
    Socket socket;
    if (!socket.valid()) return reply;
    const sockaddr_in address = loopback(port);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return reply;
    }
    reply.connected = true;
    const DWORD timeout_ms = 15000;
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
                 sizeof timeout_ms);
    size_t sent = 0;
    while (sent < request.size()) {
        const int n =
            ::send(socket.get(), request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    char buffer[4096];
    for (;;) {
        const int n = ::recv(socket.get(), buffer, sizeof buffer, 0);
        if (n == 0) reply.closed_by_server = true;
        // A reset after the server closed also ends the reply.
        if (n < 0 && WSAGetLastError() == WSAECONNRESET) reply.closed_by_server = true;
        if (n <= 0) break;
        reply.bytes.append(buffer, static_cast<size_t>(n));
    }
    return reply;
}

uint16_t free_loopback_port() {
    WinsockSession winsock;
    if (!winsock.started()) return 0;
    Socket socket;
    sockaddr_in address = loopback(0);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return 0;
    }
    int length = sizeof address;
    if (::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

}  // namespace quietway::testing
