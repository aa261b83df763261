#pragma once

// A real pipe server on the real channel with an observer that records every command and
// answers from a script.

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "common/pipe/pipe_client.h"
#include "common/pipe/pipe_record.h"
#include "service/pipe/pipe_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_support.h"

namespace quietway::testing {

class RecordingObserver : public PipeServerObserver {
public:
    bool on_pipe_command(int command, int& result) override {
        std::lock_guard guard(mutex_);
        commands_.push_back(command);
        const auto answer = answers_.find(command);
        result = answer == answers_.end() ? 100 + command : answer->second;
        return true;
    }
    void answer(int command, int result) {
        std::lock_guard guard(mutex_);
        answers_[command] = result;
    }
    std::vector<int> commands() {
        std::lock_guard guard(mutex_);
        return commands_;
    }

private:
    std::mutex mutex_;
    std::map<int, int> answers_;
    std::vector<int> commands_;
};

class PipeServerTest : public ::testing::Test {
protected:
    PipeServerTest() : log_("QuietwayService.log") {
#ifndef _WIN32
        pipe_env_ =
            std::make_unique<ScopedEnv>("QUIETWAY_PIPE", (dir_ / "sock" / "qwaypipe").string());
#endif
        server_ = std::make_unique<PipeServer>(observer_);
    }
    ~PipeServerTest() override {
        if (server_) server_->stop();
    }

    void start() { ASSERT_TRUE(server_->start()); }

    // A raw connection, made once the server listens.
    std::unique_ptr<PipeClient::Channel> connect() {
        auto channel = make_pipe_client_channel();
        EXPECT_TRUE(wait_until([&] { return channel->connect(); }));
        return channel;
    }
    static bool send(PipeClient::Channel& channel, const PipeRecord& record) {
        uint8_t bytes[kPipeRecordSize];
        encode_record(record, bytes);
        return channel.write_all(bytes, kPipeRecordSize);
    }
    static std::optional<PipeRecord> receive(PipeClient::Channel& channel) {
        uint8_t bytes[kPipeRecordSize];
        if (!channel.read_exact(bytes, kPipeRecordSize)) return std::nullopt;
        return decode_record(bytes);
    }
    size_t count(const std::string& line) const { return log_.count(line); }

    TempDir dir_;
    LogCapture log_;
    std::unique_ptr<ScopedEnv> pipe_env_;
    RecordingObserver observer_;
    std::unique_ptr<PipeServer> server_;
};

}  // namespace quietway::testing
