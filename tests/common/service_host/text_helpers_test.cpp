#include <gtest/gtest.h>

#include <string>

#include "common/service_host/error_text.h"
#include "common/service_host/multi_string.h"

namespace quietway {
namespace {

TEST(MultiStringTest, ParsesAListWithItsDoubleTerminator) {
    const std::string data("Application\0Quietway2\0Other\0\0", 29);
    const auto strings = parse_multi_string(data.data(), data.size());
    ASSERT_EQ(strings.size(), 3u);
    EXPECT_EQ(strings[0], "Application");
    EXPECT_EQ(strings[1], "Quietway2");
    EXPECT_EQ(strings[2], "Other");
    EXPECT_EQ(build_multi_string(strings), data);
}

TEST(MultiStringTest, MissingTerminatorsEndTheListAtTheDataEnd) {
    const std::string data("One\0Two", 7);
    const auto strings = parse_multi_string(data.data(), data.size());
    ASSERT_EQ(strings.size(), 2u);
    EXPECT_EQ(strings[1], "Two");
    // The bytes after the size are never read.
    const char bytes[] = {'A', 'B', 'C'};
    EXPECT_EQ(parse_multi_string(bytes, 2), std::vector<std::string>{"AB"});
}

TEST(MultiStringTest, EmptyStringEndsTheList) {
    const std::string data("One\0\0Hidden\0\0", 13);
    EXPECT_EQ(parse_multi_string(data.data(), data.size()), std::vector<std::string>{"One"});
    EXPECT_TRUE(parse_multi_string(data.data(), 0).empty());
    EXPECT_EQ(build_multi_string({}), std::string(1, '\0'));
}

TEST(MultiStringTest, NamesCompareWithoutCase) {
    std::vector<std::string> strings{"Application", "QUIETWAY2", "Other", "quietway2"};
    EXPECT_TRUE(contains_name(strings, "Quietway2"));
    EXPECT_FALSE(contains_name(strings, "Quietway"));
    EXPECT_TRUE(remove_name(strings, "Quietway2"));
    EXPECT_EQ(strings, (std::vector<std::string>{"Application", "Other"}));
    EXPECT_FALSE(remove_name(strings, "Quietway2"));
}

TEST(ErrorTextTest, FinalLineBreakIsRemoved) {
    EXPECT_EQ(trim_error_text("The service did not respond.\r\n"), "The service did not respond.");
    EXPECT_EQ(trim_error_text("Transport endpoint is not connected"),
              "Transport endpoint is not connected");
    EXPECT_EQ(trim_error_text("two\r\nlines\n"), "two\r\nlines");
}

TEST(ErrorTextTest, TextsAtTheLimitAreDropped) {
    const std::string below(kErrorTextLimit - 1, 'x');
    EXPECT_EQ(trim_error_text(below), below);
    EXPECT_EQ(trim_error_text(std::string(kErrorTextLimit, 'x')), "");
    EXPECT_EQ(trim_error_text(std::string(kErrorTextLimit - 2, 'x') + "\r\n"), "");
}

TEST(ErrorTextTest, SystemTextHasNoLineBreak) {
    const std::string text = system_error_text(2);  // file not found on both systems
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
}

}  // namespace
}  // namespace quietway
