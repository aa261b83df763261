// The engine's application core with its real sessions, pipe server and control API, the VPN
// client replaced by a scripted stand-in and the packet filter by a recording one.
#include "service/app/quietway_application.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/store/server_store.h"
#include "common/store/store.h"
#include "tests/firewall/support/recording_filter_platform.h"
#include "tests/service/rpc/raw_http_client.h"
#include "tests/service/rpc/rpc_test_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/store_fixture.h"

namespace quietway::testing {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kVpnProgram = "openvpn.exe";
constexpr char kSep = '\\';
#else
constexpr const char* kVpnProgram = "openvpn";
constexpr char kSep = '/';
#endif

constexpr const char* kApp = "SOFTWARE\\Quietway2\\app";
constexpr const char* kGeneral = "SOFTWARE\\Quietway2\\general";
constexpr const char* kConf = "SOFTWARE\\Quietway2\\conf";
constexpr const char* kServers = "SOFTWARE\\Quietway2\\servers";
constexpr const char* kConnects = "out:Initialization Sequence Completed|hang";

uint32_t stored(const char* path, const char* name) {
    uint32_t value = 0;
    return read_reg_dword(path, name, value) ? value : 0xffffffffu;
}

class EngineTest : public StoreTest {
protected:
    EngineTest() {
        fs::create_directories(app_dir_ / "bin");
        fs::copy_file(QUIETWAY_TUNNEL_STANDIN, app_dir_ / "bin" / kVpnProgram);
        platform_.adapters = {42};
        seed();
    }

    // A ready list of three servers, the first activated, OpenVPN mode with the kill switch.
    void seed() {
        create_reg_string(RootKey::local_machine, kApp, "app_dir", app_dir_.str());
        create_reg_string(RootKey::local_machine, kApp, "app_data", data_dir_.str());
        for (const char* name : {"privacy_status", "privacy_restart", "need_update_servers"}) {
            create_reg_dword(kApp, name, 0);
        }
        const std::pair<const char*, uint32_t> general[] = {
            {"mode", 2},         {"auto_privacy", 0},       {"auto_tray", 1},
            {"use_firewall", 1}, {"use_change_servers", 1},
        };
        for (const auto& [name, value] : general) create_reg_dword(kGeneral, name, value);
        create_reg_string(RootKey::local_machine, kGeneral, "user", "user1");
        create_reg_string(RootKey::local_machine, kGeneral, "password", "secret");
        for (const char* port : {"ftp_port", "vpn_port", "proxy_port", "ssh_port", "tor_port"}) {
            create_reg_string(RootKey::local_machine, kConf, port, "1");
        }
        create_reg_dword(kServers, "last_index", 3);
        create_reg_dword(kServers, "activated", 1);
        for (int32_t id = 1; id <= 3; ++id) {
            const std::string ip = "10.77.0." + std::to_string(id);
            create_server(ServerRecord{id, "server " + std::to_string(id), ip, ip, kServerReady});
        }
        seed_http_settings(free_loopback_port(), app_dir_.str());
        std::error_code ignored;
        fs::remove(runs_file_.path() / "runs", ignored);
    }

    void use_scripts(const std::string& first, const std::string& later = "") {
        scripts_.clear();
        scripts_.push_back(std::make_unique<ScopedEnv>("QUIETWAY_STANDIN_FIRST", first));
        scripts_.push_back(
            std::make_unique<ScopedEnv>("QUIETWAY_STANDIN_LATER", later.empty() ? first : later));
    }

    std::unique_ptr<QuietwayApplication> make_app() {
        return std::make_unique<QuietwayApplication>(nullptr, &platform_);
    }

    // The stand-in's runs so far, one line of arguments each.
    std::vector<std::string> runs() const {
        std::istringstream lines(read_file(runs_file_.path() / "runs"));
        std::vector<std::string> out;
        for (std::string line; std::getline(lines, line);) out.push_back(line);
        return out;
    }

