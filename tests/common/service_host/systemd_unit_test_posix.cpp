#include <gtest/gtest.h>

#include <string>

#include "common/service_host/systemd_sandbox.h"
#include "common/service_host/systemd_unit.h"
#include "tests/support/test_support.h"

namespace quietway {
namespace {

TEST(SystemdUnitTest, NotifyUnitThatRestartsOnFailure) {
    std::string text;
    ASSERT_TRUE(
        build_unit_text({"Quietway2 Service", "/opt/quietway/bin/quietway_service", ""}, text));
    EXPECT_EQ(text,
              "[Unit]\n"
              "Description=Quietway2 Service\n"
              "Wants=network-online.target\n"
              "After=network-online.target\n"
              "\n"
              "[Service]\n"
              "Type=notify\n"
              "NotifyAccess=main\n"
              "ExecStart=\"/opt/quietway/bin/quietway_service\"\n"
              "Restart=on-failure\n"
              "LimitNOFILE=16384\n"
              "KillMode=process\n"
              "\n"
              "[Install]\n"
              "WantedBy=multi-user.target\n");
}

// Each service's own sandbox, after the lines every unit has.
TEST(SystemdUnitTest, EachServiceHasItsOwnSandbox) {
    struct Case {
        const char* service;
        const char* has;
        const char* lacks;
    };
    for (const Case& c :
         {Case{"Quietway2", "\nCapabilityBoundingSet=CAP_NET_ADMIN ", "ProtectHome"},
          Case{"Quietway2", "\nDeviceAllow=/dev/net/tun rw\n", "PrivateTmp"},
          Case{"QuietwayUpdater", "\nProtectKernelModules=yes\n", "ProtectSystem"},
          Case{"QuietwayUpdater", "\nProtectKernelLogs=yes\n", "ProtectClock"}}) {
        std::string text;
        ASSERT_TRUE(build_unit_text({"x", "/bin/x", "", unit_sandbox(c.service)}, text));
        const size_t found = text.find(c.has);
        EXPECT_TRUE(found != std::string::npos && found > text.find("KillMode=process\n"))
            << c.service << " lacks " << c.has;
        EXPECT_EQ(text.find(c.lacks), std::string::npos) << c.service << " has " << c.lacks;
    }
    EXPECT_EQ(unit_sandbox("Other"), "");
}

TEST(SystemdUnitTest, UserLineOnlyWithAnAccount) {
    std::string text;
    ASSERT_TRUE(build_unit_text({"Quietway Update Service", "/bin/x", "quietway"}, text));
    EXPECT_NE(text.find("\nKillMode=process\nUser=quietway\n\n[Install]\n"), std::string::npos);
}

TEST(SystemdUnitTest, ProgramPathIsQuotedWithSpecifiersEscaped) {
    std::string exec;
    ASSERT_TRUE(quote_exec_path("/opt/My Apps/a%y$HOME/svc", exec));
    EXPECT_EQ(exec, "\"/opt/My Apps/a%%y$HOME/svc\"");
}

TEST(SystemdUnitTest, PathsThatCannotBeWrittenAreRefused) {
    std::string exec;
    EXPECT_FALSE(quote_exec_path("relative/svc", exec));
    EXPECT_FALSE(quote_exec_path("", exec));
    EXPECT_FALSE(quote_exec_path("/opt/a\nExecStartPre=/bin/evil", exec));
    EXPECT_FALSE(quote_exec_path(std::string("/opt/a\x7f"), exec));
    EXPECT_FALSE(quote_exec_path("/opt/q\"uote/svc", exec));
    EXPECT_FALSE(quote_exec_path("/opt/back\\slash/svc", exec));
    std::string text;
    EXPECT_FALSE(build_unit_text({"Quietway2 Service", "/opt/a\rb", ""}, text));
}

TEST(SystemdUnitTest, UserNamesAreChecked) {
    EXPECT_TRUE(is_valid_unit_user("quietway"));
    EXPECT_TRUE(is_valid_unit_user("svc_user-1.x"));
    EXPECT_TRUE(is_valid_unit_user("1001"));
    EXPECT_FALSE(is_valid_unit_user(""));
    EXPECT_FALSE(is_valid_unit_user("-rf"));
    EXPECT_FALSE(is_valid_unit_user(".hidden"));
    EXPECT_FALSE(is_valid_unit_user("root\nExecStartPre=/bin/sh"));
    EXPECT_FALSE(is_valid_unit_user("DOMAIN\\alice"));
    EXPECT_FALSE(is_valid_unit_user("a b"));
    EXPECT_FALSE(is_valid_unit_user("%u"));
    EXPECT_TRUE(is_valid_unit_user(std::string(255, 'a')));
    EXPECT_FALSE(is_valid_unit_user(std::string(256, 'a')));
    std::string text;
    EXPECT_FALSE(build_unit_text({"Quietway2 Service", "/bin/x", "bad user"}, text));
}

TEST(SystemdUnitTest, UnitDirectoryCanBeMoved) {
    {
        testing::ScopedEnv moved(kUnitDirEnv, "/tmp/units");
        EXPECT_EQ(unit_directory(), "/tmp/units");
    }
    testing::ScopedEnv empty(kUnitDirEnv, "");
    EXPECT_EQ(unit_directory(), kDefaultUnitDir);
    EXPECT_EQ(unit_name("QuietwayUpdater"), "QuietwayUpdater.service");
}

}  // namespace
}  // namespace quietway
