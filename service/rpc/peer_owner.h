#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Who is at the other end of a loopback TCP connection to the control API, and whether that
// account may be given the API's credential. The engine runs as root or SYSTEM and other local
// accounts are not trusted: an owner that cannot be found is refused.
namespace quietway {

// One end of a TCP connection. An IPv4 address is held in its IPv4-mapped IPv6 form, so that a
// dual-stack socket's view of a connection compares equal to the IPv4 socket's.
struct TcpEndpoint {
    std::array<uint8_t, 16> address{};
    uint16_t port = 0;
    bool operator==(const TcpEndpoint&) const = default;
};

// A connection as the system lists it, with the owner the platform names: the socket's user
// id (Linux) or its process id (Windows).
struct TcpConnection {
    TcpEndpoint local;
    TcpEndpoint remote;
    uint32_t owner = 0;
};

// The most connections a listing may hold; more fails the listing.
inline constexpr size_t kMaxListedConnections = 64;

// An address in the text form the HTTP library reports ("127.0.0.1", "::1",
// "::ffff:127.0.0.1") and a port.
bool parse_endpoint(const char* address, int port, TcpEndpoint& out);

// An endpoint from a system table's raw address: 16 bytes for IPv6, else 4 for IPv4.
TcpEndpoint make_endpoint(bool ipv6, const void* address, uint16_t port);

// Adds `row` to `out` when it joins the client's port and the server's, either way round;
// false when the listing would grow past its limit.
bool add_if_between(const TcpConnection& row, const TcpEndpoint& client, uint16_t server_port,
                    std::vector<TcpConnection>& out);

// The owner of the client's socket of the connection from `client` to this server's port
// `server_port`. The server's own side of it names the local address, so the client's socket
// is matched by its exact four-tuple. False when either side is missing or not unique.
bool find_client_owner(const std::vector<TcpConnection>& connections, const TcpEndpoint& client,
                       uint16_t server_port, uint32_t& owner);

// The platform's part. The connections between `client` and port `server_port`, in either
// direction, as far as they still carry a socket of their owner.
bool list_connections(const TcpEndpoint& client, uint16_t server_port,
                      std::vector<TcpConnection>& out);
// Whether `owner` is root or an administrator, or the user of the active console session
// (the one the tray runs for). `who` names the owner for the log.
bool owner_may_have_credential(uint32_t owner, std::string& who);

// The whole decision for one request; a refusal is logged.
bool peer_may_have_credential(const char* address, int port, int server_port);

}  // namespace quietway
