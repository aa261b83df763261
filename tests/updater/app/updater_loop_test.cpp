#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/store/store.h"
#include "tests/support/log_capture.h"
#include "tests/support/store_fixture.h"
#include "tests/updater/app/updater_fakes.h"

namespace quietway::testing {
namespace {

using Calls = std::vector<std::string>;

// The loop's operations replaced by recorders, so that only `tick` decides what runs.
class RecordingApp : public QuietwayUpdaterApp {
public:
    using QuietwayUpdaterApp::QuietwayUpdaterApp;
    bool download_on_check = false;
    bool install_sets_installing = true;
    Calls calls;

    void check_update() override {
        calls.push_back("check_update");
        if (download_on_check) update_downloaded_ = true;
    }
    bool sync_servers() override { return record("sync_servers"); }
    bool sync_notifications() override { return record("sync_notifications"); }
    bool sync_account() override { return record("sync_account"); }
    void install_update() override {
        record("install_update");
        if (install_sets_installing) installing_ = true;
    }
    void watchdog() override { record("watchdog"); }

    Calls tick_at(FakeClock& clock, uint32_t now) {
        calls.clear();
        clock.now = now;
        tick();
        return calls;
    }

private:
    bool record(const char* name) {
        calls.push_back(name);
        return true;
    }
};

// The sections exist once the client is installed; writes never create them.
void make_sections() {
    ASSERT_TRUE(create_reg_dword("SOFTWARE\\Quietway2\\app", "privacy_restart", 0));
    ASSERT_TRUE(create_reg_dword("SOFTWARE\\Quietway2\\general", "mode", 0));
}

class UpdaterLoopTest : public StoreTest {
protected:
    void SetUp() override { make_sections(); }