    size_t commits() const {
        size_t count = 0;
        for (const PlatformCall& call : platform_.calls)
            count += call.kind == PlatformCall::Kind::commit;
        return count;
    }

    static std::string config_of(int id) {
        return std::string(1, kSep) + std::to_string(id) + kSep + "vpn_conf.ovpn";
    }

    TempDir app_dir_;
    TempDir data_dir_;
    TempDir runs_file_;
    TempDir autostart_dir_;
    LogCapture log_{kServiceLogFile};
    ScopedEnv pipe_{"QUIETWAY_PIPE", (runs_file_.path() / "qwaypipe").string()};
    ScopedEnv autostart_{"QUIETWAY_AUTOSTART_DIR", autostart_dir_.str()};
    ScopedEnv runs_env_{"QUIETWAY_STANDIN_LOG", (runs_file_.path() / "runs").string()};
    std::vector<std::unique_ptr<ScopedEnv>> scripts_;
    // Read by the test only while no session runs: the reader thread writes it.
    RecordingFilterPlatform platform_;
};

TEST_F(EngineTest, InitStopsAtTheFirstFailingStepWithItsLine) {
    struct Case {
        const char* broken;
        const char* line;
    } const cases[] = {
        {"app", "init firewall failed"},
        {"conf", "init servers manager failed"},
        {"http", "start rpc failed"},
    };
    use_scripts(kConnects);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.broken);
        seed();
        create_reg_dword(kApp, "privacy_status", 3);
        const std::string broken = c.broken;
        if (broken == "http") {
            create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\http", "rpc_port",
                              "not-a-port");
        } else {
            delete_reg_key(("SOFTWARE\\Quietway2\\" + broken).c_str());
        }
        LogCapture log(kServiceLogFile);
        auto app = make_app();
        EXPECT_FALSE(app->init());
        app->cleanup();
        for (const Case& other : cases) {
            EXPECT_EQ(log.contains(other.line), &other == &c) << other.line;
        }
        EXPECT_FALSE(log.contains("Quietway was crashed!!! Restart privacy."));
        EXPECT_TRUE(runs().empty());
    }
}

TEST_F(EngineTest, ACrashedSessionComesBackWithOneKillSwitchPerConnection) {
    create_reg_dword(kApp, "privacy_status", 3);
    // Two completion lines: the second report of "connected" must not start a second set.
    use_scripts(
        "out:Initialization Sequence Completed|sleep:900|out:Initialization Sequence "
        "Completed|hang");
    auto app = make_app();
    ASSERT_TRUE(app->init());
    EXPECT_TRUE(log_.contains("Quietway was crashed!!! Restart privacy."));
    ASSERT_TRUE(wait_until([&] { return log_.count("Vpn completed token found") == 2; }));
    EXPECT_EQ(app->privacy_status(), kPrivacyConnected);
    EXPECT_EQ(stored(kApp, "privacy_status"), 3u);
    ASSERT_EQ(runs().size(), 1u);
    EXPECT_NE(runs()[0].find(config_of(1)), std::string::npos) << runs()[0];

    EXPECT_TRUE(app->stop_privacy_session());
    EXPECT_EQ(app->privacy_status(), kPrivacyStopped);
    EXPECT_EQ(stored(kApp, "privacy_status"), 1u);
    EXPECT_EQ(commits(), 1u);
    EXPECT_FALSE(platform_.engine_is_open) << "the kill switch outlived the tunnel";
    EXPECT_TRUE(log_.contains_in_order(
        {"before privacy status 3", "after privacy status 3", "before privacy status 1"}));
    app->cleanup();
}

