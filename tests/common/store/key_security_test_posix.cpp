#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "common/store/notification_store.h"
#include "common/store/server_store.h"
#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

struct Attempt {
    const char* what;
    std::function<bool()> run;
    bool allowed;
};

// The tray runs as the logged-on user: a process of another, unprivileged user may change and
// delete notifications, but must not change a server, which the engine trusts with the
// account's password.
class KeySecurityTest : public testing::StoreTest {};

TEST_F(KeySecurityTest, AnotherUserChangesNotificationsButNoServer) {
    if (::geteuid() != 0) GTEST_SKIP() << "switching to another user needs root";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    std::filesystem::permissions(store_.root(), std::filesystem::perms(0755));

    ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 2));
    ASSERT_TRUE(create_reg_dword(kServersPath, "activated", 0));
    ServerRecord server{3, "Three", "vpn3.example", "10.3.0.3", kServerReady};
    ASSERT_TRUE(create_server(server));
    for (const int32_t id : {5, 6}) {
        NotificationRecord notification;
        notification.id = id;
        ASSERT_TRUE(create_notification(notification));
    }

    ServerRecord evil{3, "Three", "attacker.example", "192.0.2.66", kServerReady};
    const Attempt attempts[] = {
        {"set a notification's state", [] { return set_notification_state("5", 2); }, true},
        {"delete a notification", [] { return delete_notification("6"); }, true},
        {"rewrite a server", [&] { return write_server("3", evil); }, false},
        {"change a server's address",
         [] { return write_reg_string("SOFTWARE\\Quietway2\\servers\\3", "address", "x"); }, false},
        {"add a server",
         [&] {
             return create_server({4, "Four", "x", "", 0});
         },
         false},
        {"activate a server", [] { return set_activated(3); }, false},
        {"delete a server", [] { return delete_server_entry("3"); }, false},
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
            ::setuid(nobody->pw_uid) != 0)
            ::_exit(255);
        int succeeded = 0;
        for (size_t i = 0; i < std::size(attempts); ++i) succeeded |= attempts[i].run() << i;
        ::_exit(succeeded);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 255) << "cannot become nobody";
    for (size_t i = 0; i < std::size(attempts); ++i)
        EXPECT_EQ((WEXITSTATUS(status) >> i) & 1, attempts[i].allowed ? 1 : 0) << attempts[i].what;

    NotificationRecord read;
    ASSERT_TRUE(read_notification("5", read));
    EXPECT_EQ(read.state, 2);
    EXPECT_FALSE(read_notification("6", read));
    ServerRecord stored;
    ASSERT_TRUE(read_server("3", stored));
    EXPECT_EQ(stored.address, "vpn3.example");
    EXPECT_FALSE(reg_key_exists("SOFTWARE\\Quietway2\\servers\\4"));
}

}  // namespace
}  // namespace quietway
