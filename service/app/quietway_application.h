#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/service_host/application.h"
#include "firewall/filter_set/wfp_firewall.h"
#include "service/pipe/pipe_server.h"
#include "service/privacy/privacy_observer.h"
#include "service/privacy/privacy_ssh.h"
#include "service/privacy/privacy_vpn.h"
#include "service/privacy/servers_manager.h"
#include "service/rpc/rpc_http_server.h"
#include "service/rpc/rpc_server_observer.h"

namespace quietway {

class FilterPlatform;

// The engine: owns the servers manager, both privacy sessions, the kill switch, the pipe
// server and the control API, and is the one observer all of them report to.
//
// Threads: the host's application thread (init, run, cleanup), the pipe workers, the API's
// workers and the sessions' reader threads. Everything that changes the session or the
// servers manager is serialised by one lock; the reader threads' callbacks never take it, so
// a stop may wait for a reader while holding it.
class QuietwayApplication final : public Application,
                                  public PipeServerObserver,
                                  public RpcServerObserver,
                                  public PrivacyObserver {
public:
    // With `filter_platform` the kill switch works on it instead of the machine's filter
    // (tests); it must outlive the application.
    explicit QuietwayApplication(QuietwayService* host, FilterPlatform* filter_platform = nullptr);
    ~QuietwayApplication() override;

    bool init() override;
    void run() override;
    void cleanup() override;

    bool start_privacy_session();
    bool stop_privacy_session();
    void restart_privacy_session();

    bool on_pipe_command(int command, int& result) override;

    void get_state(PrivacyState& state) override;
    bool set_mode(int32_t mode) override;
    bool select_server(const std::string& id) override;
    bool clear_server(const std::string& id) override;
    bool apply_account(const std::string& user, const std::string& password) override;
    bool start_session() override;
    bool stop_session() override;

    void on_privacy_status(int status) override;
    void on_same_user(bool same_user) override;
    void on_privacy_event(int event) override;

    int32_t privacy_status() const { return privacy_status_.load(); }

private:
    bool start_locked();
    bool vpn_adapter_ready();
    bool stop_locked();
    void restart_locked();
    void run_requested_restart();
    void publish_activated();
    void start_filters_for(const std::string& server_ip);
    void set_active_server_id(const std::string& id);

    // Serialises session and servers-manager changes; never taken by the reader threads.
    std::mutex session_lock_;
    // Guards the active server id and the address the running session was started with.
    std::mutex state_lock_;
    // Serialises status reports, so "previous status" and the filter set change together.
    std::mutex status_lock_;

    std::unique_ptr<PipeServer> pipe_server_;
    std::unique_ptr<RpcHttpServer2> rpc_endpoint_;
    // Declared before the sessions: a session stopping in its destructor still reports to a
    // live kill switch.
    std::unique_ptr<WfpFirewall> firewall_;
    ServersManager servers_manager_;
    PrivacySsh ssh_session_;
    PrivacyVpn vpn_session_;

    std::atomic<int32_t> privacy_status_{kPrivacyStopped};
    std::atomic<int32_t> privacy_mode_{0};
    std::atomic<int32_t> same_user_{0};
    std::string active_server_id_ = "0";
    // The activated server's address when the session started: what the kill switch permits.
    std::string session_server_ip_;
    // The manager's activated number, readable without the session lock (pipe status).
    std::atomic<int32_t> activated_index_{0};
    std::atomic<uint32_t> restart_requested_{0};
    // Event 2 asks for the next server; run() does it, since the reader thread must not.
    std::atomic<uint32_t> change_server_requested_{0};
    // Whether the kill switch was started for the current connection; under status_lock_.
    bool filters_started_ = false;
    bool sockets_started_ = false;
};

}  // namespace quietway
