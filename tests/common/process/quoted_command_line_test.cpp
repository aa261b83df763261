#include <gtest/gtest.h>

#include "common/process/quoted_command_line.h"

namespace quietway {
namespace {

std::string quoted(const std::string& arg) {
    std::string out;
    append_quoted_argument(arg, out);
    return out;
}

TEST(CommandLineQuoting, LeavesPlainArgumentsAlone) {
    EXPECT_EQ(quoted("/f"), "/f");
    EXPECT_EQ(quoted("C:\\dir\\file.txt"), "C:\\dir\\file.txt");
    EXPECT_EQ(quoted("a&b|c>d^e%f%"), "a&b|c>d^e%f%");
}

TEST(CommandLineQuoting, QuotesEmptyAndBlankArguments) {
    EXPECT_EQ(quoted(""), "\"\"");
    EXPECT_EQ(quoted("two words"), "\"two words\"");
    EXPECT_EQ(quoted("tab\there"), "\"tab\there\"");
    EXPECT_EQ(quoted("line\nend"), "\"line\nend\"");
}

TEST(CommandLineQuoting, EscapesQuotesAndTheBackslashesBeforeThem) {
    EXPECT_EQ(quoted("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(quoted("a\\\"b"), "\"a\\\\\\\"b\"");
    // Backslashes not followed by a quote stay single.
    EXPECT_EQ(quoted("C:\\my dir\\x"), "\"C:\\my dir\\x\"");
}

TEST(CommandLineQuoting, DoublesTrailingBackslashesBeforeTheClosingQuote) {
    EXPECT_EQ(quoted("C:\\my dir\\"), "\"C:\\my dir\\\\\"");
    EXPECT_EQ(quoted("end \\\\"), "\"end \\\\\\\\\"");
}

TEST(CommandLineBuild, QuotesTheProgramAndJoinsWithBlanks) {
    std::string line;
    ASSERT_TRUE(build_command_line({"C:\\Program Files\\x.exe", "/f", "a b"}, line));
    EXPECT_EQ(line, "\"C:\\Program Files\\x.exe\" /f \"a b\"");
    ASSERT_TRUE(build_command_line({"taskkill.exe"}, line));
    EXPECT_EQ(line, "\"taskkill.exe\"");
}

TEST(CommandLineBuild, RefusesWhatCannotBePassedSafely) {
    std::string line = "stale";
    EXPECT_FALSE(build_command_line({}, line));
    EXPECT_TRUE(line.empty());
    EXPECT_FALSE(build_command_line({""}, line));
    EXPECT_FALSE(build_command_line({"bad\"name.exe"}, line));
    EXPECT_FALSE(build_command_line({"x.exe", std::string("nul\0byte", 8)}, line));
    EXPECT_FALSE(build_command_line({"x.exe", std::string(kMaxCommandLine, 'a')}, line));
    EXPECT_TRUE(line.empty());
}

TEST(CommandLineBuild, AcceptsALineOfExactlyTheLimit) {
    std::string line;
    const std::string program = "p.exe";  // quoted: 7 bytes, then one blank
    const std::string arg(kMaxCommandLine - program.size() - 3, 'a');
    ASSERT_TRUE(build_command_line({program, arg}, line));
    EXPECT_EQ(line.size(), kMaxCommandLine);
    EXPECT_FALSE(build_command_line({program, arg + "a"}, line));
}

}  // namespace
}  // namespace quietway
