#include "tests/tray/linux/loopback_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace quietway::testing {

LoopbackHttp::LoopbackHttp() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (!listener_.valid() ||
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_.get(), 8) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LoopbackHttp::~LoopbackHttp() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

std::string LoopbackHttp::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackHttp::requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

void LoopbackHttp::serve() {
    while (!stop_) {
        pollfd waiting{listener_.get(), POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0) continue;
        UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client.valid()) continue;
        // The request's head, up to its blank line or 4 KiB.
        std::string head;
        char buffer[512];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 4096) {
            pollfd readable{client.get(), POLLIN, 0};
            if (::poll(&readable, 1, 2000) <= 0) break;
            const ssize_t got = ::recv(client.get(), buffer, sizeof(buffer), 0);
            if (got <= 0) break;
            head.append(buffer, static_cast<size_t>(got));
        }
        const std::string line = head.substr(0, head.find(" HTTP/"));
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(line);
        }
        static const char kAnswer[] =
            "HTTP/1.0 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
        (void)::send(client.get(), kAnswer, sizeof(kAnswer) - 1, MSG_NOSIGNAL);
    }
}

}  // namespace quietway::testing
