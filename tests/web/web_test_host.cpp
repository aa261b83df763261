// The control API endpoint on a private store with a simulated engine, for driving the web
// interface in a real browser: a connection starts, is seen connecting once and is then
// connected; an account applies when its password is "right".
//
// usage: web_test_host DOCUMENT_ROOT PORT RPC_PASSWORD ACCOUNT_GATE
// QUIETWAY_REGISTRY names the store; "apply_account" waits for the file ACCOUNT_GATE.
// Prints "ready" once it serves, and stops when its standard input closes.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/store/notification_store.h"
#include "common/store/server_store.h"
#include "common/store/store.h"
#include "service/rpc/rpc_http_server.h"

namespace quietway {
namespace {

class SimulatedEngine : public RpcServerObserver {
public:
    void get_state(PrivacyState& state) override {
        std::lock_guard<std::mutex> lock(mutex_);
        // A start shows "connecting" to one reader, then completes.
        if (state_.privacy_status == kPrivacyConnecting && ++connecting_reads_ > 1) {
            state_.privacy_status = kPrivacyConnected;
        }
        state = state_;
    }
    bool set_mode(int32_t mode) override {
        if (!set_setting_dword("general", "mode", static_cast<uint32_t>(mode))) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        state_.privacy_mode = mode;
        return true;
    }
    bool select_server(const std::string& id) override {
        ServerRecord server;
        if (!read_server(id, server) || server.status != kServerReady) return false;
        return set_activated(static_cast<uint32_t>(std::stoul(id)));
    }
    bool clear_server(const std::string&) override { return clear_activated(); }
    // Holds until the test creates `gate` (bounded), so that it can see the page while the
    // servers are being prepared; the gate is used up.
    explicit SimulatedEngine(std::string gate) : gate_(std::move(gate)) {}

    bool apply_account(const std::string& user, const std::string& password) override {
        for (int i = 0; i < 600 && !std::filesystem::exists(gate_); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        std::filesystem::remove(gate_);
        set_setting_string("general", "user", user);
        const bool right = password == "right";
        std::vector<std::string> numbers;
        list_reg_subkeys(kServersPath, numbers);
        for (const std::string& number : numbers) {
            set_server_status(number, right ? kServerReady : kServerFailed);
        }
        if (right && !numbers.empty()) set_activated(static_cast<uint32_t>(std::stoul(numbers[0])));
        return right;
    }
    bool start_session() override {
        uint32_t activated = 0;
        if (!read_reg_dword(kServersPath, "activated", activated) || activated == 0) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        state_.privacy_status = kPrivacyConnecting;
        state_.active_server_id = std::to_string(activated);
        connecting_reads_ = 0;
        return true;
    }
    bool stop_session() override {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.privacy_status = kPrivacyStopped;
        state_.active_server_id = "0";
        return true;
    }

    void set_mode_loaded(int32_t mode) { state_.privacy_mode = mode; }

private:
    std::string gate_;
    std::mutex mutex_;
    PrivacyState state_;
    int connecting_reads_ = 0;
};

bool seed(const std::string& root, const std::string& port, const std::string& password) {
    const std::pair<const char*, std::string> http[] = {
        {"access_control_list", "-0.0.0.0/0,+127.0.0.1"},
        {"access_log_file", "unused"},
        {"document_root", root},
        {"enable_directory_listing", "no"},
        {"error_log_file", ""},
        {"rpc_password", password},
        {"rpc_port", "127.0.0.1:" + port},
        {"rpc_user", "webui"},
    };
    const char* http_path = "SOFTWARE\\Quietway2\\http";
    const char* general_path = "SOFTWARE\\Quietway2\\general";
    bool ok = true;
    for (const auto& [name, value] : http) {
        ok = ok && create_reg_string(RootKey::local_machine, http_path, name, value);
    }
    const std::string expires = std::to_string(std::time(nullptr) + 30 * 86400 - 3600);
    ok = ok && create_reg_string(RootKey::local_machine, general_path, "user", "alice") &&
         create_reg_string(RootKey::local_machine, general_path, "account_expires", expires);
    for (const char* name : {"auto_privacy", "use_firewall", "use_change_servers", "mode"}) {
        ok = ok && create_reg_dword(general_path, name, std::string(name) == "mode" ? 2 : 1);
    }
    ok = ok && create_reg_dword(kServersPath, "activated", 2);
    const ServerRecord servers[] = {
        {1, "Amsterdam", "vpn1.example", "10.1.0.1", kServerReady},
        {2, "Berlin", "10.2.0.2", "10.2.0.2", kServerReady},
    };
    for (const ServerRecord& server : servers) ok = ok && create_server(server);
    NotificationRecord note;
    note.id = 1;
    note.title = "Maintenance tonight";
    note.info = "Server Berlin restarts at 02:00 UTC for about ten minutes.";
    note.url = "https://vendor.example/news";
    note.expires = static_cast<int32_t>(std::time(nullptr) + 7 * 86400);
    return ok && create_notification(note);
}

}  // namespace
}  // namespace quietway

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: web_test_host DOCUMENT_ROOT PORT RPC_PASSWORD GATE\n");
        return 2;
    }
    if (!quietway::seed(argv[1], argv[2], argv[3])) {
        std::fprintf(stderr, "seeding the store failed\n");
        return 1;
    }
    quietway::SimulatedEngine engine(argv[4]);
    engine.set_mode_loaded(2);
    quietway::RpcHttpServer2 server(engine);
    if (!server.Start()) {
        std::fprintf(stderr, "the endpoint did not start\n");
        return 1;
    }
    std::cout << "ready" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    server.Stop();
    return 0;
}
