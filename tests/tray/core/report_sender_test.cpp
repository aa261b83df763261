#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tray/core/report_sender.h"

namespace quietway::testing {
namespace {

// A vendor's server that holds each report until the test opens it; shared with the sender's
// thread, which may outlive the sender.
struct HeldServer {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::vector<std::string> reports;

    size_t received() {
        std::lock_guard lock(mutex);
        return reports.size();
    }
};

// One thread sends the reports in the order they were made; while the server holds one, at
// most sixteen wait and the oldest of them make room.
TEST(ReportSender, SendsInOrderAndKeepsTheSixteenNewestWaiting) {
    auto server = std::make_shared<HeldServer>();
    ReportSender sender([server](const std::string& id, int32_t state) {
        std::unique_lock lock(server->mutex);
        server->reports.push_back(id + ":" + std::to_string(state));
        server->opened.wait(lock, [&] { return server->open; });
    });
    sender.send("1", 1);
    ASSERT_TRUE(wait_until([&] { return server->received() == 1; }));
    for (int id = 2; id <= 21; ++id) sender.send(std::to_string(id), 2);
    {
        std::lock_guard lock(server->mutex);
        server->open = true;
        server->opened.notify_all();
    }
    ASSERT_TRUE(wait_until([&] { return server->received() == 17; }));
    std::vector<std::string> expected = {"1:1"};
    for (int id = 6; id <= 21; ++id) expected.push_back(std::to_string(id) + ":2");
    std::lock_guard lock(server->mutex);
    EXPECT_EQ(server->reports, expected);
}

}  // namespace
}  // namespace quietway::testing
