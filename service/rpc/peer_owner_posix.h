#pragma once

#include <vector>

#include "service/rpc/peer_owner.h"

// The two Linux sources of the socket table, each giving the sockets' user ids.
namespace quietway::posix {

// From the kernel's socket diagnostics over netlink, asked for the two port pairs only.
// False when the kernel does not offer them (no inet_diag) or the answer is cut short.
bool list_connections_netlink(const TcpEndpoint& client, uint16_t server_port,
                              std::vector<TcpConnection>& out);

// From /proc/net/tcp and /proc/net/tcp6, for a kernel without the diagnostics.
bool list_connections_proc(const TcpEndpoint& client, uint16_t server_port,
                           std::vector<TcpConnection>& out);

}  // namespace quietway::posix
