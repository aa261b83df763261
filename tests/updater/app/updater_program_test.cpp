// quietway_updater as a process in the foreground: its names, its loop's first watchdog run
// through the platform's real service manager, where the engine is not installed, and its stop.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "common/log/rotating_log.h"
#include "common/net/download_dir.h"
#include "common/store/store.h"
#include "tests/support/child_process.h"
#include "tests/support/store_fixture.h"

namespace quietway::testing {
namespace {

#ifdef _WIN32
// OpenServiceA's answer for a service that is not installed.
constexpr const char* kStartFailure = "Can't start service Quietway2, error 1060";
#else
constexpr const char* kStartFailure = "Can't start service Quietway2, error 5";

// Plays systemctl for a system without the engine's unit: "not found" on start.
void write_systemctl(const std::filesystem::path& script, const std::filesystem::path& calls) {
    write_file(script, "#!/bin/sh\necho \"$*\" >> '" + calls.string() +
                           "'\ncase \"$1\" in is-active) echo inactive; exit 3;; "
                           "start) exit 5;; esac\nexit 1\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
}
#endif

TEST(UpdaterProgramTest, ForegroundRunWatchesTheEngineAndStopsOnRequest) {
    TempStore store;
    TempDir logs;
    ScopedEnv log_dir(kLogDirEnv, logs.str());
    const char* app = "SOFTWARE\\Quietway2\\app";
    // Nothing the loop fetches may reach a real server: a port nobody listens on.
    for (const char* name : {"servers_list_url", "notification_get_url", "expiration_url"}) {
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, app, name, "http://127.0.0.1:9/"));
    }
#ifndef _WIN32
    ScopedEnv downloads(kDownloadDirEnv, (logs / "downloads").string());
    write_systemctl(logs / "systemctl", logs / "calls");
    ScopedEnv systemctl("QUIETWAY_SYSTEMCTL", (logs / "systemctl").string());
#endif
    ChildProcess child;
    ASSERT_TRUE(child.start({QUIETWAY_UPDATER_PATH, "-f"},
                            {.output_file = (logs / "out.txt").string(), .own_console = true}));
    const auto log = [&] { return read_file(logs / "QuietwayUpdaterService.log"); };
    EXPECT_TRUE(wait_until([&] { return log().find(kStartFailure) != std::string::npos; },
                           std::chrono::seconds(60)))
        << log();
    ASSERT_TRUE(child.request_stop());
    EXPECT_EQ(child.wait(std::chrono::seconds(30)), 1);
    const std::string text = log();
    const size_t running = text.find("Quietway Update Service running");
    EXPECT_NE(running, std::string::npos) << text;
    EXPECT_LT(running, text.find(kStartFailure));
    EXPECT_NE(text.find("Update server UNKNOWN!!!"), std::string::npos);
    EXPECT_NE(text.find("Quietway Update Service terminated"), std::string::npos);
    uint32_t status = 9;
    EXPECT_TRUE(get_setting_dword("app", "privacy_status", status));
    EXPECT_EQ(status, 0u);
#ifndef _WIN32
    EXPECT_NE(read_file(logs / "calls").find("start Quietway2.service"), std::string::npos);
#endif
}

}  // namespace
}  // namespace quietway::testing
