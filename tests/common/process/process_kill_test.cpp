#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "common/process/process_kill.h"
#include "common/process/run_program.h"
#include "tests/common/process/child_program.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_support.h"

namespace quietway {
namespace {

using testing::TempDir;

// One copy of the child program on its own thread. It waits for `go` far beyond its time
// limit, so finishing without a time-out and without `go` means something else ended it;
// given `go`, it leaves its marker's ".ended" twin.
class Waiter {
public:
    Waiter(const std::string& program, const std::filesystem::path& marker,
           const std::filesystem::path& go)
        : marker_(marker) {
        thread_ = std::thread([this, program, go] {
            result_ = run_program({program, "mark-wait", marker_.string(), go.string()},
                                  {.time_limit_ms = 90000});
        });
    }
    ~Waiter() {
        if (thread_.joinable()) thread_.join();
    }

    bool running() const { return std::filesystem::exists(marker_); }
    RunResult finish() {
        thread_.join();
        return result_;
    }

private:
    std::filesystem::path marker_;
    std::thread thread_;
    RunResult result_;
};

TEST(KillByImageName, EndsEveryProcessOfTheImageAndNoOther) {
    testing::LogCapture log("ProcessKill.log");
    TempDir dir;
    const std::string target = testing::copy_child_program(dir.path(), testing::unique_name("qwk"));
    const std::string bystander =
        testing::copy_child_program(dir.path(), testing::unique_name("qwb"));
    const std::string image = std::filesystem::path(target).filename().string();

    const std::filesystem::path go = dir / "go";
    Waiter first(target, dir / "first", go);
    Waiter second(target, dir / "second", go);
    Waiter other(bystander, dir / "other", go);
    ASSERT_TRUE(
        testing::wait_until([&] { return first.running() && second.running() && other.running(); },
                            std::chrono::seconds(30)));

    EXPECT_TRUE(kill_processes_by_name(image)) << log.text();
    for (Waiter* ended : {&first, &second}) {
        const RunResult result = ended->finish();
        EXPECT_TRUE(result.started);
        EXPECT_FALSE(result.timed_out);
    }
    // The bystander outlived the kill: told to go on now, it ends by itself.
    testing::write_file(go, "");
    EXPECT_FALSE(other.finish().timed_out);
    EXPECT_TRUE(std::filesystem::exists(dir / "other.ended"));

    EXPECT_FALSE(kill_processes_by_name(image));
#ifdef _WIN32
    // What taskkill said stays in the log.
    EXPECT_TRUE(log.contains("taskkill.exe /IM " + image + " ended with code 128: ")) << log.text();
#endif
}

}  // namespace
}  // namespace quietway
