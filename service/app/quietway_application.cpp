#include "service/app/quietway_application.h"

#include <chrono>
#include <string>
#include <thread>

#include "common/crash/crash_reporter.h"
#include "common/log/rotating_log.h"
#include "common/pipe/pipe_vocabulary.h"
#include "common/privacy/privacy_mode.h"
#include "common/privacy/privacy_status.h"
#include "common/store/store.h"
#include "service/app/app_platform.h"
#include "service/dns/tunnel_dns.h"
#include "service/privacy/proxy_switch.h"

namespace quietway {
namespace {

constexpr auto kPollStep = std::chrono::milliseconds(100);

// A number setting that cannot be read counts as 0.
uint32_t setting_number(const char* section, const char* name) {
    uint32_t value = 0;
    return get_setting_dword(section, name, value) ? value : 0;
}

// The package sets this when an upgrade stops the engine while a tunnel is up: the clean stop
// stores status 1, so without it the upgraded client would stay disconnected.
bool take_upgrade_resume() {
    if (setting_number("app", "privacy_resume") != 1) return false;
    set_setting_dword("app", "privacy_resume", 0);
    log("Privacy was on before the upgrade. Restart privacy.");
    return true;
}

std::unique_ptr<WfpFirewall> make_firewall(FilterPlatform* platform) {
    if (platform != nullptr) return std::make_unique<WfpFirewall>(*platform);
    return std::make_unique<WfpFirewall>();
}

}  // namespace

QuietwayApplication::QuietwayApplication(QuietwayService* host, FilterPlatform* filter_platform)
    : Application(host),
      firewall_(make_firewall(filter_platform)),
      ssh_session_(*this),
      vpn_session_(*this) {
    install_crash_handler(kServiceCrashProduct);
}

// The sessions stop their children in their own destructors; that happens before the kill
// switch goes, so their last status reports still reach it.
QuietwayApplication::~QuietwayApplication() = default;

bool QuietwayApplication::init() {
    if (!start_sockets()) {
        log("init sockets failed");
        return false;
    }
    sockets_started_ = true;
    if (!firewall_->InitFirewall()) {
        log("init firewall failed");
        return false;
    }
    privacy_mode_.store(static_cast<int32_t>(setting_number("general", "mode")));
    {
        std::lock_guard lock(session_lock_);
        const bool loaded = servers_manager_.init();
        publish_activated();
        if (!loaded) {
            log("init servers manager failed");
            return false;
        }
    }
    if (!pipe_server_) {
        pipe_server_ = std::make_unique<PipeServer>(*this);
        if (!pipe_server_->start()) {
            log("start pipe server failed");
            return false;
        }
    }
    if (!rpc_endpoint_) {
        rpc_endpoint_ = std::make_unique<RpcHttpServer2>(*this);
        if (!rpc_endpoint_->Start()) {
            log("start rpc failed");
            return false;
        }
    }
    if (setting_number("general", "auto_tray") == 0) {
        set_setting_dword("general", "auto_tray", 1);
        write_tray_autostart(servers_manager_.app_dir());
    }
    end_leftover_vpn_clients(servers_manager_.conf_dir());
    restore_tunnel_dns(servers_manager_.app_data());
    const uint32_t stored_status = setting_number("app", "privacy_status");
    if (stored_status == kPrivacyConnected) {
        log("Quietway was crashed!!! Restart privacy.");
    } else {
        set_setting_dword("app", "privacy_status", kPrivacyStopped);
    }
    const bool resume = take_upgrade_resume();
    if (setting_number("general", "auto_privacy") == 1 || stored_status == kPrivacyConnected ||
        resume) {
        start_privacy_session();
    }
    if (setting_number("app", "need_update_servers") == 1) {
        std::lock_guard lock(session_lock_);
        servers_manager_.update_servers();
        set_setting_dword("app", "need_update_servers", 0);
    }
    restart_requested_.store(0);
    change_server_requested_.store(0);
    return true;
}

void QuietwayApplication::run() {
    while (!stop_requested()) {
        if (restart_requested_.load() != 0) run_requested_restart();
        std::this_thread::sleep_for(kPollStep);
    }
}

void QuietwayApplication::run_requested_restart() {
    std::lock_guard lock(session_lock_);
    // Taken under the lock: a stop that got it first has cancelled the request.
    if (restart_requested_.exchange(0) == 0) return;
    if (change_server_requested_.exchange(0) != 0) {
        if (!servers_manager_.change_server()) log("Active server can't canged");
        publish_activated();
    }
    restart_locked();
}

void QuietwayApplication::cleanup() {
    if (pipe_server_) {
        pipe_server_->stop();
        pipe_server_.reset();
    }
    if (rpc_endpoint_) {
        // Stop waits for requests in progress, then removes the methods.
        rpc_endpoint_->Stop();
        rpc_endpoint_.reset();
    }
    stop_privacy_session();
    if (sockets_started_) {
        release_sockets();
        sockets_started_ = false;
    }
}

bool QuietwayApplication::start_privacy_session() {
    std::lock_guard lock(session_lock_);
    return start_locked();
}

bool QuietwayApplication::stop_privacy_session() {
    std::lock_guard lock(session_lock_);
    return stop_locked();
}

void QuietwayApplication::restart_privacy_session() {
    std::lock_guard lock(session_lock_);
    restart_locked();
}

bool QuietwayApplication::start_locked() {
    on_same_user(false);
    if (privacy_status_.load() != kPrivacyStopped || servers_manager_.active_index() == 0) {
        return false;
    }
    const ServersManager* server = servers_manager_.active_server();
    if (server == nullptr) return false;
    if (privacy_mode_.load() == kPrivacyModeVpn && !vpn_adapter_ready()) return false;
    {
        std::lock_guard lock(state_lock_);
        active_server_id_ = server->active_id();
        session_server_ip_ = server->ip();
    }
    switch (privacy_mode_.load()) {
        case kPrivacyModeSshProxy:
            return ssh_session_.start(servers_manager_, false);
        case kPrivacyModeSshTor:
            return ssh_session_.start(servers_manager_, true);
        case kPrivacyModeVpn:
            return vpn_session_.start(servers_manager_);
        default:
            return false;
    }
}

// Without a VPN adapter the client would only wait for one: the start is refused with a line
// that says what is missing.
bool QuietwayApplication::vpn_adapter_ready() {
    if (!vpn_client_needs_adapter() || firewall_->HasVpnAdapter()) return true;
    log("No TAP adapter found: OpenVPN cannot connect. Install the TAP-Windows adapter driver "
        "(tap0901) and start privacy again");
    return false;
}

// Stops the session of the current mode. The other session is stopped as well when it still
// runs (the mode was changed while it ran), so a stop never leaves a tunnel behind.
bool QuietwayApplication::stop_locked() {
    set_active_server_id("0");
    same_user_.store(0);
    const int32_t mode = privacy_mode_.load();
    const bool ssh_mode = mode == kPrivacyModeSshProxy || mode == kPrivacyModeSshTor;
    if (ssh_mode || ssh_session_.running()) {
        set_system_proxy("", false);
        ssh_session_.stop();
    }
    if (vpn_session_.running()) vpn_session_.stop();
    // A restart still waiting for the loop would undo this stop. The sessions have ended, so
    // none of their events can ask for one again.
    restart_requested_.store(0);
    change_server_requested_.store(0);
    return ssh_mode || mode == kPrivacyModeVpn;
}

void QuietwayApplication::restart_locked() {
    set_setting_dword("app", "privacy_restart", 1);
    stop_locked();
    // Both runners have ended, so the last status report has been made.
    while (privacy_status_.load() != kPrivacyStopped &&
           (vpn_session_.running() || ssh_session_.running())) {
        std::this_thread::sleep_for(kPollStep);
    }
    start_locked();
    log("privacy status RESTART");
}

bool QuietwayApplication::on_pipe_command(int command, int& result) {
    if (command == kPipeStart) {
        start_privacy_session();
        result = privacy_status_.load();
    } else if (command == kPipeStop) {
        stop_privacy_session();
        result = privacy_status_.load();
    } else if (command > kPipeServerBase && command <= kPipeServerBase + kPipeLastServer) {
        const int number = command - kPipeServerBase;
        select_server(std::to_string(number));
        log("change server to %d", number);
        restart_privacy_session();
        result = kPrivacyConnecting;
    } else {
        const int32_t status = privacy_status_.load();
        result = status;
        if (status == kPrivacyStopped && activated_index_.load() == 0) result = kReplyNoServer;
        if (status == kPrivacyConnected && same_user_.load() != 0) result = kReplySameUser;
    }
    return true;
}

void QuietwayApplication::get_state(PrivacyState& state) {
    state.privacy_status = privacy_status_.load();
    state.privacy_mode = privacy_mode_.load();
    state.same_user = same_user_.load();
    std::lock_guard lock(state_lock_);
    state.active_server_id = active_server_id_;
}

bool QuietwayApplication::set_mode(int32_t mode) {
    std::lock_guard lock(session_lock_);
    if (!set_setting_dword("general", "mode", static_cast<uint32_t>(mode))) return false;
    privacy_mode_.store(mode);
    return true;
}

bool QuietwayApplication::select_server(const std::string& id) {
    std::lock_guard lock(session_lock_);
    const bool selected = servers_manager_.select(id);
    publish_activated();
    return selected;
}

bool QuietwayApplication::clear_server(const std::string&) {
    std::lock_guard lock(session_lock_);
    servers_manager_.clear();
    publish_activated();
    return true;
}

bool QuietwayApplication::apply_account(const std::string& user, const std::string& password) {
    std::lock_guard lock(session_lock_);
    const bool applied = servers_manager_.apply_account(user, password);
    publish_activated();
    return applied;
}

bool QuietwayApplication::start_session() { return start_privacy_session(); }

bool QuietwayApplication::stop_session() { return stop_privacy_session(); }

void QuietwayApplication::on_privacy_status(int status) {
    std::lock_guard lock(status_lock_);
    log("before privacy status %d", status);
    const uint32_t use_firewall = setting_number("general", "use_firewall");
    const int32_t previous = privacy_status_.load();
    if (status == kPrivacyConnected && privacy_mode_.load() == kPrivacyModeVpn &&
        previous != kPrivacyConnected) {
        if (activated_index_.load() != 0 && use_firewall != 0) {
            std::string server_ip;
            {
                std::lock_guard state(state_lock_);
                server_ip = session_server_ip_;
            }
            start_filters_for(server_ip);
        }
        set_setting_dword("app", "privacy_restart", 0);
    } else if (status == kPrivacyStopped) {
        if (privacy_mode_.load() == kPrivacyModeVpn) same_user_.store(0);
        // Whatever the settings or the mode say now, a set started for this connection goes
        // with it: a kill switch left behind would block the machine with no tunnel up.
        if (filters_started_) {
            firewall_->StopFirewall();
            filters_started_ = false;
        }
    }
    privacy_status_.store(status);
    set_setting_dword("app", "privacy_status", static_cast<uint32_t>(status));
    log("after privacy status %d", status);
}

void QuietwayApplication::start_filters_for(const std::string& server_ip) {
    firewall_->AddPermitIP(server_ip.c_str(), 1);
    firewall_->AddPermitIP("127.0.0.1", 0);
    filters_started_ = firewall_->StartFirewall();
}

void QuietwayApplication::on_same_user(bool same_user) { same_user_.store(same_user ? 1 : 0); }

void QuietwayApplication::on_privacy_event(int event) {
    if (event == kPrivacyEventWaitingForAdapter) {
        stop_dhcp_service();
    } else if (event == kPrivacyEventRecoverableError) {
        if (setting_number("general", "use_change_servers") != 0) {
            change_server_requested_.store(1);
        }
        restart_requested_.store(1);
    } else {
        on_privacy_status(kPrivacyConnected);
        end_engine_process();
    }
}

void QuietwayApplication::publish_activated() {
    activated_index_.store(servers_manager_.active_index());
}

void QuietwayApplication::set_active_server_id(const std::string& id) {
    std::lock_guard lock(state_lock_);
    active_server_id_ = id;
}

}  // namespace quietway
