#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/privacy/provision_text.h"

namespace quietway {
namespace {

// The service's configuration as it has always been on Windows, line for line.
const char kWindowsConfig[] =
    "client\r\ndev tun\r\nproto udp\r\nblock-outside-dns\r\n"
    "remote 10.1.2.3 1194\r\n"
    "resolv-retry infinite\r\nnobind\r\npersist-key\r\npersist-tun\r\n"
    "ca \"C:\\\\Program Data\\\\Quietway\\\\conf\\\\7\\\\ca.crt\"\r\n"
    "cert \"C:\\\\Program Data\\\\Quietway\\\\conf\\\\7\\\\alice.crt\"\r\n"
    "key \"C:\\\\Program Data\\\\Quietway\\\\conf\\\\7\\\\alice.key\"\r\n"
    "auth-user-pass \"C:\\\\Program Data\\\\Quietway\\\\conf\\\\7\\\\auth.cfg\"\r\n"
    "remote-cert-tls server\r\n"
    "tls-auth \"C:\\\\Program Data\\\\Quietway\\\\conf\\\\7\\\\ta.key\" 1\r\n"
    "cipher DES-EDE3-CBC\r\ncomp-lzo\r\nverb 3\r\nroute-method exe\r\nroute-delay 2\r\n"
    "tun-mtu 1500\r\ntun-mtu-extra 32\r\nfragment 1468\r\nmssfix 1436\r\n";

// Linux: our own device, the Windows-only option made optional, LF, and a user name that
// needs OpenVPN's escapes inside the quoted paths.
const char kLinuxConfig[] =
    "client\ndev qwaytun0\ndev-type tun\nproto udp\nsetenv opt block-outside-dns\n"
    "remote 10.99.0.1 1194\n"
    "resolv-retry infinite\nnobind\npersist-key\npersist-tun\n"
    "ca \"/var/lib/q w/conf/1/ca.crt\"\n"
    "cert \"/var/lib/q w/conf/1/o\\\"d\\\\d$`x`.crt\"\n"
    "key \"/var/lib/q w/conf/1/o\\\"d\\\\d$`x`.key\"\n"
    "auth-user-pass \"/var/lib/q w/conf/1/auth.cfg\"\n"
    "remote-cert-tls server\n"
    "tls-auth \"/var/lib/q w/conf/1/ta.key\" 1\n"
    "cipher DES-EDE3-CBC\ncomp-lzo\nverb 3\nroute-method exe\nroute-delay 2\n"
    "tun-mtu 1500\ntun-mtu-extra 32\nfragment 1468\nmssfix 1436\n";

TEST(ProvisionText, ConfigurationOfEachTarget) {
    EXPECT_EQ(vpn_config_text(TargetForm::windows, "C:\\Program Data\\Quietway\\conf\\7\\", "alice",
                              "10.1.2.3", "1194"),
              kWindowsConfig);
    EXPECT_EQ(vpn_config_text(TargetForm::posix, "/var/lib/q w/conf/1/", "o\"d\\d$`x`", "10.99.0.1",
                              "1194"),
              kLinuxConfig);
}

TEST(ProvisionText, NoValueAddsConfigurationLinesOfItsOwn) {
    EXPECT_EQ(vpn_config_text(TargetForm::posix, "/d/", "alice", "10.0.0.1\nup x", "1194"), "");
    EXPECT_EQ(vpn_config_text(TargetForm::posix, "/d/", "alice", "vpn.example.net", "1194"), "");
    EXPECT_EQ(vpn_config_text(TargetForm::posix, "/d/", "a\rup x", "10.0.0.1", "1194"), "");
}

TEST(ProvisionText, CurlTransferCodesComeFromItsOwnLinesOnly) {
    EXPECT_EQ(curl_transfer_codes("quietway-transfer 0\ncurl: (78) The file does not exist\n"
                                  "quietway-transfer 78\r\n",
                                  4),
              (std::vector<int>{0, 78}));
    EXPECT_EQ(
        curl_transfer_codes("quietway-transfer 0\nquietway-transfer 0\nquietway-transfer 0", 2),
        (std::vector<int>{0, 0}));
    EXPECT_EQ(
        curl_transfer_codes("quietway-transfer \nquietway-transfer 7x\n x quietway-transfer 1", 4),
        std::vector<int>{});
}

TEST(ProvisionText, CredentialsFileHasOneLineBreakAndNoneAtTheEnd) {
    EXPECT_EQ(auth_text(TargetForm::windows, "alice", "p a\"ss"), "alice\r\np a\"ss");
    EXPECT_EQ(auth_text(TargetForm::posix, "alice", "p a\"ss"), "alice\np a\"ss");
}

TEST(ProvisionText, CurlUserOptionEscapesWhatCurlsParserReads) {
    struct Case {
        const char* user;
        const char* password;
        const char* option;
    } cases[] = {
        {"alice", "secret", "user = \"alice:secret\"\n"},
        {"o\"dd", "a\\b \"c\" $x `id`;&|%", "user = \"o\\\"dd:a\\\\b \\\"c\\\" $x `id`;&|%\"\n"},
        {"u", "line\nbreak\r\ttab", "user = \"u:line\\nbreak\\r\\ttab\"\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(curl_user_option(c.user, c.password), c.option);
}

TEST(ProvisionText, HostText) {
    for (const char* good : {"10.99.0.1", "vpn-1.example.org", "host_2"}) {
        EXPECT_TRUE(is_host_text(good)) << good;
    }
    for (const char* bad : {"", "-oProxyCommand=x", "a b", "h;id", "user@host", "h/x", "h:21"}) {
        EXPECT_FALSE(is_host_text(bad)) << bad;
    }
}

}  // namespace
}  // namespace quietway
