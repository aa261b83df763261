#include <gtest/gtest.h>
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "common/process/launcher.h"
#include "common/process/quoted_command_line.h"
#include "tests/common/process/child_program.h"
#include "tests/support/test_support.h"

namespace quietway {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

std::vector<std::string> split_like_the_runtime(const std::string& line) {
    const std::wstring wide(line.begin(), line.end());
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(wide.c_str(), &count);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        const std::wstring word(words[i]);
        out.emplace_back(word.begin(), word.end());
    }
    LocalFree(words);
    return out;
}

TEST(CommandLineOnWindows, SplitsBackIntoTheSameArguments) {
    const std::vector<std::string> args = {"C:\\Program Files\\Quietway\\bin\\curl.exe",
                                           "plain",
                                           "",
                                           "two words",
                                           "\"",
                                           "\\\"",
                                           "end\\",
                                           "end with blank\\",
                                           "mid\\\\dle \"q\" \\\\\"",
                                           "a&b|c^d%e%!f!",
                                           "\t"};
    std::string line;
    ASSERT_TRUE(build_command_line(args, line));
    EXPECT_EQ(split_like_the_runtime(line), args) << line;
}

TEST(RunInUserSession, StartsTheProgramInTheConsoleSessionWithoutArguments) {
    TempDir dir;
    const auto marker = dir / "started";
    // The new environment block carries the service's own environment along.
    ScopedEnv env("QUIETWAY_TEST_MARKER", marker.string());
    ASSERT_TRUE(run_in_user_session(testing::child_program().c_str()));
    EXPECT_TRUE(testing::wait_until([&] { return std::filesystem::exists(marker); }));
}

TEST(RunInUserSession, FailsForAProgramThatDoesNotExist) {
    TempDir dir;
    EXPECT_FALSE(run_in_user_session((dir / "missing.exe").string().c_str()));
    EXPECT_FALSE(run_in_user_session(""));
}

TEST(RunShellCommand, FallsBackToCmdExeWithoutComspec) {
    ScopedEnv unset("COMSPEC", "");
    EXPECT_EQ(run_shell_command("exit 5"), 5u);
}

}  // namespace
}  // namespace quietway
