#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/process/run_program.h"
#include "common/process/session_user_posix.h"
#include "service/privacy/proxy_switch.h"
#include "service/privacy/proxy_switch_posix.h"
#include "tests/support/test_support.h"

namespace quietway {
namespace {

using testing::TempDir;
using testing::wait_until;

// A throwaway desktop session of the unprivileged user "nobody": a home and runtime directory
// of its own and, unless told otherwise, a private session bus (otherwise an address where
// nothing listens). The desktop's settings service
// is started by that bus as nobody and writes only below the temporary home.
class PrivateDesktop {
public:
    explicit PrivateDesktop(bool with_bus) {
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr || !posix::lookup_user(nobody->pw_uid, who_.user)) return;
        who_.user.home = home_.str();
        std::filesystem::create_directory(runtime());
        for (const auto& dir : {home_.path(), runtime()}) {
            if (::chown(dir.c_str(), who_.user.uid, who_.user.gid) != 0) return;
            ::chmod(dir.c_str(), 0700);
        }
        who_.env = {"HOME=" + home_.str(), "USER=nobody", "LOGNAME=nobody", "PATH=/usr/bin:/bin",
                    "XDG_RUNTIME_DIR=" + runtime().string()};
        const std::string bus = (runtime() / "bus").string();
        who_.env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + bus);
        if (!with_bus) {
            ready_ = true;
            return;
        }
        posix::SpawnRequest request;
        if (!posix::find_executable("dbus-daemon", request.path)) return;
        request.args = {request.path, "--session", "--nofork", "--address=unix:path=" + bus};
        request.env = &who_.env;
        request.user = &who_.user;
        // Services the bus starts stay in its group, so one signal ends them all.
        request.new_process_group = true;
        request.working_dir = "/";
        const posix::SpawnResult started = posix::spawn_process(request);
        if (!started.ok) return;
        bus_pid_ = started.pid;
        ready_ = wait_until([&] { return std::filesystem::exists(bus); });
    }
    ~PrivateDesktop() {
        if (bus_pid_ <= 0) return;
        ::kill(-bus_pid_, SIGTERM);
        while (::waitpid(bus_pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }

    bool ready() const { return ready_; }
    const posix::ConsoleUser& user() const { return who_; }
    std::filesystem::path settings_file() const { return home_ / ".config/dconf/user"; }

    // A key's value as the settings tool prints it, read as nobody by a separate route.
    std::string get(const std::string& schema, const std::string& key) const {
        std::vector<std::string> args = {"setpriv",
                                         "--reuid=" + std::to_string(who_.user.uid),
                                         "--regid=" + std::to_string(who_.user.gid),
                                         "--clear-groups",
                                         "env",
                                         "-i"};
        args.insert(args.end(), who_.env.begin(), who_.env.end());
        args.insert(args.end(), {"gsettings", "get", schema, key});
        std::string output;
        const RunResult result = run_program(args, {.time_limit_ms = 30000, .output = &output});
        return result.started && result.exit_code == 0 ? output : "failed: " + output;
    }

private:
    std::filesystem::path runtime() const { return home_ / "run"; }

    TempDir home_;
    posix::ConsoleUser who_;
    pid_t bus_pid_ = -1;
    bool ready_ = false;
};

class DesktopProxy : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    }
};

TEST_F(DesktopProxy, SwitchesReadBackAsTheUsersOwnSettings) {
    PrivateDesktop desktop(true);
    ASSERT_TRUE(desktop.ready());
    struct Case {
        const char* port;
        bool on;
        const char* mode;
        const char* address_port;  // what both addresses' ports read afterwards
    };
    // Off leaves the addresses as they were: only the mode says whether they are used.
    for (const Case& c :
         {Case{"50000", true, "'manual'\n", "50000\n"}, Case{"", false, "'none'\n", "50000\n"},
          Case{"8080", true, "'manual'\n", "8080\n"}, Case{"1", true, "'manual'\n", "1\n"},
          Case{"65535", false, "'none'\n", "1\n"}}) {
        SCOPED_TRACE(std::string(c.port) + (c.on ? " on" : " off"));
        ASSERT_TRUE(posix::apply_desktop_proxy(desktop.user(), c.port, c.on));
        EXPECT_EQ(desktop.get("org.gnome.system.proxy", "mode"), c.mode);
        for (const char* schema : {"org.gnome.system.proxy.http", "org.gnome.system.proxy.https"}) {
            EXPECT_EQ(desktop.get(schema, "host"), "'127.0.0.1'\n") << schema;
            EXPECT_EQ(desktop.get(schema, "port"), c.address_port) << schema;
        }
        EXPECT_EQ(desktop.get("org.gnome.system.proxy", "ignore-hosts"),
                  "['localhost', '127.0.0.0/8', '::1', '*.local']\n");
    }
    // The user's settings service wrote the user's file; root wrote nothing of theirs.
    struct stat file {};
    ASSERT_EQ(::stat(desktop.settings_file().c_str(), &file), 0);
    EXPECT_EQ(file.st_uid, desktop.user().user.uid);
}

TEST_F(DesktopProxy, ABadPortChangesNothing) {
    PrivateDesktop desktop(true);
    ASSERT_TRUE(desktop.ready());
    for (const char* port : {"", "0", "65536", "80a", " 80", "-1", "050000"}) {
        EXPECT_FALSE(posix::apply_desktop_proxy(desktop.user(), port, true)) << port;
    }
    EXPECT_EQ(desktop.get("org.gnome.system.proxy", "mode"), "'none'\n");
    EXPECT_FALSE(std::filesystem::exists(desktop.settings_file()));
}

TEST_F(DesktopProxy, WithoutASessionBusReportsFailureAndKeepsNothing) {
    PrivateDesktop desktop(false);
    ASSERT_TRUE(desktop.ready());
    // The tool exits with 0 when the bus does not answer; only the mode read back tells.
    EXPECT_FALSE(posix::apply_desktop_proxy(desktop.user(), "50000", true));
    posix::ConsoleUser without_address = desktop.user();
    std::erase_if(without_address.env, [](const std::string& e) {
        return e.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) == 0;
    });
    EXPECT_FALSE(posix::apply_desktop_proxy(without_address, "50000", true));
    EXPECT_FALSE(std::filesystem::exists(desktop.settings_file()));
    EXPECT_EQ(desktop.get("org.gnome.system.proxy", "mode"), "'none'\n");
}

TEST(SetSystemProxy, WithNobodyAtTheConsoleReturnsFalse) {
    char* session = nullptr;
    if (sd_seat_get_active("seat0", &session, nullptr) >= 0) {
        free(session);
        GTEST_SKIP() << "a session is active on seat0 here";
    }
    EXPECT_FALSE(set_system_proxy("50000", true));
    EXPECT_FALSE(set_system_proxy("", false));
}

}  // namespace
}  // namespace quietway
