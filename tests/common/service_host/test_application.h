#pragma once

#include <memory>
#include <string>

#include "common/service_host/application.h"

namespace quietway::testing {

// Environment of the test application. Under the Windows service manager the environment is
// not inherited, so the program also reads "<program>.cfg" (NAME=VALUE lines) when the
// events variable is not set.
inline constexpr const char* kEventsEnv = "HOST_TEST_EVENTS";  // file of lifecycle lines
inline constexpr const char* kInitEnv = "HOST_TEST_INIT";      // "fail": init fails
inline constexpr const char* kCleanupDelayEnv = "HOST_TEST_CLEANUP_DELAY_MS";
inline constexpr const char* kDestroyDelayEnv = "HOST_TEST_DESTROY_DELAY_MS";

// An application that records its lifecycle, one line per step, in the events file:
// "constructed", "init", "run", "stop seen", "cleanup", "destroyed".
class TestApplication : public Application {
public:
    explicit TestApplication(QuietwayService* host);
    ~TestApplication() override;

    bool init() override;
    void cleanup() override;
    void run() override;

private:
    void record(const char* event) const;

    std::string events_path_;
    bool init_fails_;
    int cleanup_delay_ms_;
    int destroy_delay_ms_;
};

std::unique_ptr<Application> make_test_application(QuietwayService& host);

// Applies "<program>.cfg" to the environment when the events variable is missing.
void load_program_config(const char* program_path);

}  // namespace quietway::testing
