#include "service/rpc/peer_owner_posix.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "common/os/unique_fd.h"
#include "common/process/session_user_posix.h"

namespace quietway {
namespace posix {
namespace {

// Only full sockets carry their owner's uid; a time-wait or half-open one reads as root's.
constexpr uint32_t kOwnedStates = (1u << TCP_ESTABLISHED) | (1u << TCP_FIN_WAIT1) |
                                  (1u << TCP_FIN_WAIT2) | (1u << TCP_CLOSE_WAIT) |
                                  (1u << TCP_LAST_ACK) | (1u << TCP_CLOSING);

bool send_dump_request(int socket, uint8_t family, uint16_t local_port, uint16_t remote_port) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof(message);
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.request.sdiag_family = family;
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = kOwnedStates;
    // The kernel passes over every socket whose ports differ.
    message.request.id.idiag_sport = htons(local_port);
    message.request.id.idiag_dport = htons(remote_port);
    message.request.id.idiag_cookie[0] = message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return ::sendto(socket, &message, sizeof(message), 0, reinterpret_cast<sockaddr*>(&kernel),
                    sizeof(kernel)) == static_cast<ssize_t>(sizeof(message));
}

// One reply datagram: true with `done` once the dump has ended.
bool read_dump_part(const char* data, size_t size, const TcpEndpoint& client, uint16_t server_port,
                    std::vector<TcpConnection>& out, bool& done) {
    while (size >= sizeof(nlmsghdr)) {
        nlmsghdr header;
        std::memcpy(&header, data, sizeof(header));
        if (header.nlmsg_len < sizeof(header) || header.nlmsg_len > size) return false;
        if (header.nlmsg_type == NLMSG_DONE) {
            done = true;
            return true;
        }
        // An error, or a dump the kernel found changed under it.
        if (header.nlmsg_type != SOCK_DIAG_BY_FAMILY || (header.nlmsg_flags & NLM_F_DUMP_INTR) ||
            header.nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
            return false;
        }
        inet_diag_msg row;
        std::memcpy(&row, data + NLMSG_HDRLEN, sizeof(row));
        const TcpConnection connection = {
            make_endpoint(row.idiag_family == AF_INET6, row.id.idiag_src,
                          ntohs(row.id.idiag_sport)),
            make_endpoint(row.idiag_family == AF_INET6, row.id.idiag_dst,
                          ntohs(row.id.idiag_dport)),
            row.idiag_uid};
        if (!add_if_between(connection, client, server_port, out)) return false;
        const size_t step = NLMSG_ALIGN(header.nlmsg_len);
        if (step >= size) break;
        data += step;
        size -= step;
    }
    return true;
}

bool dump(int socket, uint8_t family, uint16_t local_port, uint16_t remote_port,
          const TcpEndpoint& client, uint16_t server_port, std::vector<TcpConnection>& out) {
    if (!send_dump_request(socket, family, local_port, remote_port)) return false;
    alignas(nlmsghdr) char buffer[16384];
    for (bool done = false; !done;) {
        ssize_t got;
        do {
            got = ::recv(socket, buffer, sizeof(buffer), 0);
        } while (got < 0 && errno == EINTR);
        if (got <= 0 ||
            !read_dump_part(buffer, static_cast<size_t>(got), client, server_port, out, done)) {
            return false;
        }
    }
    return true;
}

// A /proc/net address: the raw 32-bit words of the address, each printed as a host-order
// number.
bool decode_address(const std::string& hex, std::array<uint8_t, 16>& out) {
    if (hex.size() != 8 && hex.size() != 32) return false;
    uint8_t raw[16] = {};
    for (size_t word = 0; word * 8 < hex.size(); ++word) {
        const std::string digits = hex.substr(word * 8, 8);
        const uint32_t value = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
        std::memcpy(raw + word * 4, &value, 4);
    }
    out = make_endpoint(hex.size() == 32, raw, 0).address;
    return true;
}

bool parse_proc_line(const std::string& line, TcpConnection& row, unsigned& state) {
    char local[33], remote[33];
    unsigned local_port = 0, remote_port = 0;
    if (std::sscanf(line.c_str(),
                    " %*u: %32[0-9A-Fa-f]:%4x %32[0-9A-Fa-f]:%4x %2x %*x:%*x %*x:%*x %*x %u", local,
                    &local_port, remote, &remote_port, &state, &row.owner) != 6) {
        return false;
    }
    row.local.port = static_cast<uint16_t>(local_port);
    row.remote.port = static_cast<uint16_t>(remote_port);
    return decode_address(local, row.local.address) && decode_address(remote, row.remote.address);
}

}  // namespace

bool list_connections_netlink(const TcpEndpoint& client, uint16_t server_port,
                              std::vector<TcpConnection>& out) {
    UniqueFd socket(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!socket.valid()) return false;
    out.clear();
    for (const uint8_t family : {AF_INET, AF_INET6}) {
        if (!dump(socket.get(), family, client.port, server_port, client, server_port, out) ||
            !dump(socket.get(), family, server_port, client.port, client, server_port, out)) {
            return false;
        }
    }
    return true;
}

bool list_connections_proc(const TcpEndpoint& client, uint16_t server_port,
                           std::vector<TcpConnection>& out) {
    out.clear();
    for (const bool ipv6 : {false, true}) {
        std::ifstream table(ipv6 ? "/proc/net/tcp6" : "/proc/net/tcp");
        // Without IPv6 in the kernel there is no such table, and no such socket either.
        if (!table) {
            if (ipv6) break;
            return false;
        }
        std::string line;
        std::getline(table, line);  // the heading
        while (std::getline(table, line)) {
            TcpConnection row;
            unsigned state = 0;
            if (!parse_proc_line(line, row, state)) return false;
            if ((kOwnedStates & (1u << (state & 31))) != 0 &&
                !add_if_between(row, client, server_port, out)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace posix

bool list_connections(const TcpEndpoint& client, uint16_t server_port,
                      std::vector<TcpConnection>& out) {
    return posix::list_connections_netlink(client, server_port, out) ||
           posix::list_connections_proc(client, server_port, out);
}

bool owner_may_have_credential(uint32_t owner, std::string& who) {
    who = "user " + std::to_string(owner);
    if (owner == 0) return true;
    posix::ActiveSession session;
    // The login screen also holds the seat; only a person's session counts, as for the tray.
    return posix::find_active_session("seat0", session) && session.session_class == "user" &&
           session.uid == owner;
}

}  // namespace quietway
