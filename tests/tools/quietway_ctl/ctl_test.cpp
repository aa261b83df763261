#include "tests/service/pipe/pipe_test_fixture.h"
#include "tests/support/child_process.h"
#include "tools/quietway_ctl/ctl_command.h"

namespace quietway::testing {
namespace {

class CtlTest : public PipeServerTest {
protected:
    ChildResult ctl(std::vector<std::string> words) {
        words.insert(words.begin(), program_directory() + "/" + QUIETWAY_CTL_RELATIVE);
        return run_captured(words, scratch_.str());
    }
    TempDir scratch_;
};

TEST_F(CtlTest, CommandsReachTheEngineAndTheStatusIsPrintedInWords) {
    struct Case {
        std::vector<std::string> words;
        int command;
        int answer;
        const char* printed;
    };
    const Case cases[] = {{{"status"}, 3, 5, "stopped, no server selected"},
                          {{"start"}, 1, 2, "connecting"},
                          {{"stop"}, 2, 1, "stopped"},
                          {{"server", "50"}, 1050, 2, "connecting"},
                          {{"status"}, 3, 6, "connected, same user detected"}};
    start();
    connect();  // listening
    for (const Case& c : cases) {
        observer_.answer(c.command, c.answer);
        const ChildResult result = ctl(c.words);
        EXPECT_EQ(result.exit_code, 0) << c.words[0] << result.err;
        // One line, whatever the platform's line end.
        EXPECT_EQ(result.out.substr(0, result.out.find_first_of("\r\n")), c.printed);
        EXPECT_NE(result.out.find('\n'), std::string::npos);
        ASSERT_FALSE(observer_.commands().empty());
        EXPECT_EQ(observer_.commands().back(), c.command);
    }
}

TEST_F(CtlTest, BadWordsAreRejectedWithoutContactingTheEngine) {
    start();
    for (const std::vector<std::string>& words : {std::vector<std::string>{},
                                                  {"server", "0"},
                                                  {"server", "100"},
                                                  {"server", "5x"},
                                                  {"server", "-1"},
                                                  {"restart"},
                                                  {"status", "extra"}}) {
        EXPECT_EQ(ctl(words).exit_code, ctl::kExitUsage) << words.size();
    }
    EXPECT_TRUE(observer_.commands().empty());
}

TEST_F(CtlTest, UnreachableEngineIsAnError) {
    const ChildResult result = ctl({"status"});  // the server was never started
    EXPECT_EQ(result.exit_code, ctl::kExitUnreachable);
    EXPECT_NE(result.err.find("cannot be reached"), std::string::npos);
}

}  // namespace
}  // namespace quietway::testing
