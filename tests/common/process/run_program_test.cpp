#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/process/run_program.h"
#include "tests/common/process/child_program.h"

namespace quietway {
namespace {

using testing::child_program;

std::string echoed(const std::vector<std::string>& args) {
    std::string out;
    for (const std::string& arg : args) out += std::to_string(arg.size()) + ":" + arg + ";";
    return out;
}

RunResult run_child(std::vector<std::string> args, RunOptions options = {}) {
    args.insert(args.begin(), child_program());
    return run_program(args, options);
}

TEST(RunProgram, PassesArgumentsWithQuotesBlanksAndShellCharactersIntact) {
    const std::vector<std::string> tricky = {
        "plain",
        "two words",
        "",
        "say \"hi\" now",
        "\"",
        "back\\slash\\",
        "trailing slash \\",
        "quote after slashes \\\\\" end",
        "$(touch /tmp/quietway-pwned); rm -rf x | cat && echo `id` > out",
        "%PATH% !x! ^& a|b <c> & d",
        "'single' ; *glob?",
        "tab\tinside",
    };
    std::vector<std::string> args = {"args"};
    args.insert(args.end(), tricky.begin(), tricky.end());
    std::string output;
    const RunResult result = run_child(args, {.output = &output});
    ASSERT_TRUE(result.started) << result.error;
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(output, echoed(tricky));
}

TEST(RunProgram, ReturnsTheExitCode) {
    EXPECT_EQ(run_child({"exit", "42"}).exit_code, 42u);
    EXPECT_EQ(run_child({"exit", "0"}).exit_code, 0u);
}

TEST(RunProgram, FeedsInputAndCollectsOutput) {
    std::string output;
    const RunResult result = run_child({"cat"}, {.input = "yes, store the key", .output = &output});
    ASSERT_TRUE(result.started);
    EXPECT_EQ(output, "yes, store the key");
}

TEST(RunProgram, MovesInputLargerThanAnyPipeBufferBothWays) {
    std::string input;
    for (int i = 0; input.size() < 600 * 1024; ++i) input += std::to_string(i) + ",";
    std::string output;
    const RunResult result = run_child({"cat"}, {.input = input, .output = &output});
    ASSERT_TRUE(result.started);
    EXPECT_EQ(output.size(), input.size());
    EXPECT_TRUE(output == input);
}

TEST(RunProgram, EmptyInputIsAnImmediateEndOfFile) {
    std::string output = "stale";
    const RunResult result = run_child({"cat"}, {.time_limit_ms = 20000, .output = &output});
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(output, "");
}

TEST(RunProgram, SurvivesAChildThatNeverReadsItsInput) {
    const RunResult result = run_child(
        {"exit", "3"}, {.input = std::string(kMaxProgramInput, 'y'), .time_limit_ms = 20000});
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 3u);
}

TEST(RunProgram, RefusesInputBeyondTheLimit) {
    const RunResult result = run_child({"cat"}, {.input = std::string(kMaxProgramInput + 1, 'y')});
    EXPECT_FALSE(result.started);
    EXPECT_NE(result.error, 0u);
}

TEST(RunProgram, MergesStandardErrorAndCapsTheOutput) {
    std::string output;
    RunResult result = run_child({"spew", "10"}, {.output = &output});
    EXPECT_EQ(output, "xxxxxxxxxx[out][err]");

    result = run_child({"spew", std::to_string(kMaxCapturedOutput + 500000)},
                       {.time_limit_ms = 60000, .output = &output});
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(output.size(), kMaxCapturedOutput);
}

TEST(RunProgram, EndsAProgramThatOutlivesItsTimeLimit) {
    const RunResult result = run_child({"sleep", "120000"}, {.time_limit_ms = 300});
    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.timed_out);
}

TEST(RunProgram, ReportsAProgramThatCannotBeFound) {
    RunResult result = run_program({"quietway-surely-missing-program-4711"});
    EXPECT_FALSE(result.started);
    EXPECT_NE(result.error, 0u);
    result = run_program({});
    EXPECT_FALSE(result.started);
}

}  // namespace
}  // namespace quietway
