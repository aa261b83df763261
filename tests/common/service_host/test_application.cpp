#include "tests/common/service_host/test_application.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/service_host/quietway_service.h"
#include "tests/support/test_support.h"

namespace quietway::testing {
namespace {

std::string env_text(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

int env_number(const char* name) { return std::atoi(env_text(name).c_str()); }

// Settings read from the program's configuration file, kept for the life of the process.
std::vector<std::unique_ptr<ScopedEnv>>& config_environment() {
    static std::vector<std::unique_ptr<ScopedEnv>> entries;
    return entries;
}

}  // namespace

TestApplication::TestApplication(QuietwayService* host)
    : Application(host),
      events_path_(env_text(kEventsEnv)),
      init_fails_(env_text(kInitEnv) == "fail"),
      cleanup_delay_ms_(env_number(kCleanupDelayEnv)),
      destroy_delay_ms_(env_number(kDestroyDelayEnv)) {
    record("constructed");
}

TestApplication::~TestApplication() {
    std::this_thread::sleep_for(std::chrono::milliseconds(destroy_delay_ms_));
    record("destroyed");
}

bool TestApplication::init() {
    record("init");
    return !init_fails_;
}

void TestApplication::run() {
    record("run");
    while (!stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    record("stop seen");
}

void TestApplication::cleanup() {
    std::this_thread::sleep_for(std::chrono::milliseconds(cleanup_delay_ms_));
    record("cleanup");
}

void TestApplication::record(const char* event) const {
    if (events_path_.empty()) return;
    std::FILE* file = std::fopen(events_path_.c_str(), "ab");
    if (file == nullptr) return;
    std::fprintf(file, "%s\n", event);
    std::fclose(file);
}

std::unique_ptr<Application> make_test_application(QuietwayService& host) {
    return std::make_unique<TestApplication>(&host);
}

void load_program_config(const char* program_path) {
    if (program_path == nullptr || std::getenv(kEventsEnv) != nullptr) return;
    std::ifstream config(std::string(program_path) + ".cfg");
    std::string line;
    while (std::getline(config, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0) continue;
        const std::string name = line.substr(0, equals);
        config_environment().push_back(
            std::make_unique<ScopedEnv>(name.c_str(), line.substr(equals + 1)));
    }
}

}  // namespace quietway::testing
