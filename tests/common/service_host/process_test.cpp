// The test service programs as separate processes, on both targets: the command line's exit
// codes, the foreground mode and the dispatcher outside the service manager.
#include "tests/common/service_host/process_test.h"

namespace quietway::testing {
namespace {

TEST_F(ProcessTest, WithoutOptionsOutsideTheManagerTheDispatcherFails) {
    ScopedEnv no_manager("NOTIFY_SOCKET", "");
    EXPECT_EQ(run({}), 0);
    EXPECT_NE(program_log().find(" service logged under account "), std::string::npos);
    EXPECT_EQ(events(), "");  // no application was created
}

TEST_F(ProcessTest, ForegroundRunsTheApplicationUntilAStopRequest) {
    ChildProcess child;
    ASSERT_TRUE(child.start({HOST_TEST_ENGINE, "-f"}, child_options()));
    ASSERT_TRUE(wait_for_event("run")) << events();
    ASSERT_TRUE(child.request_stop());
    EXPECT_EQ(child.wait(std::chrono::seconds(20)), 1);
    EXPECT_EQ(events(), kFullLifecycle);

    const std::string log = program_log();
    const char* in_order[] = {
        "service status start pending, controls accepted 0, check point 1, wait hint 3000 ms",
        "service status running, controls accepted 1, check point 0, wait hint 3000 ms",
        "Quietway2 Service running",
        "service status stop pending, controls accepted 1, check point 3, wait hint 11000 ms",
        "Quietway2 Service terminated",
        "service status stopped, controls accepted 1, check point 0, wait hint 3000 ms"};
    size_t position = 0;
    for (const char* line : in_order) {
        const size_t found = log.find(line, position);
        ASSERT_NE(found, std::string::npos) << "missing in order: " << line << "\n" << log;
        position = found;
    }
}

TEST_F(ProcessTest, ForegroundEndsOnItsOwnWhenInitFails) {
    ScopedEnv init_fails(kInitEnv, "fail");
    EXPECT_EQ(run({"-f"}), 1);
    EXPECT_EQ(events(), kFailedInitLifecycle);
    const std::string log = program_log();
    EXPECT_EQ(log.find("Quietway2 Service running"), std::string::npos);
    EXPECT_NE(log.find("Quietway2 Service terminated"), std::string::npos);
    EXPECT_NE(log.find("service status stopped"), std::string::npos);
}

TEST_F(ProcessTest, TheUpdaterProgramUsesItsOwnNamesAndLog) {
    ScopedEnv init_fails(kInitEnv, "fail");
    EXPECT_EQ(run({"-f"}, HOST_TEST_UPDATER), 1);
    const std::string log = program_log(kUpdaterLogFile);
    EXPECT_NE(log.find("Quietway Update Service terminated"), std::string::npos) << log;
    EXPECT_EQ(program_log(kServiceLogFile), "");
}

TEST_F(ProcessTest, OverlongAccountNameIsRefusedBeforeAnythingIsDone) {
    const std::string too_long(300, 'a');
    EXPECT_EQ(run({"-i", "-l", too_long}), 0);
    EXPECT_NE(program_log().find("account name is longer than 255 characters"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "units" / "Quietway2.service"));
}

}  // namespace
}  // namespace quietway::testing
