#include <gtest/gtest.h>

#include <atomic>
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

// One copy of the child program on its own thread. It would sleep far beyond its time limit,
// so finishing without a time-out means something else ended it.
class Sleeper {
public:
    Sleeper(const std::string& program, const std::filesystem::path& marker) : marker_(marker) {
        thread_ = std::thread([this, program] {
            result_ = run_program({program, "mark-sleep", "600000", marker_.string()},
                                  {.time_limit_ms = 90000});
            done_ = true;
        });
    }
    ~Sleeper() {
        if (thread_.joinable()) thread_.join();
    }

    bool running() const { return std::filesystem::exists(marker_); }
    bool done() const { return done_; }
    RunResult finish() {
        thread_.join();
        return result_;
    }

private:
    std::filesystem::path marker_;
    std::thread thread_;
    RunResult result_;
    std::atomic<bool> done_{false};
};

TEST(KillByImageName, EndsEveryProcessOfTheImageAndNoOther) {
    testing::LogCapture log("ProcessKill.log");
    TempDir dir;
    const std::string target = testing::copy_child_program(dir.path(), testing::unique_name("qwk"));
    const std::string bystander =
        testing::copy_child_program(dir.path(), testing::unique_name("qwb"));
    const std::string image = std::filesystem::path(target).filename().string();
    const std::string other_image = std::filesystem::path(bystander).filename().string();

    Sleeper first(target, dir / "first");
    Sleeper second(target, dir / "second");
    Sleeper other(bystander, dir / "other");
    ASSERT_TRUE(
        testing::wait_until([&] { return first.running() && second.running() && other.running(); },
                            std::chrono::seconds(30)));

    EXPECT_TRUE(kill_processes_by_name(image)) << log.text();
    for (Sleeper* ended : {&first, &second}) {
        const RunResult result = ended->finish();
        EXPECT_TRUE(result.started);
        EXPECT_FALSE(result.timed_out);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(other.done());

    EXPECT_FALSE(kill_processes_by_name(image));
#ifdef _WIN32
    // What taskkill said stays in the log.
    EXPECT_TRUE(log.contains("taskkill.exe /IM " + image + " ended with code 128: ")) << log.text();
#endif
    EXPECT_TRUE(kill_processes_by_name(other_image)) << log.text();
    EXPECT_FALSE(other.finish().timed_out);
}

}  // namespace
}  // namespace quietway
