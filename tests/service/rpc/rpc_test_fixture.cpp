#include "tests/service/rpc/rpc_test_fixture.h"

#include "common/log/rotating_log.h"
#include "common/store/server_store.h"
#include "common/store/store.h"
#include "common/store/store_admin.h"

namespace quietway::testing {

void FakeEngine::get_state(PrivacyState& state) {
    ++get_state_calls;
    if (on_get_state) on_get_state();
    std::lock_guard<std::mutex> lock(mutex_);
    state = state_;
}

bool FakeEngine::set_mode(int32_t mode) {
    record("mode " + std::to_string(mode));
    return mode_result;
}

bool FakeEngine::select_server(const std::string& id) {
    record("select " + id);
    ServerRecord server;
    if (!read_server(id, server) || server.status != kServerReady) return false;
    return set_activated(static_cast<uint32_t>(std::stoul(id)));
}

bool FakeEngine::clear_server(const std::string& id) {
    record("clear " + id);
    clear_activated();
    return true;
}

bool FakeEngine::apply_account(const std::string& user, const std::string& password) {
    record("account " + user + " " + password);
    return account_result;
}

bool FakeEngine::start_session() {
    record("start");
    return start_result;
}

bool FakeEngine::stop_session() {
    record("stop");
    return stop_result;
}

void FakeEngine::set_state(int32_t status, int32_t mode, int32_t same_user,
                           const std::string& active_id) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.privacy_status = status;
    state_.privacy_mode = mode;
    state_.same_user = same_user;
    state_.active_server_id = active_id;
}

std::vector<std::string> FakeEngine::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

void FakeEngine::record(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
}

void seed_http_settings(uint16_t port, const std::string& document_root,
                        const HttpSettingsSeed& seed) {
    const std::pair<const char*, std::string> values[] = {
        {"access_control_list", seed.access_control_list},
        {"access_log_file", "unused-access.log"},
        {"document_root", document_root},
        {"enable_directory_listing", "no"},
        {"error_log_file",
         (std::filesystem::path(document_root).parent_path() / "error.log").string()},
        {"rpc_password", seed.password},
        {"rpc_port", "127.0.0.1:" + std::to_string(port)},
        {"rpc_user", seed.user},
    };
    for (const auto& [name, value] : values) {
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, kHttpPath, name, value)) << name;
    }
}

std::unique_ptr<RpcHttpServer2> start_endpoint(RpcServerObserver& observer,
                                               const std::string& document_root, uint16_t& port,
                                               const HttpSettingsSeed& seed) {
    // Another process may take the port between the probe and the start: try again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port = free_loopback_port();
        if (port == 0) continue;
        seed_http_settings(port, document_root, seed);
        auto server = std::make_unique<RpcHttpServer2>(observer);
        if (server->Start()) return server;
    }
    return nullptr;
}

std::string post_request(const std::string& path, const std::string& headers,
                         const std::string& body) {
    return "POST " + path + " HTTP/1.1\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string api_reply(const std::string& json) { return "HTTP/1.1 200 OK\r\n\r\n " + json + "\n"; }

void EndpointTest::SetUp() {
    const auto root = sandbox_.dir() / "www";
    std::filesystem::create_directories(root);
    write_file(root / "index.html", "<html>control panel</html>");
    server_ = start_endpoint(engine_, root.string(), port_, seed_);
    ASSERT_NE(server_, nullptr) << "the endpoint did not start";
}

void EndpointTest::TearDown() {
    if (server_) server_->Stop();
    server_.reset();
}

std::string EndpointTest::good_headers() const {
    return "Host: 127.0.0.1:" + std::to_string(port_) +
           "\r\nAuthorization: " + seed_.authorization + "\r\n";
}

RawReply EndpointTest::send(const std::string& request) { return raw_exchange(port_, request); }

std::string EndpointTest::call(const std::string& body) {
    const RawReply reply = send(post_request("/", good_headers(), body));
    EXPECT_TRUE(reply.connected);
    EXPECT_TRUE(reply.closed_by_server) << "the server kept the connection open";
    return reply.bytes;
}

}  // namespace quietway::testing
