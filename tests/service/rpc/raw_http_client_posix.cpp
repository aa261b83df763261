#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "common/os/unique_fd.h"
#include "tests/service/rpc/raw_http_client.h"

namespace quietway::testing {
namespace {

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
    const UniqueFd socket(::socket(AF_INET, SOCK_STREAM, 0));
    if (!socket.valid()) return reply;
    const sockaddr_in address = loopback(port);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return reply;
    }
    reply.connected = true;
    timeval timeout{15, 0};
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n =
            ::send(socket.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(socket.get(), buffer, sizeof buffer, 0);
        if (n == 0) reply.closed_by_server = true;
        // A reset after the server closed also ends the reply.
        if (n < 0 && errno == ECONNRESET) reply.closed_by_server = true;
        if (n <= 0) break;
        reply.bytes.append(buffer, static_cast<size_t>(n));
    }
    return reply;
}

uint16_t free_loopback_port() {
    const UniqueFd socket(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = loopback(0);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return 0;
    }
    socklen_t length = sizeof address;
    if (::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

}  // namespace quietway::testing
