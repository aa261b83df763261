#include "service/privacy/pipe_bridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "service/privacy/privacy_observer.h"
#include "tests/service/privacy/pipe_bridge_test_probe.h"

namespace quietway {
namespace {

using Trace = std::vector<std::string>;

// Token 0 connects, token 1 is an error; like the real sessions, minus their programs.
constexpr std::string_view kTable[] = {"CONNECTED", "FATAL"};

// A session and its application in one: records every runner call and status, in order.
class TestSession final : public PipeBridgeObserver, public PrivacyObserver {
public:
    bool start(const std::vector<std::string>& script,
               const char* program = QUIETWAY_BRIDGE_CHILD) {
        on_privacy_status(kPrivacyConnecting);
        if (bridge.start(program, script)) return true;
        on_privacy_status(kPrivacyStopped);
        return false;
    }

    void on_bridge_failed(int code) override {
        record("failed " + std::to_string(code));
        on_privacy_status(kPrivacyStopped);
    }
    bool on_output(const char* text) override {
        {
            std::lock_guard lock(mutex_);
            output_ += text;
        }
        changed_.notify_all();
        const size_t token = match_token(text, kTable);
        if (token == 0) on_privacy_status(kPrivacyConnected);
        return token != 1;
    }
    void on_child_ending(const ChildProcessInfo& child) override {
        {
            std::lock_guard lock(mutex_);
            if (child.process_id != 0) children_.push_back(child.process_id);
        }
        record("ending");
    }
    void on_bridge_finished() override {
        record("finished");
        on_privacy_status(kPrivacyStopped);
    }
    void on_privacy_status(int status) override { record("status " + std::to_string(status)); }
    void on_same_user(bool) override {}
    void on_privacy_event(int) override {}

