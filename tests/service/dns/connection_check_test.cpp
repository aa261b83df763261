#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "service/dns/connection_check.h"

namespace quietway {
namespace {

TEST(ConnectionCheck, TheResolverIsTheTunnelsWhenItsAnswerIsAmongTheAddresses) {
    struct Case {
        std::vector<std::string> answers;
        ResolverSeen seen;
    } cases[] = {
        {{"10.99.8.53"}, ResolverSeen::tunnel},
        {{"fd00::1", "10.99.8.53"}, ResolverSeen::tunnel},
        {{"192.168.99.53"}, ResolverSeen::other},
        {{}, ResolverSeen::none},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(judge_resolver(c.answers, "10.99.8.53"), c.seen) << c.answers.size();
    }
    EXPECT_STREQ(resolver_word(ResolverSeen::tunnel), "tunnel");
    EXPECT_STREQ(resolver_word(ResolverSeen::other), "other");
    EXPECT_STREQ(resolver_word(ResolverSeen::none), "none");
}

TEST(ConnectionCheck, TheExitAddressIsOneAddressAndNothingElse) {
    struct Case {
        const char* reply;
        const char* address;  // nullptr: refused
    } cases[] = {
        {"10.99.8.2\n", "10.99.8.2"},
        {" \t2001:DB8:0::1\r\n", "2001:db8::1"},
        {"<html>10.99.8.2</html>", nullptr},
        {"10.99.8.2 10.99.8.3", nullptr},
        {"localhost", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        std::string address;
        EXPECT_EQ(exit_address_from(c.reply, address), c.address != nullptr) << c.reply;
        EXPECT_EQ(address, c.address != nullptr ? c.address : "") << c.reply;
    }
}

// The name is looked up on a thread of its own beside the request; a check address that cannot
// be asked (no curl) leaves the exit address empty and the lookup still counts.
TEST(ConnectionCheck, TheLookupAndTheRequestAreBothAnswered) {
    CheckSettings settings;
    settings.exit_url = "http://127.0.0.1:9/";
    settings.dns_name = "localhost";
    settings.dns_address = "127.0.0.1";
    settings.curl = "no-such-directory/curl";
    const CheckResult result = run_connection_check(settings);
    EXPECT_EQ(result.exit_address, "");
    EXPECT_EQ(result.resolver, ResolverSeen::tunnel);
    EXPECT_NE(std::find(result.answers.begin(), result.answers.end(), "127.0.0.1"),
              result.answers.end());
}

}  // namespace
}  // namespace quietway
