#include <gtest/gtest.h>

#include "common/crash/collector_address.h"
#include "common/crash/crash_reporter.h"
#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

CollectorAddress parsed(const std::string& text) {
    CollectorAddress address{"untouched", 1};
    EXPECT_TRUE(parse_collector_address(text, address)) << text;
    return address;
}

TEST(CollectorAddressParsing, TakesAHostWithTheDefaultPort) {
    const CollectorAddress address = parsed("crash.example.net");
    EXPECT_EQ(address.host, "crash.example.net");
    EXPECT_EQ(address.port, 1127);
    EXPECT_EQ(parsed("http://10.1.2.3/").host, "10.1.2.3");
    EXPECT_EQ(parsed("http://10.1.2.3/").port, 1127);
}

TEST(CollectorAddressParsing, TakesAnExplicitPort) {
    EXPECT_EQ(parsed("127.0.0.1:8123").port, 8123);
    EXPECT_EQ(parsed("127.0.0.1:8123").host, "127.0.0.1");
    EXPECT_EQ(parsed("http://collector:65535").port, 65535);
    EXPECT_EQ(parsed("[::1]:99").host, "[::1]");
    EXPECT_EQ(parsed("[::1]:99").port, 99);
    EXPECT_EQ(parsed("[fe80::1]").port, 1127);
}

TEST(CollectorAddressParsing, RefusesOtherSchemesPathsAndBadPortsOrHosts) {
    for (const char* bad :
         {"", "https://collector", "ftp://collector", "collector/post", "http://collector/x",
          "collector:", "collector:0", "collector:65536", "collector:12ab", "collector:123456",
          "bad host", "bad\"host", "-leading", ".dot", "host;rm", "[::1", "[zz::1]:80", "user@host",
          "http://"}) {
        CollectorAddress address{"untouched", 1};
        EXPECT_FALSE(parse_collector_address(bad, address)) << bad;
        EXPECT_EQ(address.host, "untouched");
    }
}

class CollectorFromStore : public ::testing::Test {
protected:
    void configure(const std::string& value) {
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\app",
                                      kCrashReportUrlValue, value));
    }

    testing::TempStore store_;
};

TEST_F(CollectorFromStore, UsesTheBuildDefaultWithoutAValue) {
    const CollectorAddress address = crash_collector_address();
    EXPECT_EQ(address.host, default_crash_collector_host());
    EXPECT_EQ(address.port, 1127);
    EXPECT_FALSE(address.host.empty());
}

TEST_F(CollectorFromStore, UsesTheConfiguredHostAndPort) {
    configure("collector.internal:4711");
    const CollectorAddress address = crash_collector_address();
    EXPECT_EQ(address.host, "collector.internal");
    EXPECT_EQ(address.port, 4711);
}

TEST_F(CollectorFromStore, IgnoresAnInvalidValue) {
    configure("https://elsewhere/upload");
    const CollectorAddress address = crash_collector_address();
    EXPECT_EQ(address.host, default_crash_collector_host());
    EXPECT_EQ(address.port, 1127);
}

TEST(CrashHandlerInstall, RefusesAMissingOrOverlongProduct) {
    EXPECT_FALSE(install_crash_handler(nullptr));
    EXPECT_FALSE(install_crash_handler(""));
    EXPECT_FALSE(install_crash_handler(std::string(kMaxCrashProduct + 1, 'p').c_str()));
}

}  // namespace
}  // namespace quietway
