#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "service/dns/pushed_dns_posix.h"

namespace quietway::dns {
namespace {

using Env = std::map<std::string, std::string>;

std::vector<std::string> texts(const PushedDns& pushed) {
    std::vector<std::string> out;
    for (const DnsServer& server : pushed.servers) out.push_back(server.text);
    return out;
}

PushedDns from(const std::vector<std::string>& options) {
    Env env;
    for (size_t i = 0; i < options.size(); ++i) {
        env["foreign_option_" + std::to_string(i + 1)] = options[i];
    }
    return pushed_dns([&](const std::string& name) {
        const auto found = env.find(name);
        return found == env.end() ? nullptr : found->second.c_str();
    });
}

TEST(PushedDns, TakesPlainUnicastAddressesOnlyInTheirCanonicalForm) {
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> servers;
        int refused;
    } cases[] = {
        {{"dhcp-option DOMAIN lab", "dhcp-option DNS 10.99.8.1", "dhcp-option DNS6 FD00:0::53"},
         {"10.99.8.1", "fd00::53"},
         0},
        // What a hostile server could send instead of an address, and addresses that would
        // send names past the tunnel.
        {{"dhcp-option DNS 10.0.0.1; rm -rf /", "dhcp-option DNS $(id)",
          "dhcp-option DNS Completed", "dhcp-option DNS 10.0.0.1 10.0.0.2",
          "dhcp-option DNS 127.0.0.53", "dhcp-option DNS 0.0.0.0", "dhcp-option DNS 224.0.0.251",
          "dhcp-option DNS fe80::1", "dhcp-option DNS ::ffff:10.0.0.1", "dhcp-option DNS ::1",
          "dhcp-option DNS 10.0.0.1\n", "dhcp-option DNS " + std::string(300, '1')},
         {},
         12},
        // Three at most, repeats once.
        {{"dhcp-option DNS 10.0.0.1", "dhcp-option DNS 10.0.0.1", "dhcp-option DNS 10.0.0.2",
          "dhcp-option DNS 10.0.0.3", "dhcp-option DNS 10.0.0.4"},
         {"10.0.0.1", "10.0.0.2", "10.0.0.3"},
         1},
        {{}, {}, 0},
    };
    for (const Case& c : cases) {
        const PushedDns pushed = from(c.options);
        EXPECT_EQ(texts(pushed), c.servers) << c.options.size();
        EXPECT_EQ(pushed.refused, c.refused) << c.options.size();
    }
}

TEST(PushedDns, TheScanEndsAtTheFirstMissingNumber) {
    const Env env = {{"foreign_option_1", "dhcp-option DNS 10.0.0.1"},
                     {"foreign_option_3", "dhcp-option DNS 10.0.0.3"}};
    const PushedDns pushed = pushed_dns(
        [&](const std::string& name) { return env.count(name) ? env.at(name).c_str() : nullptr; });
    EXPECT_EQ(texts(pushed), std::vector<std::string>{"10.0.0.1"});
}

TEST(PushedDns, DeviceNames) {
    for (const char* good : {"qwaytun0", "tun-1", "a.b_c"})
        EXPECT_TRUE(is_device_name(good)) << good;
    for (const char* bad : {"", "-x", "..", "a/b", "a b", "tun0;id", "sixteen-letters0"}) {
        EXPECT_FALSE(is_device_name(bad)) << bad;
    }
}

}  // namespace
}  // namespace quietway::dns
