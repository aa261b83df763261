#include "service/rpc/peer_owner.h"

#include <cstdio>
#include <cstring>

#include "common/log/rotating_log.h"

namespace quietway {
namespace {

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

bool parse_ipv4(const char* text, uint8_t (&out)[4]) {
    unsigned parts[4];
    char tail = 0;
    if (std::sscanf(text, "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) !=
        4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (parts[i] > 255) return false;
        out[i] = static_cast<uint8_t>(parts[i]);
    }
    return true;
}

// "::1" and "::ffff:a.b.c.d", the only IPv6 forms a loopback client has.
bool parse_ipv6(const char* text, std::array<uint8_t, 16>& out) {
    out = {};
    if (std::strcmp(text, "::1") == 0) {
        out[15] = 1;
        return true;
    }
    uint8_t ipv4[4];
    if (std::strncmp(text, "::ffff:", 7) != 0 || !parse_ipv4(text + 7, ipv4)) return false;
    out = make_endpoint(false, ipv4, 0).address;
    return true;
}

}  // namespace

bool parse_endpoint(const char* address, int port, TcpEndpoint& out) {
    if (address == nullptr || port <= 0 || port > 65535) return false;
    TcpEndpoint parsed;
    parsed.port = static_cast<uint16_t>(port);
    uint8_t ipv4[4];
    if (parse_ipv4(address, ipv4)) {
        parsed = make_endpoint(false, ipv4, parsed.port);
    } else if (!parse_ipv6(address, parsed.address)) {
        return false;
    }
    out = parsed;
    return true;
}

TcpEndpoint make_endpoint(bool ipv6, const void* address, uint16_t port) {
    TcpEndpoint endpoint;
    endpoint.port = port;
    if (ipv6) {
        std::memcpy(endpoint.address.data(), address, 16);
    } else {
        std::memcpy(endpoint.address.data(), kMappedPrefix, 12);
        std::memcpy(endpoint.address.data() + 12, address, 4);
    }
    return endpoint;
}

bool add_if_between(const TcpConnection& row, const TcpEndpoint& client, uint16_t server_port,
                    std::vector<TcpConnection>& out) {
    const bool wanted = (row.local.port == client.port && row.remote.port == server_port) ||
                        (row.local.port == server_port && row.remote.port == client.port);
    if (!wanted) return true;
    if (out.size() >= kMaxListedConnections) return false;
    out.push_back(row);
    return true;
}

bool find_client_owner(const std::vector<TcpConnection>& connections, const TcpEndpoint& client,
                       uint16_t server_port, uint32_t& owner) {
    const TcpConnection* server_side = nullptr;
    for (const TcpConnection& row : connections) {
        if (row.local.port != server_port || !(row.remote == client)) continue;
        if (server_side != nullptr && !(server_side->local == row.local)) return false;
        server_side = &row;
    }
    if (server_side == nullptr) return false;
    const TcpConnection* client_side = nullptr;
    for (const TcpConnection& row : connections) {
        if (!(row.local == client) || !(row.remote == server_side->local)) continue;
        if (client_side != nullptr) return false;
        client_side = &row;
    }
    if (client_side == nullptr) return false;
    owner = client_side->owner;
    return true;
}

bool peer_may_have_credential(const char* address, int port, int server_port) {
    TcpEndpoint client;
    std::vector<TcpConnection> connections;
    uint32_t owner = 0;
    std::string who = "an unknown owner";
    const bool found =
        parse_endpoint(address, port, client) && server_port > 0 && server_port <= 65535 &&
        list_connections(client, static_cast<uint16_t>(server_port), connections) &&
        find_client_owner(connections, client, static_cast<uint16_t>(server_port), owner);
    if (found && owner_may_have_credential(owner, who)) return true;
    log("credential refused to %s:%d, a connection of %s", address != nullptr ? address : "?", port,
        who.c_str());
    return false;
}

}  // namespace quietway
