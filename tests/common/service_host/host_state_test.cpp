// The host's states, status reports and application thread, driven in-process in the
// foreground mode, where every status report is a line of the program's log.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/service_host/error_text.h"
#include "common/service_host/quietway_service.h"
#include "tests/support/log_capture.h"

namespace quietway {
namespace {

using testing::ScopedEnv;
using testing::wait_until;

std::atomic<bool> g_init_result{true};
std::atomic<bool> g_hold_factory{false};
std::atomic<bool> g_factory_entered{false};

// Writes its lifecycle into the program's log, so that one file shows the order of the
// application's steps and the host's reports.
class LoggingApplication : public Application {
public:
    explicit LoggingApplication(QuietwayService* host) : Application(host) {
        log("app constructed");
    }
    ~LoggingApplication() override {
        log(host()->stop_event_signalled() ? "app destroyed after signal" : "app destroyed");
    }
    bool init() override {
        log("app init");
        return g_init_result.load();
    }
    void cleanup() override { log("app cleanup"); }
    void run() override {
        log("app run");
        while (!stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        log("app stop seen");
    }
};

std::unique_ptr<Application> make_logging_application(QuietwayService& host) {
    g_factory_entered.store(true);
    while (g_hold_factory.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return std::make_unique<LoggingApplication>(&host);
}

struct RecordedEvent {
    std::string message;
    uint16_t type;
    int id;
};

class RecordingHost : public QuietwayService {
public:
    explicit RecordingHost(const ServiceNames& names = kEngineServiceNames)
        : QuietwayService(names, make_logging_application) {}

    void log_event(const char* message, uint16_t type, int32_t id) override {
        {
            std::lock_guard<std::mutex> lock(lock_);
            events_.push_back({message, type, event_id_for(type, id)});
        }
        CNTService::log_event(message, type, id);
    }

    std::vector<RecordedEvent> events() {
        std::lock_guard<std::mutex> lock(lock_);
        return events_;
    }

    bool fail_thread = false;

protected:
    bool create_application_thread(uint32_t& error) override {
        if (!fail_thread) return QuietwayService::create_application_thread(error);
        error = 0xB;
        return false;
    }

private:
    std::mutex lock_;
    std::vector<RecordedEvent> events_;
};

class HostStateTest : public ::testing::Test {
protected:
    HostStateTest() {
        g_init_result.store(true);
        g_hold_factory.store(false);
        g_factory_entered.store(false);
    }

    std::string log_text() const { return log_.text(); }
    bool logged(const std::string& text) const { return log_.contains(text); }

    // Lines of the log without their time stamps.
    std::vector<std::string> messages() const {
        std::vector<std::string> lines;
        const std::string text = log_text();
        const std::regex line(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} \d{3} ([^\r]*)\r\n)");
        for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) {
            lines.push_back((*it)[1]);
        }
        return lines;
    }

    std::future<int> run_in_background(RecordingHost& host) {
        return std::async(std::launch::async, [&host] { return host.run_foreground(); });
    }

    testing::LogCapture log_{"Host.log"};
};

TEST_F(HostStateTest, RunAndStopReportTheStatesInOrderAndEndAfterDestruction) {
    RecordingHost host;
    std::future<int> result = run_in_background(host);
    ASSERT_TRUE(wait_until([&] { return logged("app run"); }));
    host.control_handler(kControlStop);
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(result.get(), 1);

    const std::vector<std::string> expected{
        "service logged under account " + host.account_name(),
        "service status start pending, controls accepted 0, check point 1, wait hint 3000 ms",
        "service status start pending, controls accepted 0, check point 2, wait hint 3000 ms",
        "service status running, controls accepted 1, check point 0, wait hint 3000 ms",
        "app constructed",
        "app init",
        "Quietway2 Service running",
        "app run",
        "service status stop pending, controls accepted 1, check point 3, wait hint 11000 ms",
        "app stop seen",
        "app cleanup",
        "app destroyed",
        "Quietway2 Service terminated",
        "service status stopped, controls accepted 1, check point 0, wait hint 3000 ms",
    };
    EXPECT_EQ(messages(), expected);
    EXPECT_TRUE(host.stop_event_signalled());
    EXPECT_EQ(host.status().current_state, kServiceStopped);
    EXPECT_TRUE(host.events().empty());
}

// Reports from several threads reach the manager (here: the log) in the order their check
// points were taken.
TEST_F(HostStateTest, ConcurrentReportsArriveInCheckPointOrder) {
    RecordingHost host;
    std::future<int> result = run_in_background(host);
    ASSERT_TRUE(wait_until([&] { return logged("app run"); }));
    std::vector<std::thread> reporters;
    for (int t = 0; t < 4; ++t) {
        reporters.emplace_back([&host] {
            for (int i = 0; i < 50; ++i) host.set_status(kServiceStopPending, kStopWaitHintMs);
        });
    }
    for (std::thread& reporter : reporters) reporter.join();
    host.control_handler(kControlStop);
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);

