#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/service_host/systemctl.h"
#include "common/service_host/systemd_unit.h"
#include "tests/common/service_host/test_application.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace quietway::testing {

// Runs the test service programs as separate processes. Logs, the application's events, the
// Linux unit directory and systemctl all point into the test's own directory.
class ProcessTest : public ::testing::Test {
protected:
    ProcessTest()
        : log_env_(kLogDirEnv, dir_.str()),
          events_env_(kEventsEnv, events_path()),
          unit_env_(kUnitDirEnv, (dir_ / "units").string()),
          systemctl_env_(kSystemctlEnv, (dir_ / "no-systemctl").string()) {
        std::filesystem::create_directories(dir_ / "units");
    }

    std::string events_path() const { return (dir_ / "events.txt").string(); }
    std::string error_path() const { return (dir_ / "stderr.txt").string(); }

    // The service programs' output goes to one file; on Windows each gets a console of its own
    // for Ctrl+C.
    ChildOptions child_options() const {
        return {.output_file = error_path(), .own_console = true};
    }
    int run(const std::vector<std::string>& args, const char* program = HOST_TEST_ENGINE) {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_child(argv, child_options());
    }

    std::string program_log(const char* file = kServiceLogFile) const {
        return read_file(dir_ / file);
    }
    std::string events() const { return read_file(events_path()); }
    std::string errors() const { return read_file(error_path()); }

    bool wait_for_event(const std::string& event) const {
        return wait_until([&] { return events().find(event + "\n") != std::string::npos; },
                          std::chrono::seconds(20));
    }

    TempDir dir_;
    ScopedEnv log_env_;
    ScopedEnv events_env_;
    ScopedEnv unit_env_;
    ScopedEnv systemctl_env_;
};

inline const char* kFullLifecycle = "constructed\ninit\nrun\nstop seen\ncleanup\ndestroyed\n";
inline const char* kFailedInitLifecycle = "constructed\ninit\ncleanup\ndestroyed\n";

}  // namespace quietway::testing
