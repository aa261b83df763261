#include "service/dns/pushed_dns_posix.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace quietway::dns {
namespace {

// A loopback, unspecified, multicast, broadcast or link-local address would send the
// machine's names somewhere other than through the tunnel.
bool usable_ipv4(const uint8_t* a) {
    return a[0] != 0 && a[0] != 127 && a[0] < 224 && !(a[0] == 169 && a[1] == 254);
}

bool usable_ipv6(const in6_addr& a) {
    return !IN6_IS_ADDR_UNSPECIFIED(&a) && !IN6_IS_ADDR_LOOPBACK(&a) &&
           !IN6_IS_ADDR_MULTICAST(&a) && !IN6_IS_ADDR_LINKLOCAL(&a) && !IN6_IS_ADDR_V4MAPPED(&a) &&
           !IN6_IS_ADDR_V4COMPAT(&a);
}

bool parse_address(const std::string& text, DnsServer& out) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return false;
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
               c == '.' || c == ':';
    });
    if (!plain) return false;
    char canonical[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(&v4);
        if (!usable_ipv4(bytes)) return false;
        out.family = AF_INET;
        out.bytes.assign(bytes, bytes + sizeof v4);
        inet_ntop(AF_INET, &v4, canonical, sizeof canonical);
    } else if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
        if (!usable_ipv6(v6)) return false;
        const auto* bytes = reinterpret_cast<const uint8_t*>(&v6);
        out.family = AF_INET6;
        out.bytes.assign(bytes, bytes + sizeof v6);
        inet_ntop(AF_INET6, &v6, canonical, sizeof canonical);
    } else {
        return false;
    }
    out.text = canonical;
    return true;
}

// "dhcp-option DNS ADDRESS" (or DNS6), exactly three words: true when the option is about
// DNS servers at all, with `address` set.
bool dns_option(const std::string& option, std::string& address) {
    for (const char* prefix : {"dhcp-option DNS ", "dhcp-option DNS6 "}) {
        const size_t length = std::strlen(prefix);
        if (option.compare(0, length, prefix) == 0) {
            address = option.substr(length);
            return true;
        }
    }
    return false;
}

}  // namespace

PushedDns pushed_dns(const EnvLookup& lookup) {
    PushedDns pushed;
    for (int i = 1; i <= kMaxForeignOptions; ++i) {
        const char* value = lookup("foreign_option_" + std::to_string(i));
        if (value == nullptr) break;
        const std::string option(value, strnlen(value, kMaxOptionLength + 1));
        std::string address;
        if (!dns_option(option, address)) continue;
        DnsServer server;
        if (option.size() > kMaxOptionLength || !parse_address(address, server) ||
            pushed.servers.size() >= kMaxServers) {
            ++pushed.refused;
            continue;
        }
        const bool repeated =
            std::any_of(pushed.servers.begin(), pushed.servers.end(),
                        [&](const DnsServer& known) { return known.bytes == server.bytes; });
        if (!repeated) pushed.servers.push_back(std::move(server));
    }
    return pushed;
}

bool is_device_name(const std::string& name) {
    if (name.empty() || name.size() > 15 || name[0] == '-' || name == "." || name == "..") {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.';
    });
}

}  // namespace quietway::dns
