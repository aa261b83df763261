#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The DNS servers a VPN server pushed ("dhcp-option DNS ADDRESS"), read from the environment
// OpenVPN gives its up program as foreign_option_1, foreign_option_2, ... The VPN server is
// not trusted: only plain unicast addresses are taken, re-written in their canonical form, and
// no text of the server's is ever passed on or printed.
namespace quietway::dns {

// The C library's resolver reads no more than three name servers.
inline constexpr size_t kMaxServers = 3;
// Options looked at, and the longest option text taken for one.
inline constexpr int kMaxForeignOptions = 256;
inline constexpr size_t kMaxOptionLength = 256;

struct DnsServer {
    int family = 0;  // AF_INET or AF_INET6
    std::vector<uint8_t> bytes;
    std::string text;  // canonical, from the bytes
};

struct PushedDns {
    std::vector<DnsServer> servers;  // pushed order, no repeats, at most kMaxServers
    int refused = 0;                 // DNS options left out: not a usable address, or too many
};

// `lookup` gives an environment value by name, nullptr when it is not set.
using EnvLookup = std::function<const char*(const std::string& name)>;

PushedDns pushed_dns(const EnvLookup& lookup);

// Whether `name` is a network device name this program acts on: 1 to 15 letters, digits,
// '_', '-' or '.', as the kernel accepts and no path or option can be made of.
bool is_device_name(const std::string& name);

}  // namespace quietway::dns