TEST_F(EngineTest, AFailedKillSwitchIsStartedAgainByTheNextConnection) {
    use_scripts(kConnects);
    auto app = make_app();
    ASSERT_TRUE(app->init());
    for (const uint32_t commit_status : {5u, 0u}) {
        app->stop_session();
        platform_.commit_status = commit_status;  // while no session runs
        ASSERT_TRUE(app->start_session() &&
                    wait_until([&] { return app->privacy_status() == kPrivacyConnected; }));
    }
    EXPECT_EQ(platform_.live_filters.size(), 8u) << "2 block, 2 adapter, 2 range, 2 permits";
    app->cleanup();
}

// Without an adapter the Windows client is not started; the Linux client makes its own device.
TEST_F(EngineTest, AnOpenVpnStartWithoutAdapterSaysWhatIsMissingWhereTheClientNeedsOne) {
#ifdef _WIN32
    const bool needs_adapter = true;
#else
    const bool needs_adapter = false;
#endif
    use_scripts(kConnects);
    platform_.adapters.clear();
    auto app = make_app();
    ASSERT_TRUE(app->init());
    EXPECT_EQ(app->start_session(), !needs_adapter);
    EXPECT_EQ(log_.contains("No TAP adapter found: OpenVPN cannot connect."), needs_adapter);
    EXPECT_TRUE(needs_adapter || wait_until([&] { return !runs().empty(); }));
    EXPECT_EQ(runs().empty(), needs_adapter);
    app->cleanup();
}

// An upgrade that stopped a running tunnel sets privacy_resume, since its clean stop stored
// status 1: the next engine connects once and clears it.
TEST_F(EngineTest, AnInterruptedStartResumesOnlyWithAutoPrivacyOrAfterAnUpgrade) {
    use_scripts(kConnects);
    for (const auto& [auto_privacy, resume] : {std::pair{0u, 0u}, {1u, 0u}, {0u, 1u}}) {
        SCOPED_TRACE(auto_privacy * 10 + resume);
        seed();
        create_reg_dword(kApp, "privacy_status", 2);
        create_reg_dword(kGeneral, "auto_privacy", auto_privacy);
        create_reg_dword(kApp, "privacy_resume", resume);
        const uint32_t starts = auto_privacy | resume;
        auto app = make_app();
        ASSERT_TRUE(app->init());
        // A start reports "connecting" before init returns.
        EXPECT_EQ(app->privacy_status(), starts == 1 ? kPrivacyConnecting : kPrivacyStopped);
        EXPECT_EQ(stored(kApp, "privacy_resume"), 0u);
        if (starts == 0) {
            EXPECT_EQ(stored(kApp, "privacy_status"), 1u);
        }
        app->cleanup();
        EXPECT_EQ(runs().size(), starts);
    }
}

#ifdef _WIN32
constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
#endif

TEST_F(EngineTest, TheTrayAutostartEntryIsWrittenOnce) {
#ifdef _WIN32
    const auto entry = [] {
        std::string value;
        return read_reg_string(kRunKey, "QuietwayTray", value) ? value : std::string();
    };
    const auto remove_entry = [] { write_reg_string(kRunKey, "QuietwayTray", ""); };
    const std::string expected = app_dir_.str() + "\\bin\\quietway_tray.exe";
#else
    const fs::path file = autostart_dir_.path() / "quietway-tray.desktop";
    const auto entry = [&] { return read_file(file); };
    const auto remove_entry = [&] { fs::remove(file); };
    const std::string expected = "Exec=\"" + app_dir_.str() + "/bin/quietway_tray\"\n";
#endif
    remove_entry();
    create_reg_dword(kGeneral, "auto_tray", 0);
    for (int start = 0; start < 2; ++start) {
        auto app = make_app();
        ASSERT_TRUE(app->init());
        app->cleanup();
        EXPECT_EQ(stored(kGeneral, "auto_tray"), 1u);
        if (start == 0) {
            EXPECT_NE(entry().find(expected), std::string::npos) << entry();
            remove_entry();
        } else {
            EXPECT_EQ(entry(), "") << "written again after the user removed it";
        }
    }
}

