#include "firewall/filter_set/nft_ruleset_posix.h"

#include <arpa/inet.h>

#include <cstdio>

#include "firewall/filter_set/vpn_device.h"

namespace quietway::nft {
namespace {

// Display names become rule comments; only plain printable ASCII is kept.
std::string comment_text(const wchar_t* name) {
    std::string text;
    for (const wchar_t* c = name; c != nullptr && *c != L'\0'; ++c) {
        const bool printable = *c >= 0x20 && *c < 0x7F && *c != L'"' && *c != L'\\';
        text += printable ? static_cast<char>(*c) : '?';
    }
    return text;
}

bool usable_interface_name(const std::string& name) {
    if (name.empty() || name.size() > 15) return false;
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == '@' ||
                           c == '+';
        if (!plain) return false;
    }
    return true;
}

bool address_condition(const FilterRecord& filter, std::string& text) {
    if (filter.layer != FilterLayer::connect_v4) return false;
    text = filter.field == FilterField::local_address ? "ip saddr " : "ip daddr ";
    text += dotted(filter.address);
    if (filter.match == FilterMatch::range) text += "-" + dotted(filter.address_high);
    return true;
}

}  // namespace

std::string table_name(const SublayerKey& key) {
    std::string name = "quietway_";
    char hex[3];
    for (uint8_t b : key.bytes) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        name += hex;
    }
    return name;
}

std::string table_commands(const std::string& table, const wchar_t* comment) {
    const std::string t = "inet " + table;
    std::string c;
    c += "add table " + t + " { flags owner; comment \"" + comment_text(comment) + "\"; }\n";
    c += "add chain " + t + " " + kPermitChain + "\n";
    c += "add chain " + t + " " + kBlockChain + "\n";
    c += "add set " + t + " " + kRemoteAddressSet + " { type ipv4_addr; }\n";
    c += "add set " + t + " " + kLocalAddressSet + " { type ipv4_addr; }\n";
    c += "add rule " + t + " " + kPermitChain + " ip daddr @" + kRemoteAddressSet + " accept\n";
    c += "add rule " + t + " " + kPermitChain + " ip saddr @" + kLocalAddressSet + " accept\n";
    c += "add chain " + t + " output { type filter hook output priority filter; policy accept; }\n";
    // The packets this machine sends for a connection opened from outside (a local service
    // reached from the network, an answered ping) are the reply direction of that connection
    // and pass: only connections the machine opens are judged, as at the connect layer on
    // Windows. Everything else is judged packet by packet, so a connection the machine opened
    // before the switch is stopped too; on Windows the new filters re-authorize such flows
    // at the same layer.
    c += "add rule " + t + " output ct direction reply accept\n";
    // Names are asked through the tunnel only, whatever the permits allow (the VPN server's
    // address, the local network's resolver): DNS leaves by our tunnel device or stays on
    // this machine, for a local resolver that itself asks through the tunnel.
    c += "add rule " + t + " output meta l4proto { tcp, udp } th dport 53 oifname != { \"lo\", \"" +
         kVpnDeviceName + "\" } drop comment \"QuietwayFirewall: DNS only through the tunnel\"\n";
    c += "add rule " + t + " output jump " + kPermitChain + "\n";
    c += "add rule " + t + " output jump " + kBlockChain + "\n";
    return c;
}

std::string dotted(uint32_t address) {
    char text[INET_ADDRSTRLEN];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

bool is_set_element(const FilterRecord& filter) {
    return filter.action == FilterAction::permit && filter.layer == FilterLayer::connect_v4 &&
           filter.match == FilterMatch::equal &&
           (filter.field == FilterField::local_address ||
            filter.field == FilterField::remote_address);
}

const char* element_set(const FilterRecord& filter) {
    return filter.field == FilterField::local_address ? kLocalAddressSet : kRemoteAddressSet;
}

bool rule_for(const FilterRecord& filter, const std::string& interface_name, std::string& chain,
              std::string& rule) {
    rule = filter.layer == FilterLayer::connect_v4 ? "meta nfproto ipv4" : "meta nfproto ipv6";
    switch (filter.field) {
        case FilterField::none:
            break;
        case FilterField::local_interface:
            if (filter.match != FilterMatch::equal || !usable_interface_name(interface_name)) {
                return false;
            }
            rule += " oifname \"" + interface_name + "\"";
            break;
        case FilterField::local_address:
        case FilterField::remote_address: {
            std::string condition;
            if (!address_condition(filter, condition)) return false;
            rule += " " + condition;
            break;
        }
    }
    rule += filter.action == FilterAction::permit ? " accept" : " drop";
    rule += " comment \"" + comment_text(filter.display_name) + "\"";
    chain = filter.action == FilterAction::permit ? kPermitChain : kBlockChain;
    return true;
}

}  // namespace quietway::nft