    LogCapture log_{kUpdaterLogFile};
    Fakes fakes_;
};

constexpr uint32_t kStart = 1000000;
const Calls kFirstTick = {"check_update", "watchdog", "sync_notifications", "sync_account"};

TEST_F(UpdaterLoopTest, PeriodsOfTheUpdateCheckWatchdogAndSyncs) {
    RecordingApp app(nullptr, fakes_.seams());
    ASSERT_TRUE(app.init());
    const struct {
        uint32_t at;
        Calls expected;
    } ticks[] = {
        {0, kFirstTick},  // the first update check leaves the server list alone
        {500, {}},
        {1000, {}},
        {1001, {"watchdog"}},
        {30000, {"watchdog"}},
        {30001, {"check_update", "sync_servers"}},
        {60001, {"watchdog", "sync_notifications", "sync_account"}},
        {60002, {"check_update", "sync_servers"}},
    };
    for (const auto& tick : ticks) {
        EXPECT_EQ(app.tick_at(fakes_.clock, kStart + tick.at), tick.expected) << "at " << tick.at;
    }
}

TEST_F(UpdaterLoopTest, InstallEveryTenSecondsOnceDownloadedAndNoWatchdogWhileInstalling) {
    RecordingApp app(nullptr, fakes_.seams());
    ASSERT_TRUE(app.init());
    EXPECT_EQ(app.tick_at(fakes_.clock, kStart), kFirstTick);
    EXPECT_EQ(app.tick_at(fakes_.clock, kStart + 20000), Calls{"watchdog"});
    app.download_on_check = true;
    EXPECT_EQ(app.tick_at(fakes_.clock, kStart + 30001),
              (Calls{"check_update", "sync_servers", "watchdog", "install_update"}));
    EXPECT_EQ(app.tick_at(fakes_.clock, kStart + 40001), Calls{});
    EXPECT_EQ(app.tick_at(fakes_.clock, kStart + 40002), Calls{"install_update"});
}

TEST_F(UpdaterLoopTest, ClockWrapMakesAllFourPeriodsDueInOneTick) {
    RecordingApp app(nullptr, fakes_.seams());
    app.download_on_check = true;
    app.install_sets_installing = false;
    ASSERT_TRUE(app.init());
    // Only the low 28 bits count: 0x3FFFFF00 reads as 0x0FFFFF00, and 0x110 ms later as 0x10.
    EXPECT_EQ(app.tick_at(fakes_.clock, 0x3FFFFF00u).size(), 5u);
    EXPECT_EQ(app.tick_at(fakes_.clock, 0x3FFFFF80u), Calls{});
    EXPECT_EQ(app.tick_at(fakes_.clock, 0x40000010u),
              (Calls{"check_update", "sync_servers", "watchdog", "install_update",
                     "sync_notifications", "sync_account"}));
}

TEST_F(UpdaterLoopTest, InitLogsMissingSettingsStartsTheTrayAndResetsThePrivacyStatus) {
    ASSERT_TRUE(set_setting_dword("app", "auto_update", 1));
    ASSERT_TRUE(set_setting_string("app", "app_dir", "/opt/qw"));
    ASSERT_TRUE(set_setting_dword("app", "privacy_status", 3));
    QuietwayUpdaterApp app(nullptr, fakes_.seams());
    ASSERT_TRUE(app.init());
    EXPECT_TRUE(log_.contains_in_order({"Client autoupdate ON!", "Application version UNKNOWN!!!",
                                        "Update server UNKNOWN!!!", "Account expires UNKNOWN!!!"}));
    EXPECT_EQ(fakes_.processes.calls, Calls{"tray /opt/qw" + std::string(kTrayProgramPath)});
    uint32_t status = 9;
    ASSERT_TRUE(get_setting_dword("app", "privacy_status", status));
    EXPECT_EQ(status, 0u);
}

TEST_F(UpdaterLoopTest, WatchdogStartsAStoppedEngineAndWaitsUntilItRuns) {
    QuietwayUpdaterApp app(nullptr, fakes_.seams());
    ASSERT_TRUE(app.init());
    fakes_.services.state = WatchedState::stopped;
    fakes_.services.pending_queries = 3;
    const uint32_t before = fakes_.clock.now;
    app.watchdog();
    EXPECT_EQ(fakes_.services.queried, "Quietway2");
    EXPECT_EQ(fakes_.services.starts, 1);
    EXPECT_EQ(fakes_.services.state, WatchedState::running);
    EXPECT_EQ(fakes_.clock.now - before, 3u * 200u);
    EXPECT_TRUE(fakes_.processes.calls.empty());  // the tray runs: no second copy

    // A start that never completes is waited for 200 times 200 ms, then the loop goes on.
    fakes_.services.state = WatchedState::stopped;
    fakes_.services.pending_queries = 1000;
    const uint32_t again = fakes_.clock.now;
    app.watchdog();
    EXPECT_EQ(fakes_.clock.now - again, 40000u);
    app.watchdog();  // still pending: not stopped, so not started again
    EXPECT_EQ(fakes_.services.starts, 2);
}

TEST_F(UpdaterLoopTest, WatchdogDoesNotWaitWhenTheStartRequestFails) {
    ASSERT_TRUE(set_setting_string("app", "app_dir", "/opt/qw"));
    QuietwayUpdaterApp app(nullptr, fakes_.seams());
    ASSERT_TRUE(app.init());
    fakes_.processes.calls.clear();
    fakes_.services.state = WatchedState::stopped;
    fakes_.services.start_fails = true;
    fakes_.processes.tray = false;
    const uint32_t before = fakes_.clock.now;
    app.watchdog();
    EXPECT_EQ(fakes_.clock.now, before);
    EXPECT_TRUE(log_.contains("Can't start service Quietway2, error 1060"));
    // The tray check still ran.
    EXPECT_EQ(fakes_.processes.calls, Calls{"tray /opt/qw" + std::string(kTrayProgramPath)});
    EXPECT_TRUE(log_.contains("TrayApp was stopped. Running TrayApp..."));
}

TEST_F(UpdaterLoopTest, FirewallFollowsOnlyChangesIntoConnectedOrStopped) {
    const std::string start = "firewall /opt/qw" + std::string(kFirewallProgramPath);
    const struct {
        const char* name;
        uint32_t mode, use_firewall, restart;
        std::vector<std::pair<uint32_t, Calls>> steps;  // status, then what it causes
    } cases[] = {
        {"openvpn",
         2,
         1,
         0,
         {{3, {"kill firewall", start}},
          {3, {}},
          {2, {}},
          {1, {"kill firewall"}},
          {1, {}},
          {3, {"kill firewall", start}}}},
        {"ssh mode", 1, 1, 0, {{3, {}}, {1, {}}}},
        {"firewall off", 2, 0, 0, {{3, {}}, {1, {}}}},
        {"restarting", 2, 1, 1, {{3, {}}, {1, {}}}},
    };
    for (const auto& c : cases) {
        TempStore store;
        make_sections();
        ASSERT_TRUE(set_setting_string("app", "app_dir", "/opt/qw"));
        ASSERT_TRUE(set_setting_dword("general", "mode", c.mode));
        ASSERT_TRUE(set_setting_dword("general", "use_firewall", c.use_firewall));
        ASSERT_TRUE(set_setting_dword("app", "privacy_restart", c.restart));
        Fakes fakes;
        QuietwayUpdaterApp app(nullptr, fakes.seams());
        ASSERT_TRUE(app.init());
        for (const auto& [status, expected] : c.steps) {
            fakes.processes.calls.clear();
            ASSERT_TRUE(set_setting_dword("app", "privacy_status", status));
            app.check_firewall();
            EXPECT_EQ(fakes.processes.calls, expected) << c.name << " status " << status;
        }
    }
    EXPECT_TRUE(log_.contains("Use firewall = 0"));
}

TEST_F(UpdaterLoopTest, FirewallCheckWithoutUseFirewallKeepsTheLastStatus) {
    ASSERT_TRUE(set_setting_dword("general", "mode", 2));
    ASSERT_TRUE(set_setting_dword("general", "use_firewall", 1));
    QuietwayUpdaterApp app(nullptr, fakes_.seams());
    ASSERT_TRUE(app.init());
    ASSERT_TRUE(set_setting_dword("app", "privacy_status", 3));
    app.check_firewall();
    ASSERT_EQ(fakes_.processes.calls.size(), 2u);
    ASSERT_TRUE(delete_reg_key("SOFTWARE\\Quietway2\\general"));
    ASSERT_TRUE(create_reg_dword("SOFTWARE\\Quietway2\\general", "mode", 2));
    ASSERT_TRUE(set_setting_dword("app", "privacy_status", 1));
    app.check_firewall();
    EXPECT_TRUE(log_.contains("Can't get use firewall"));
    ASSERT_TRUE(set_setting_dword("general", "use_firewall", 1));
    ASSERT_TRUE(set_setting_dword("app", "privacy_status", 3));
    app.check_firewall();  // still "connected" as far as the updater knows
    EXPECT_EQ(fakes_.processes.calls.size(), 2u);
}

TEST_F(UpdaterLoopTest, InstallRefusedWhileATunnelRuns) {
    QuietwayUpdaterApp app(nullptr, fakes_.seams());
    ASSERT_TRUE(app.init());
    app.install_update();
    EXPECT_TRUE(log_.contains_in_order({"Privacy is OFF!", "Update file UNKNOWN!!!"}));
    ASSERT_TRUE(set_setting_string("app", "update_info", "/cache/qw.deb"));
    for (const uint32_t status : {2u, 3u}) {
        ASSERT_TRUE(set_setting_dword("app", "privacy_status", status));
        app.install_update();
    }
    EXPECT_TRUE(fakes_.processes.calls.empty());
    EXPECT_FALSE(app.installing());
    EXPECT_TRUE(log_.contains_in_order({"Privacy is ON! Can't install new version!",
                                        "Privacy is ON! Can't install new version!"}));
}

}  // namespace
}  // namespace quietway::testing