    // Waits for the condition; false after a limit far beyond any script's length.
    bool wait_until(const std::function<bool(const Trace&, const std::string&)>& done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30),
                                 [&] { return done(trace_, output_); });
    }
    bool wait_for_output(const std::string& text) {
        return wait_until([&](const Trace&, const std::string& output) {
            return output.find(text) != std::string::npos;
        });
    }
    Trace trace() {
        std::lock_guard lock(mutex_);
        return trace_;
    }
    std::string output() {
        std::lock_guard lock(mutex_);
        return output_;
    }
    std::vector<unsigned long> children() {
        std::lock_guard lock(mutex_);
        return children_;
    }

private:
    void record(const std::string& event) {
        {
            std::lock_guard lock(mutex_);
            trace_.push_back(event);
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    Trace trace_;
    std::string output_;
    std::vector<unsigned long> children_;

public:
    PipeBridge bridge{*this};  // last, so that it is stopped before the records go
};

void expect_nothing_left(TestSession& session, int descriptors_before) {
    EXPECT_FALSE(session.bridge.running());
    for (unsigned long child : session.children()) EXPECT_FALSE(test::child_left_behind(child));
    if (descriptors_before >= 0) {
        EXPECT_EQ(test::open_descriptors(), descriptors_before);
    }
}

struct Scenario {
    const char* name;
    std::vector<std::string> script;
    const char* stop_at;  // stop once the output holds this text; nullptr: let the run end
    Trace expected;
    std::string output;  // all the runner read, chunks joined
    const char* program = QUIETWAY_BRIDGE_CHILD;
};

const Trace kStopped = {"status 2", "ending", "finished", "status 1"};
const Trace kConnectedStopped = {"status 2", "status 3", "ending", "finished", "status 1"};
const Trace kEndedByItself = {"status 2", "ending", "failed 0", "status 1", "finished", "status 1"};

const Scenario kScenarios[] = {
    {"token split over two reads",
     {"out:CONNE", "sleep:1500", "out:CTED", "hang"},
     "CTED",
     kStopped,
     "CONNECTED"},
    {"a line written in two pieces is one chunk",
     {"out:CONNE", "out:CTED", "hang"},
     "CONNECTED",
     kConnectedStopped,
     "CONNECTED"},
    {"table order beats text order",
     {"out:FATAL before CONNECTED", "hang"},
     "CONNECTED",
     kConnectedStopped,
     "FATAL before CONNECTED"},
    {"standard error is read too",
     {"err:CONNECTED", "hang"},
     "CONNECTED",
     kConnectedStopped,
     "CONNECTED"},
    {"last words before the exit",
     {"out:CONNECTED", "exit:0"},
     nullptr,
     {"status 2", "status 3", "ending", "failed 0", "status 1", "finished", "status 1"},
     "CONNECTED"},
    {"exit with a code", {"exit:3"}, nullptr, kEndedByItself, ""},
    {"error token ends the run", {"out:FATAL", "hang"}, nullptr, kEndedByItself, "FATAL"},
    {"stop before the first read", {"sleep:1500", "out:CONNECTED", "hang"}, "", kStopped, ""},
    {"program missing",
     {"out:CONNECTED"},
     nullptr,
     {"status 2", "failed 0", "status 1"},
     "",
     QUIETWAY_BRIDGE_CHILD ".missing"},
};

TEST(PipeBridge, RunsEndAsTheStateTableSays) {
    for (const Scenario& scenario : kScenarios) {
        SCOPED_TRACE(scenario.name);
        TestSession session;  // its bridge's own wake-up lives as long as the bridge
        const int descriptors = test::open_descriptors();
        ASSERT_TRUE(session.start(scenario.script, scenario.program));
        if (scenario.stop_at == nullptr) {
            ASSERT_TRUE(session.wait_until([&](const Trace& trace, const std::string&) {
                return trace.size() >= scenario.expected.size();
            }));
        } else if (*scenario.stop_at != '\0') {
            ASSERT_TRUE(session.wait_for_output(scenario.stop_at));
        }
        session.bridge.stop();
        EXPECT_EQ(session.trace(), scenario.expected);
        EXPECT_EQ(session.output(), scenario.output);
        // A child still alive at cleanup was named to the session.
        if (scenario.stop_at != nullptr) {
            EXPECT_EQ(session.children().size(), 1u);
        }
        expect_nothing_left(session, descriptors);
    }
}

TEST(PipeBridge, StartDuringARunEndsThatRunFirst) {
    TestSession session;
    const int descriptors = test::open_descriptors();
    ASSERT_TRUE(session.start({"out:first", "hang"}));
    ASSERT_TRUE(session.wait_for_output("first"));
    ASSERT_TRUE(session.start({"out:second", "hang"}));
    ASSERT_TRUE(session.wait_for_output("second"));
    ASSERT_EQ(session.children().size(), 1u);
    EXPECT_FALSE(test::child_left_behind(session.children()[0]));
    session.bridge.stop();
    EXPECT_EQ(session.trace(), (Trace{"status 2", "status 2", "ending", "finished", "status 1",
                                      "ending", "finished", "status 1"}));
    EXPECT_EQ(session.output(), "firstsecond");
    expect_nothing_left(session, descriptors);
}

TEST(PipeBridge, StopWithNoRunReturnsAtOnce) {
    TestSession session;
    session.bridge.stop();
    session.bridge.stop();
    EXPECT_FALSE(session.bridge.running());
    EXPECT_TRUE(session.trace().empty());
}

TEST(PipeBridge, FirstTokenInTableOrderWins) {
    const std::string long_token = std::string(200, 'x') + "END";
    const std::string_view long_table[] = {long_token};
    const std::string cut_chunk(kTokenSlot - 1, 'x');
    struct Case {
        const char* chunk;
        std::span<const std::string_view> table;
        size_t expected;
    } cases[] = {
        {"FATAL before CONNECTED", kTable, 0},
        {"only FATAL here", kTable, 1},
        {"connected, FATALITY", kTable, 1},
        {"Connected", kTable, 2},
        {"", kTable, 2},
        {cut_chunk.c_str(), long_table, 0},  // the token is cut to its slot
    };
    for (const Case& c : cases) EXPECT_EQ(match_token(c.chunk, c.table), c.expected) << c.chunk;
}

}  // namespace
}  // namespace quietway
