#include "service/privacy/privacy_vpn.h"

#include <iterator>
#include <string_view>

#include "common/log/rotating_log.h"
#include "service/dns/tunnel_dns.h"
#include "service/privacy/provision_platform.h"
#include "service/privacy/servers_manager.h"

namespace quietway {
namespace {

// "Completed With Errors" comes before "Completed": the earliest entry wins.
constexpr std::string_view kTokens[] = {
    "Completed With Errors",
    "Options error:",
    "TLS Error:",
    "tls-error",
    "TLS_ERROR:",
    "AUTH_FAILED",
    "fatal error",
    "TUN/TAP I/O operation aborted, restarting",
    "SIGHUP[soft,tun-abort] received, process restarting",
    "Route: Waiting for TUN/TAP interface to come up...",
    "Completed",
    "SIGUSR1[soft,ping-restart]",
};

constexpr const char* kErrorLine = "Vpn error token found";
constexpr const char* kRecoverableLine =
    "Vpn after error token found. Maybe change server and try again";
constexpr const char* kHibernateLine = "Vpn after hibernate token found";

}  // namespace

bool vpn_arguments(const std::string& conf_dir, const std::string& id,
                   std::vector<std::string>& out) {
    out.clear();
    const std::string path = conf_dir + id + path_separator() + "vpn_conf.ovpn";
    // The length the quoted argument string has on the command line: --config "PATH".
    const size_t length = std::string_view("--config \"\"").size() + path.size();
    if (length >= kVpnArgumentCapacity) return false;
    out = {"--config", path};
    return true;
}

bool PrivacyVpn::start(const ServersManager& manager) {
    observer_.on_privacy_status(kPrivacyConnecting);
    // The earlier run ends here, before the data directory its end restores with is replaced
    // (the bridge's start would end it only afterwards).
    bridge_.stop();
    app_data_ = manager.app_data();
    const std::string program = manager.bin_dir() + program_file("openvpn");
    std::vector<std::string> arguments;
    if (!vpn_arguments(manager.conf_dir(), manager.active_id(), arguments) ||
        !bridge_.start(program, arguments)) {
        observer_.on_privacy_status(kPrivacyStopped);
        return false;
    }
    return true;
}

void PrivacyVpn::on_bridge_failed(int) { observer_.on_privacy_status(kPrivacyStopped); }

bool PrivacyVpn::on_output(const char* text) {
    log_output("Vpn data:", text);
    switch (match_token(text, kTokens)) {
        case 0:
        case 6:
            log(kErrorLine);
            observer_.on_privacy_status(kPrivacyStopped);
            return false;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
            log(kRecoverableLine);
            observer_.on_privacy_event(kPrivacyEventRecoverableError);
            return true;
        case 7:
        case 8:
            log(kHibernateLine);
            observer_.on_privacy_event(kPrivacyEventAdapterRestarted);
            return true;
        case 9:
            log("Vpn Waiting for TUN/TAP interface token found");
            observer_.on_privacy_event(kPrivacyEventWaitingForAdapter);
            return true;
        case 10:
            log("Vpn completed token found");
            observer_.on_privacy_status(kPrivacyConnected);
            return true;
        case 11:
            log("Vpn same user token found");
            observer_.on_same_user(true);
            return true;
        default:
            static_assert(std::size(kTokens) == 12);
            return true;
    }
}

// The client is terminated hard by the bridge; it has no polite close.
void PrivacyVpn::on_child_ending(const ChildProcessInfo&) {}

// The client was ended hard, so its down program did not run: what it replaced on the
// machine's resolver is put back here, once the client is gone.
void PrivacyVpn::on_bridge_finished() {
    restore_tunnel_dns(app_data_);
    observer_.on_privacy_status(kPrivacyStopped);
}

}  // namespace quietway