TEST_F(EngineTest, PipeCommandsAnswerAsTheTrayExpects) {
    clear_activated();
    use_scripts(
        "out:Initialization Sequence Completed|sleep:500|out:SIGUSR1[soft,ping-restart]|hang");
    auto app = make_app();
    ASSERT_TRUE(app->init());
    int reply = 0;
    ASSERT_TRUE(app->on_pipe_command(3, reply));
    EXPECT_EQ(reply, 5) << "stopped without a server";
    EXPECT_TRUE(app->on_pipe_command(1002, reply));
    EXPECT_EQ(reply, 2);
    EXPECT_TRUE(log_.contains("change server to 2"));
    ASSERT_TRUE(wait_until([&] { return app->on_pipe_command(3, reply) && reply == 6; }))
        << "connected, account in use elsewhere: " << reply;
    PrivacyState state;
    app->get_state(state);
    EXPECT_EQ(state.active_server_id, "2");
    ASSERT_EQ(runs().size(), 1u);
    EXPECT_NE(runs()[0].find(config_of(2)), std::string::npos) << runs()[0];
    EXPECT_TRUE(app->on_pipe_command(2, reply));
    EXPECT_EQ(reply, 1);
    app->get_state(state);
    EXPECT_EQ(state.active_server_id, "0");
    app->cleanup();
}

TEST_F(EngineTest, ARecoverableErrorRestartsOnTheNextServerOrTheSameOne) {
    use_scripts("out:TLS Error: handshake failed|hang", kConnects);
    for (const uint32_t change : {1u, 0u}) {
        SCOPED_TRACE(change);
        seed();
        create_reg_dword(kGeneral, "use_change_servers", change);
        create_reg_dword(kGeneral, "auto_privacy", 1);
        auto app = make_app();
        ASSERT_TRUE(app->init());
        std::thread loop([&] { app->run(); });
        const bool restarted = wait_until(
            [&] { return runs().size() == 2 && app->privacy_status() == kPrivacyConnected; });
        app->request_stop();
        loop.join();
        app->cleanup();
        ASSERT_TRUE(restarted) << runs().size();
        EXPECT_NE(runs()[1].find(config_of(change == 1 ? 2 : 1)), std::string::npos) << runs()[1];
        EXPECT_TRUE(log_.contains("privacy status RESTART"));
    }
}

TEST_F(EngineTest, AStopCancelsAPendingRestartWithItsChangeOfServer) {
    use_scripts(kConnects);
    auto app = make_app();
    ASSERT_TRUE(app->init() && app->start_session() &&
                wait_until([&] { return app->privacy_status() == kPrivacyConnected; }));
    app->on_privacy_event(kPrivacyEventRecoverableError);  // use_change_servers is 1
    app->stop_session();
    create_reg_dword(kGeneral, "use_change_servers", 0);
    std::thread loop([&] { app->run(); });
    app->on_privacy_event(kPrivacyEventRecoverableError);  // a restart on the same server
    EXPECT_TRUE(wait_until([&] { return runs().size() == 2; }));
    app->request_stop();
    loop.join();
    app->cleanup();
    EXPECT_NE(runs().back().find(config_of(1)), std::string::npos) << runs().back();
}

TEST_F(EngineTest, SimultaneousStartsMakeOneTunnel) {
    use_scripts(kConnects);
    auto app = make_app();
    ASSERT_TRUE(app->init());
    for (size_t round = 1; round <= 6; ++round) {
        std::atomic<int> started{0};
        std::vector<std::thread> callers;
        for (int i = 0; i < 2; ++i) {
            callers.emplace_back([&] { started += app->start_session() ? 1 : 0; });
        }
        for (std::thread& caller : callers) caller.join();
        EXPECT_EQ(started.load(), 1);
        EXPECT_TRUE(wait_until([&] { return app->privacy_status() == kPrivacyConnected; }));
        EXPECT_EQ(runs().size(), round);
        app->stop_session();
    }
    app->cleanup();
}

}  // namespace
}  // namespace quietway::testing
