#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/privacy/privacy_ssh.h"
#include "service/privacy/privacy_vpn.h"

namespace quietway {
namespace {

using Trace = std::vector<std::string>;

struct Recorder final : PrivacyObserver {
    void on_privacy_status(int status) override {
        trace.push_back("status " + std::to_string(status));
    }
    void on_same_user(bool same) override { trace.push_back("same " + std::to_string(same)); }
    void on_privacy_event(int event) override { trace.push_back("event " + std::to_string(event)); }
    Trace trace;
};

struct OutputCase {
    const char* chunk;
    Trace trace;
    bool keeps_running;
};

TEST(PrivacyVpnTest, TokenTableDecidesByTableOrder) {
    const OutputCase cases[] = {
        {"Tue Dec 9 Initialization Sequence Completed\n", {"status 3"}, true},
        {"Initialization Sequence Completed With Errors\n", {"status 1"}, false},
        {"AUTH: Received control message: AUTH_FAILED\nCompleted", {"event 2"}, true},
        {"Options error: Unrecognized option", {"event 2"}, true},
        {"TLS Error: TLS key negotiation failed", {"event 2"}, true},
        {"tls-error", {"event 2"}, true},
        {"TLS_ERROR: BIO read", {"event 2"}, true},
        {"Completed ... fatal error", {"status 1"}, false},
        {"TUN/TAP I/O operation aborted, restarting", {"event 0"}, true},
        {"SIGHUP[soft,tun-abort] received, process restarting", {"event 0"}, true},
        {"Route: Waiting for TUN/TAP interface to come up...", {"event 1"}, true},
        {"SIGUSR1[soft,ping-restart] received", {"same 1"}, true},
        {"auth_failed completed Fatal Error", {}, true},
        {"", {}, true},
    };
    for (const auto& c : cases) {
        Recorder app;
        PrivacyVpn vpn(app);
        EXPECT_EQ(vpn.on_output(c.chunk), c.keeps_running) << c.chunk;
        EXPECT_EQ(app.trace, c.trace) << c.chunk;
    }
}

TEST(PrivacySshTest, TokenTableConnectsOrEnds) {
    const OutputCase cases[] = {
        {"Using username \"u\".\nAccess granted\n", {"status 3"}, true},
        {"Network error: x\nAccess granted", {"status 3"}, true},
        {"PuTTY Link: command-line connection utility\n", {}, false},
        {"Access denied\n", {}, false},
        {"FATAL ERROR: Connection refused", {}, false},
        {"Network error: Connection refused", {}, false},
        {"Connection timed out", {}, false},
        {"access granted; Fatal error", {}, true},
    };
    for (const auto& c : cases) {
        Recorder app;
        PrivacySsh ssh(app);
        EXPECT_EQ(ssh.on_output(c.chunk), c.keeps_running) << c.chunk;
        EXPECT_EQ(app.trace, c.trace) << c.chunk;
    }
}

TEST(PrivacyVpnTest, ConfigurationIsOneArgumentUntilItDoesNotFit) {
#ifdef _WIN32
    const std::string conf = "C:\\Program Data\\Quiet way\\conf\\";
    const std::string tail = "\\vpn_conf.ovpn";
#else
    const std::string conf = "/var/lib/quiet way/conf/";
    const std::string tail = "/vpn_conf.ovpn";
#endif
    std::vector<std::string> args;
    ASSERT_TRUE(vpn_arguments(conf, "12", args));
    EXPECT_EQ(args, (std::vector<std::string>{"--config", conf + "12" + tail}));

    // The written-out line --config "DIRIDTAIL" takes 11 bytes besides the path, plus the
    // terminator: 1023 characters fit a 1024-byte buffer, 1024 do not.
    const size_t room = 1023 - 11 - tail.size() - 2;
    EXPECT_TRUE(vpn_arguments(std::string(room, 'd'), "12", args));
    EXPECT_FALSE(vpn_arguments(std::string(room + 1, 'd'), "12", args));
    EXPECT_TRUE(args.empty());
}

// The argument string as the command line spells it, with the password written out.
size_t written_length(const SshTunnel& t) {
    return std::string("-ssh -P " + t.ssh_port + " -l " + t.user + " -pw " + t.password +
                       " -C -L 50000:127.0.0.1:" + t.remote_port + " -N " + t.address + " -v")
        .size();
}

TEST(PrivacySshTest, ArgumentsKeepOddTextsWholeAndRefuseWhatDoesNotFit) {
    const SshTunnel odd{"22", "odd'user\"q$U`id`;&|x", "p a\"s's $PATH `id`;&|%x\\ 5%", "9050",
                        "vpn.example.net"};
    std::vector<std::string> args;
    ASSERT_TRUE(ssh_arguments(odd, {"-pw", odd.password}, args));
    EXPECT_EQ(args, (std::vector<std::string>{"-ssh", "-P", "22", "-l", odd.user, "-pw",
                                              odd.password, "-C", "-L", "50000:127.0.0.1:9050",
                                              "-N", odd.address, "-v"}));
    ASSERT_TRUE(ssh_arguments(odd, {"-pwfile", "/x/ssh_tunnel.pw"}, args));
    EXPECT_EQ(args[5], "-pwfile");
    EXPECT_EQ(args[6], "/x/ssh_tunnel.pw");

    // The written-out string counts with the real password, whatever option carries it.
    SshTunnel fits = odd;
    fits.password.append(1023 - written_length(odd), 'p');
    ASSERT_EQ(written_length(fits), 1023u);
    EXPECT_TRUE(ssh_arguments(fits, {"-pwfile", "f"}, args));
    SshTunnel too_long = fits;
    too_long.user += 'u';
    EXPECT_FALSE(ssh_arguments(too_long, {"-pwfile", "f"}, args));
    EXPECT_TRUE(args.empty());

    // "-L 50000:127.0.0.1:" is 19 bytes: a remote port text of 236 fills the 256-byte buffer.
    SshTunnel forward = odd;
    forward.remote_port.assign(236, '1');
    EXPECT_TRUE(ssh_arguments(forward, {"-pw", odd.password}, args));
    forward.remote_port += '1';
    EXPECT_FALSE(ssh_arguments(forward, {"-pw", odd.password}, args));
}

}  // namespace
}  // namespace quietway
