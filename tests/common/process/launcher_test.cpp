#include <gtest/gtest.h>

#include <string>

#include "common/process/launcher.h"
#include "tests/common/process/child_program.h"
#include "tests/support/test_support.h"

namespace quietway {
namespace {

using testing::read_file;
using testing::TempDir;

// Paths inside double quotes read the same to both interpreters.
std::string in_quotes(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

TEST(RunShellCommand, RunsAndChainsAndPipesThroughTheInterpreter) {
    TempDir dir;
    const std::string command = "echo first>" + in_quotes(dir / "a.txt") + " && echo second | " +
                                in_quotes(testing::child_program()) + " cat >" +
                                in_quotes(dir / "b.txt");
    EXPECT_EQ(run_shell_command(command.c_str()), 0u);
    // Both files are complete when the call returns: it waits for the command's end.
    EXPECT_EQ(read_file(dir / "a.txt").substr(0, 5), "first");
    EXPECT_EQ(read_file(dir / "b.txt").substr(0, 6), "second");
}

TEST(RunShellCommand, ReturnsTheCommandsExitCode) {
    EXPECT_EQ(run_shell_command("exit 7"), 7u);
    EXPECT_EQ(run_shell_command("exit 0"), 0u);
}

TEST(RunShellCommand, RefusesACommandTooLongForItsLineAndRunsNothing) {
    TempDir dir;
    std::string command = "echo ran>" + in_quotes(dir / "ran.txt");
    command.append(kShellCommandCapacity, ' ');
    EXPECT_NE(run_shell_command(command.c_str()), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir / "ran.txt"));
}

TEST(RunShellCommand, AcceptsALongCommandThatFits) {
    TempDir dir;
    std::string command = "echo ran>" + in_quotes(dir / "ran.txt");
    // 32 bytes of room is left for the longest interpreter path used in these tests.
    command.append(kShellCommandCapacity - 32 - command.size() - 5, ' ');
    EXPECT_EQ(run_shell_command(command.c_str()), 0u);
    EXPECT_TRUE(std::filesystem::exists(dir / "ran.txt"));
}

}  // namespace
}  // namespace quietway
