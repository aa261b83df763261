#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "tests/support/test_support.h"
#include "tray/core/command_worker.h"

namespace quietway::testing {
namespace {

// A service that holds every exchange until the test lets it go.
class GatedService {
public:
    bool send(int command, int& status) {
        std::unique_lock lock(mutex_);
        sent_.push_back(command);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_ > 0 || dead_; });
        --waiting_;
        if (dead_) return false;
        --released_;
        status = 100 + command;
        return true;
    }
    void release(int count = 1) {
        std::lock_guard lock(mutex_);
        released_ += count;
        changed_.notify_all();
    }
    void die() {
        std::lock_guard lock(mutex_);
        dead_ = true;
        changed_.notify_all();
    }
    int waiting() {
        std::lock_guard lock(mutex_);
        return waiting_;
    }
    std::vector<int> sent() {
        std::lock_guard lock(mutex_);
        return sent_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> sent_;
    int waiting_ = 0;
    int released_ = 0;
    bool dead_ = false;
};

TEST(CommandWorker, StalledServiceNeverGetsASecondPollAndMenuCommandsGoFirst) {
    GatedService service;
    std::mutex mutex;
    std::vector<std::pair<int, int>> replies;
    {
        CommandWorker worker([&](int c, int& s) { return service.send(c, s); },
                             [&](int c, int s) {
                                 std::lock_guard lock(mutex);
                                 replies.emplace_back(c, s);
                             });
        ASSERT_TRUE(worker.running());
        ASSERT_TRUE(worker.poll());
        ASSERT_TRUE(wait_until([&] { return service.waiting() == 1; }));
        // A thousand ticks while the service stalls: no poll is queued behind the one waiting.
        for (int tick = 0; tick < 1000; ++tick) EXPECT_FALSE(worker.poll());
        worker.command(1);
        worker.command(1005);  // replaces the unsent one
        service.release();
        ASSERT_TRUE(wait_until([&] { return service.sent().size() == 2; }));
        EXPECT_TRUE(worker.poll());
        service.release(2);
        ASSERT_TRUE(wait_until([&] {
            std::lock_guard lock(mutex);
            return replies.size() == 3;
        }));
        EXPECT_EQ(service.sent(), (std::vector<int>{3, 1005, 3}));
        std::lock_guard lock(mutex);
        EXPECT_EQ(replies, (std::vector<std::pair<int, int>>{{3, 103}, {1005, 1105}, {3, 103}}));
        service.die();
    }
}

TEST(CommandWorker, FailedExchangesGiveNoReply) {
    GatedService service;
    service.die();
    int replies = 0;
    CommandWorker worker([&](int c, int& s) { return service.send(c, s); },
                         [&](int, int) { ++replies; });
    ASSERT_TRUE(worker.poll());
    ASSERT_TRUE(wait_until([&] { return worker.poll(); }));
    ASSERT_TRUE(wait_until([&] { return service.sent().size() >= 2; }));
    EXPECT_EQ(replies, 0);
}

}  // namespace
}  // namespace quietway::testing