    const std::regex pending(R"(service status stop pending, .* check point (\d+), .*)");
    std::vector<unsigned long> check_points;
    for (const std::string& message : messages()) {
        std::smatch match;
        if (std::regex_match(message, match, pending)) check_points.push_back(std::stoul(match[1]));
    }
    ASSERT_EQ(check_points.size(), 201u);  // 200 reports and the stop control's
    for (size_t i = 1; i < check_points.size(); ++i) {
        EXPECT_EQ(check_points[i], check_points[i - 1] + 1) << "report " << i;
    }
    EXPECT_EQ(messages().back(),
              "service status stopped, controls accepted 1, check point 0, wait hint 3000 ms");
}

TEST_F(HostStateTest, InterrogateReportsTheCurrentStateAgain) {
    RecordingHost host;
    std::future<int> result = run_in_background(host);
    ASSERT_TRUE(wait_until([&] { return logged("app run"); }));
    host.control_handler(kControlInterrogate);
    const ServiceStatus running = host.status();
    EXPECT_EQ(running.current_state, kServiceRunning);
    EXPECT_EQ(running.wait_hint, kStartWaitHintMs);
    EXPECT_EQ(running.check_point, 0u);
    EXPECT_EQ(running.controls_accepted, kAcceptStop);

    // Pause, continue, shutdown and unknown controls leave the service running.
    host.control_handler(kControlShutdown);
    host.control_handler(200);
    EXPECT_EQ(host.status().current_state, kServiceRunning);
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);

    host.control_handler(kControlStop);
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const std::string text = log_text();
    const std::string interrogated =
        "service status running, controls accepted 1, check point 0, wait hint 3000 ms";
    const size_t first = text.find(interrogated);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(text.find(interrogated, first + 1), std::string::npos) << text;
}

TEST_F(HostStateTest, FailedInitEndsTheServiceWithoutRunning) {
    g_init_result.store(false);
    RecordingHost host;
    std::future<int> result = run_in_background(host);
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(result.get(), 1);
    const std::vector<std::string> lines = messages();
    const std::vector<std::string> tail(lines.end() - 6, lines.end());
    const std::vector<std::string> expected{
        "app constructed",
        "app init",
        "app cleanup",
        "app destroyed",
        "Quietway2 Service terminated",
        "service status stopped, controls accepted 1, check point 0, wait hint 3000 ms"};
    EXPECT_EQ(tail, expected);
    EXPECT_FALSE(logged("Quietway2 Service running"));
    EXPECT_FALSE(logged("app run"));
}

TEST_F(HostStateTest, FailedThreadCreationIsLoggedAndTheServiceStops) {
    RecordingHost host;
    host.fail_thread = true;
    std::future<int> result = run_in_background(host);
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(result.get(), 1);
    const std::vector<std::string> lines = messages();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "service failed to create Application thread error = B ");
    EXPECT_EQ(lines[lines.size() - 2], "Quietway2 Service terminated");
    EXPECT_EQ(lines.back(),
              "service status stopped, controls accepted 1, check point 0, wait hint 3000 ms");
    EXPECT_FALSE(logged("app constructed"));
}

TEST_F(HostStateTest, StopBeforeTheApplicationExistsIsNotLost) {
    g_hold_factory.store(true);
    RecordingHost host;
    std::future<int> result = run_in_background(host);
    ASSERT_TRUE(wait_until([] { return g_factory_entered.load(); }));
    host.control_handler(kControlStop);
    g_hold_factory.store(false);
    const bool ended = result.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!ended) host.control_handler(kControlStop);  // let the thread end before failing
    ASSERT_TRUE(ended);
    EXPECT_TRUE(logged("app stop seen"));
    EXPECT_TRUE(logged("app destroyed"));
}

TEST_F(HostStateTest, FailedStatusReportBecomesAnErrorEvent) {
    ScopedEnv no_manager("NOTIFY_SOCKET", "");
    RecordingHost host;
    EXPECT_FALSE(host.set_status(kServiceRunning, kStartWaitHintMs));
    const auto events = host.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].message, "SetServiceStatus() failed");
    EXPECT_EQ(events[0].type, kEventError);
    EXPECT_EQ(events[0].id, 2);
}

TEST_F(HostStateTest, DispatcherOutsideTheManagerFailsWithTheSystemText) {
    ScopedEnv no_manager("NOTIFY_SOCKET", "");
    RecordingHost host;
    EXPECT_EQ(host.run_dispatcher(), 0);
    const auto events = host.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(host.last_error(), 0u);
    EXPECT_FALSE(events[0].message.empty());
    EXPECT_EQ(events[0].message, system_error_text(host.last_error()));
    EXPECT_EQ(events[0].type, kEventError);
}

TEST(HostNamesTest, EventIdsFollowTheType) {
    EXPECT_EQ(CNTService::event_id_for(kEventError, -1), 2);
    EXPECT_EQ(CNTService::event_id_for(kEventWarning, -1), 1);
    EXPECT_EQ(CNTService::event_id_for(kEventInformation, -1), 0);
    EXPECT_EQ(CNTService::event_id_for(kEventError, 7), 7);
}

}  // namespace
}  // namespace quietway
