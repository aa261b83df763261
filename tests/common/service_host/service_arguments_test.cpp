#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "common/service_host/service_arguments.h"

namespace quietway {
namespace {

CommandLine parse(std::initializer_list<const char*> args) {
    std::vector<std::string> copies{"program"};
    copies.insert(copies.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : copies) argv.push_back(arg.data());
    return parse_command_line(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLineTest, EachOptionLetterChoosesItsAction) {
    EXPECT_EQ(parse({}).action, ServiceAction::dispatcher);
    EXPECT_EQ(parse({"-i"}).action, ServiceAction::install);
    EXPECT_EQ(parse({"-u"}).action, ServiceAction::remove);
    EXPECT_EQ(parse({"-s"}).action, ServiceAction::start);
    EXPECT_EQ(parse({"-e"}).action, ServiceAction::stop);
    EXPECT_EQ(parse({"-f"}).action, ServiceAction::foreground);
    // Only the second character names the option.
    EXPECT_EQ(parse({"-install"}).action, ServiceAction::install);
}

TEST(CommandLineTest, LastActionWins) {
    EXPECT_EQ(parse({"-i", "-u"}).action, ServiceAction::remove);
    EXPECT_EQ(parse({"-u", "-i"}).action, ServiceAction::install);
    EXPECT_EQ(parse({"-s", "-l", "user", "-e"}).action, ServiceAction::stop);
}

TEST(CommandLineTest, OtherArgumentsAndUnknownLettersAreIgnored) {
    const CommandLine command = parse({"install", "/i", "-", "-x", "-Z", "--", "-e"});
    EXPECT_EQ(command.action, ServiceAction::stop);
    EXPECT_TRUE(command.account.empty());
    EXPECT_EQ(command.error, nullptr);
    EXPECT_EQ(parse({"-x", "-y"}).action, ServiceAction::dispatcher);
}

TEST(CommandLineTest, AccountAndPasswordAsSeparateArguments) {
    const CommandLine command = parse({"-i", "-l", ".\\svc user", "-p", "pa ss\"word"});
    EXPECT_EQ(command.action, ServiceAction::install);
    EXPECT_EQ(command.account, ".\\svc user");
    EXPECT_EQ(command.password, "pa ss\"word");
}

TEST(CommandLineTest, AccountAndPasswordAttached) {
    const CommandLine command = parse({"-lDOMAIN\\alice", "-psecret", "-i"});
    EXPECT_EQ(command.action, ServiceAction::install);
    EXPECT_EQ(command.account, "DOMAIN\\alice");
    EXPECT_EQ(command.password, "secret");
}

TEST(CommandLineTest, ValueOptionConsumesTheNextArgumentEvenIfItLooksLikeAnOption) {
    const CommandLine command = parse({"-i", "-l", "-u"});
    EXPECT_EQ(command.action, ServiceAction::install);
    EXPECT_EQ(command.account, "-u");
}

TEST(CommandLineTest, ValueOptionAtTheEndLeavesTheValueEmpty) {
    const CommandLine command = parse({"-i", "-p"});
    EXPECT_EQ(command.action, ServiceAction::install);
    EXPECT_TRUE(command.password.empty());
    EXPECT_EQ(command.error, nullptr);
}

TEST(CommandLineTest, OverlongValuesAreRefused) {
    const std::string longest(kMaxAccountText, 'a');
    const std::string too_long(kMaxAccountText + 1, 'a');
    EXPECT_EQ(parse({"-i", "-l", longest.c_str()}).error, nullptr);
    EXPECT_EQ(parse({"-i", "-p", longest.c_str()}).error, nullptr);
    EXPECT_STREQ(parse({"-i", "-l", too_long.c_str()}).error,
                 "account name is longer than 255 characters");
    EXPECT_STREQ(parse({"-i", "-p", too_long.c_str()}).error,
                 "password is longer than 255 characters");
}

}  // namespace
}  // namespace quietway
