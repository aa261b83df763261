#include "service/privacy/privacy_ssh.h"

#include <string_view>

#include "common/log/rotating_log.h"
#include "service/privacy/provision_platform.h"
#include "service/privacy/proxy_switch.h"
#include "service/privacy/servers_manager.h"

namespace quietway {
namespace {

constexpr std::string_view kTokens[] = {
    "Access granted", "PuTTY Link: command-line connection utility",
    "Access denied",  "FATAL ERROR",
    "Network error",  "Connection timed out",
};

}  // namespace

bool ssh_arguments(const SshTunnel& tunnel, const std::vector<std::string>& password_option,
                   std::vector<std::string>& out) {
    out.clear();
    const std::string forward = std::string(kSshLocalPort) + ":127.0.0.1:" + tunnel.remote_port;
    // "-L " and the forward, as the option reads when written out.
    if (3 + forward.size() >= kSshForwardCapacity) return false;
    // -ssh -P PORT -l USER -pw PASSWORD -C -L FORWARD -N ADDRESS -v
    const size_t length = std::string_view("-ssh -P  -l  -pw  -C -L  -N  -v").size() +
                          tunnel.ssh_port.size() + tunnel.user.size() + tunnel.password.size() +
                          forward.size() + tunnel.address.size();
    if (length >= kSshArgumentCapacity) return false;
    out = {"-ssh", "-P", tunnel.ssh_port, "-l", tunnel.user};
    out.insert(out.end(), password_option.begin(), password_option.end());
    out.insert(out.end(), {"-C", "-L", forward, "-N", tunnel.address, "-v"});
    return true;
}

PrivacySsh::~PrivacySsh() {
    // The bridge's own destructor would stop it only after this object is gone.
    bridge_.stop();
    release_password();
}

bool PrivacySsh::start(const ServersManager& manager, bool tor) {
    observer_.on_privacy_status(kPrivacyConnecting);
    // An earlier run removes its password file as it ends: end it before writing a new one.
    bridge_.stop();
    const std::string program = manager.bin_dir() + program_file("plink");
    const SshTunnel tunnel{manager.ssh_port(), manager.user(), manager.password(),
                           tor ? manager.tor_port() : manager.proxy_port(), manager.address()};
    std::vector<std::string> arguments;
    // Checked with a stand-in first, so that a password that does not fit is never written.
    bool ok = ssh_arguments(tunnel, {"-pw", tunnel.password}, arguments);
    std::vector<std::string> option;
    ok = ok && ssh_password_option(manager.server_dir(manager.active_id()), tunnel.password, option,
                                   password_file_);
    ok = ok && ssh_arguments(tunnel, option, arguments);
    if (ok) {
        set_system_proxy(kSshLocalPort, true);
        ok = bridge_.start(program, arguments);
    }
    if (!ok) {
        release_password();
        observer_.on_privacy_status(kPrivacyStopped);
    }
    return ok;
}

void PrivacySsh::release_password() {
    remove_password_file(password_file_);
    password_file_.clear();
}

void PrivacySsh::on_bridge_failed(int) {
    release_password();
    observer_.on_privacy_status(kPrivacyStopped);
}

bool PrivacySsh::on_output(const char* text) {
    log_output("Ssh data:", text);
    const size_t token = match_token(text, kTokens);
    if (token == 0) {
        log("Ssh connected token found");
        observer_.on_privacy_status(kPrivacyConnected);
        return true;
    }
    if (token < std::size(kTokens)) {
        log("Ssh error token found");
        return false;
    }
    return true;
}

void PrivacySsh::on_child_ending(const ChildProcessInfo& child) { ask_child_to_close(child); }

void PrivacySsh::on_bridge_finished() {
    release_password();
    observer_.on_privacy_status(kPrivacyStopped);
}

}  // namespace quietway
