// The Linux host as systemd drives it: notifications on a real notification socket, SIGTERM
// and SIGINT as stop controls, the unit file, and systemctl replaced by a script that
// records its arguments and answers "is-active" from a list of states.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/service_host/quietway_service.h"
#include "common/service_host/systemd_sandbox.h"
#include "tests/common/service_host/process_test.h"

namespace quietway::testing {
namespace {

// The receiving end of sd_notify: a unix datagram socket bound to a path.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() {
        if (fd_ >= 0) close(fd_);
        unlink(path_.c_str());
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool bound() const { return bound_; }

    // The next message, or "" when none came within the limit.
    std::string receive(int limit_ms = 10000) {
        pollfd entry{fd_, POLLIN, 0};
        if (poll(&entry, 1, limit_ms) != 1) return {};
        char buffer[4096];
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
    }

private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

const char* kStartPending = "STATUS=start pending\nEXTEND_TIMEOUT_USEC=3000000";
const char* kRunning = "READY=1\nSTATUS=running";
const char* kStopPending = "STOPPING=1\nSTATUS=stop pending\nEXTEND_TIMEOUT_USEC=11000000";
const char* kStopped = "STATUS=stopped";

class SystemdServiceTest : public ProcessTest {
protected:
    SystemdServiceTest()
        : socket_((dir_ / "notify").string()),
          notify_env_("NOTIFY_SOCKET", (dir_ / "notify").string()) {}

    NotifySocket socket_;
    ScopedEnv notify_env_;
};

TEST_F(SystemdServiceTest, ReportsEveryStateAndStopsOnSigterm) {
    ASSERT_TRUE(socket_.bound());
    // A slow destruction shows that "stopped" waits for it.
    ScopedEnv slow_destruction(kDestroyDelayEnv, "300");
    ChildProcess child;
    ASSERT_TRUE(child.start({HOST_TEST_ENGINE}, child_options()));
    EXPECT_EQ(socket_.receive(), kStartPending);
    EXPECT_EQ(socket_.receive(), kStartPending);
    EXPECT_EQ(socket_.receive(), kRunning);
    ASSERT_TRUE(wait_for_event("run")) << events();
    ASSERT_TRUE(child.request_stop());
    EXPECT_EQ(socket_.receive(), kStopPending);
    EXPECT_EQ(socket_.receive(), kStopped);
    EXPECT_EQ(events(), kFullLifecycle);
    // Success to systemd: a stop is no reason to restart.
    EXPECT_EQ(child.wait(std::chrono::seconds(10)), 0);
    EXPECT_EQ(socket_.receive(200), "");

    const std::string log = program_log();
    EXPECT_NE(log.find("Quietway2 Service running"), std::string::npos);
    EXPECT_NE(log.find("Quietway2 Service terminated"), std::string::npos);
    EXPECT_EQ(log.find("service status"), std::string::npos);  // reports went to systemd
}

TEST_F(SystemdServiceTest, EndsOnItsOwnWhenInitFails) {
    ASSERT_TRUE(socket_.bound());
    ScopedEnv init_fails(kInitEnv, "fail");
    // A failure to systemd, which Restart=on-failure acts on.
    EXPECT_EQ(run({}), 1);
    EXPECT_EQ(socket_.receive(), kStartPending);
    EXPECT_EQ(socket_.receive(), kStartPending);
    EXPECT_EQ(socket_.receive(), kRunning);
    EXPECT_EQ(socket_.receive(), kStopped);
    EXPECT_EQ(events(), kFailedInitLifecycle);
}

TEST_F(ProcessTest, UnreachableNotificationSocketIsReportedAsEvents) {
    ScopedEnv notify("NOTIFY_SOCKET", (dir_ / "nobody-listens").string());
    EXPECT_EQ(run({}), 1);
    const std::string text = errors();
    const size_t first = text.find("SetServiceStatus() failed");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(text.find("SetServiceStatus() failed", first + 1), std::string::npos) << text;
    // The start report failed, so the service never ran.
    EXPECT_EQ(events(), "");
}

TEST_F(ProcessTest, DispatcherFailureWritesTheSystemTextToTheEventLog) {
    ScopedEnv no_manager("NOTIFY_SOCKET", "");
    EXPECT_EQ(run({}), 0);
    EXPECT_NE(errors().find(std::string("Quietway2[")), std::string::npos) << errors();
    EXPECT_NE(errors().find(std::strerror(ENOTCONN)), std::string::npos) << errors();
}

TEST_F(ProcessTest, CtrlCStopsTheForegroundService) {
    ChildProcess child;
    ASSERT_TRUE(child.start({HOST_TEST_ENGINE, "-f"}, child_options()));
    ASSERT_TRUE(wait_for_event("run")) << events();
    ASSERT_EQ(kill(static_cast<pid_t>(child.pid()), SIGINT), 0);
    EXPECT_EQ(child.wait(std::chrono::seconds(10)), 1);
    EXPECT_EQ(events(), kFullLifecycle);
}

// systemctl replaced by a script: every call is appended to "calls"; "is-active" prints the
// first line of "states" (dropping it while more than one is left); a verb exits with the
// number in "rc.<verb>" when that file exists.
class SystemctlTest : public ProcessTest {
protected:
    SystemctlTest()
        : fake_dir_env_("FAKE_SYSTEMCTL_DIR", dir_.str()),
          systemctl_env_(kSystemctlEnv, (dir_ / "systemctl").string()) {
        write_file(
            dir_ / "systemctl",
            "#!/bin/sh\n"
            "echo \"$*\" >> \"$FAKE_SYSTEMCTL_DIR/calls\"\n"
            "if [ \"$1\" = is-active ]; then\n"
            "  states=\"$FAKE_SYSTEMCTL_DIR/states\"\n"
            "  state=$(head -n 1 \"$states\")\n"
            "  [ \"$(wc -l < \"$states\")\" -gt 1 ] && sed -i 1d \"$states\"\n"
            "  echo \"$state\"\n"
            "  [ \"$state\" = active ] && exit 0\n"
            "  exit 3\n"
            "fi\n"
            "[ -f \"$FAKE_SYSTEMCTL_DIR/rc.$1\" ] && exit $(cat \"$FAKE_SYSTEMCTL_DIR/rc.$1\")\n"
            "exit 0\n");
        chmod((dir_ / "systemctl").c_str(), 0755);
        states({"inactive"});
    }

    void states(const std::vector<std::string>& list) {
        std::string text;
        for (const std::string& state : list) text += state + "\n";
        write_file(dir_ / "states", text);
    }
    std::string calls() const { return read_file(dir_ / "calls"); }
    void clear_calls() { std::filesystem::remove(dir_ / "calls"); }
    std::filesystem::path unit_file() const { return dir_ / "units" / "Quietway2.service"; }

    ScopedEnv fake_dir_env_;
    ScopedEnv systemctl_env_;
};

TEST_F(SystemctlTest, InstallWritesTheUnitAndEnablesIt) {
    EXPECT_EQ(run({"-i"}), 1);
    std::string expected;
    ASSERT_TRUE(build_unit_text(
        {"Quietway2 Service", HOST_TEST_ENGINE, "", unit_sandbox("Quietway2")}, expected));
    EXPECT_EQ(read_file(unit_file()), expected);
    EXPECT_NE(expected.find("Type=notify\n"), std::string::npos);
    EXPECT_NE(expected.find("Restart=on-failure\n"), std::string::npos);
    EXPECT_EQ(calls(), "daemon-reload\nenable Quietway2.service\n");
    EXPECT_NE(errors().find("Service installed"), std::string::npos);
    struct stat info {};
    ASSERT_EQ(stat(unit_file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    // No temporary file is left beside the unit.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "units"), {}), 1);
}

TEST_F(SystemctlTest, UnitFromAnAwkwardPathPassesSystemdVerification) {
    const char* analyze = "/usr/bin/systemd-analyze";
    if (access(analyze, X_OK) != 0) GTEST_SKIP() << "systemd-analyze is not installed";
    const std::filesystem::path folder = dir_ / "My Apps" / "50% of $HOME";
    std::filesystem::create_directories(folder);
    const std::string program = (folder / "quietway_service").string();
    std::filesystem::copy_file(HOST_TEST_ENGINE, program);
    ASSERT_EQ(run({"-i"}, program.c_str()), 1);
    EXPECT_EQ(run_child({analyze, "verify", unit_file().string()}, child_options()), 0) << errors();
    EXPECT_EQ(errors().find("Quietway2.service:"), std::string::npos) << errors();
}

TEST_F(SystemctlTest, PathSystemdCannotStartIsRefused) {
    const std::filesystem::path folder = dir_ / "quote\"d";
    std::filesystem::create_directories(folder);
    const std::string program = (folder / "quietway_service").string();
    std::filesystem::copy_file(HOST_TEST_ENGINE, program);
    EXPECT_EQ(run({"-i"}, program.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(unit_file()));
    EXPECT_NE(program_log().find("cannot be written into a unit"), std::string::npos);
}

TEST_F(SystemctlTest, InstallUnderAnAccountIgnoresThePassword) {
    EXPECT_EQ(run({"-i", "-l", "quietway", "-p", "secret"}), 1);
    EXPECT_NE(read_file(unit_file()).find("\nUser=quietway\n"), std::string::npos);
    EXPECT_NE(program_log().find("the password is ignored"), std::string::npos);
    EXPECT_EQ(program_log().find("secret"), std::string::npos);
}

TEST_F(SystemctlTest, InstallUnderAnAccountGivenAttached) {
    EXPECT_EQ(run({"-lquietway", "-psecret", "-i"}), 1);
    EXPECT_NE(read_file(unit_file()).find("\nUser=quietway\n"), std::string::npos);
}

TEST_F(SystemctlTest, InstallRefusesAnAccountThatIsNoUserName) {
    EXPECT_EQ(run({"-i", "-l", "root\nExecStartPre=/bin/sh"}), 0);
    EXPECT_FALSE(std::filesystem::exists(unit_file()));
    EXPECT_EQ(calls(), "");
}

TEST_F(SystemctlTest, SecondInstallFailsAndKeepsTheUnit) {
    ASSERT_EQ(run({"-i", "-l", "first"}), 1);
    const std::string unit = read_file(unit_file());
    EXPECT_EQ(run({"-i"}), 0);
    EXPECT_EQ(read_file(unit_file()), unit);
}

TEST_F(SystemctlTest, FailedEnableRemovesTheUnitAgain) {
    write_file(dir_ / "rc.enable", "1");
    EXPECT_EQ(run({"-i"}), 0);
    EXPECT_FALSE(std::filesystem::exists(unit_file()));
}

TEST_F(SystemctlTest, InstallThenRemoveOnOneLineRemoves) {
    EXPECT_EQ(run({"-i", "-u"}), 0);  // nothing was installed to remove
    EXPECT_FALSE(std::filesystem::exists(unit_file()));
    EXPECT_EQ(calls(), "");
}

TEST_F(SystemctlTest, RemoveStopsDisablesAndDeletes) {
    ASSERT_EQ(run({"-i"}), 1);
    clear_calls();
    states({"deactivating", "deactivating", "inactive"});
    EXPECT_EQ(run({"-u"}), 1);
    EXPECT_FALSE(std::filesystem::exists(unit_file()));
    EXPECT_EQ(calls(),
              "stop Quietway2.service\n"
              "is-active Quietway2.service\nis-active Quietway2.service\n"
              "is-active Quietway2.service\n"
              "disable Quietway2.service\ndaemon-reload\n");
}

TEST_F(SystemctlTest, RemoveOfAMissingUnitFails) {
    EXPECT_EQ(run({"-u"}), 0);
    EXPECT_EQ(calls(), "");
}

TEST_F(SystemctlTest, StartPollsWhileActivating) {
    states({"inactive", "activating", "activating", "active"});
    EXPECT_EQ(run({"-s"}), 1);
    EXPECT_EQ(calls(),
              "is-active Quietway2.service\nstart Quietway2.service\n"
              "is-active Quietway2.service\nis-active Quietway2.service\n"
              "is-active Quietway2.service\n");
}

TEST_F(SystemctlTest, StartFailsWhenTheServiceFailsToStart) {
    states({"failed", "activating", "failed"});
    EXPECT_EQ(run({"-s"}), 0);
    EXPECT_NE(calls().find("start Quietway2.service\n"), std::string::npos);
}

TEST_F(SystemctlTest, StartFailsWhenSystemctlRefuses) {
    write_file(dir_ / "rc.start", "5");
    EXPECT_EQ(run({"-s"}), 0);
}

TEST_F(SystemctlTest, StartOfARunningServiceFails) {
    states({"active"});
    EXPECT_EQ(run({"-s"}), 0);
    EXPECT_EQ(calls(), "is-active Quietway2.service\n");
}

TEST_F(SystemctlTest, StopPollsWhileDeactivating) {
    states({"active", "deactivating", "deactivating", "inactive"});
    EXPECT_EQ(run({"-e"}), 1);
    EXPECT_EQ(calls(),
              "is-active Quietway2.service\nstop Quietway2.service\n"
              "is-active Quietway2.service\nis-active Quietway2.service\n"
              "is-active Quietway2.service\n");
}

TEST_F(SystemctlTest, StopOfAStoppedServiceFails) {
    states({"inactive"});
    EXPECT_EQ(run({"-e"}), 0);
    EXPECT_EQ(calls(), "is-active Quietway2.service\n");
}

TEST_F(SystemctlTest, MissingSystemctlFailsEveryAction) {
    ScopedEnv missing(kSystemctlEnv, (dir_ / "absent").string());
    EXPECT_EQ(run({"-s"}), 0);
    EXPECT_EQ(run({"-e"}), 0);
    EXPECT_EQ(run({"-i"}), 0);
    EXPECT_FALSE(std::filesystem::exists(unit_file()));
}

TEST(DispatcherTest, OutsideTheManagerTheDispatcherFailsWithNotConnected) {
    ScopedEnv no_manager("NOTIFY_SOCKET", "");
    QuietwayService host(kEngineServiceNames, make_test_application);
    EXPECT_EQ(host.run_dispatcher(), 0);
    EXPECT_EQ(host.last_error(), static_cast<uint32_t>(ENOTCONN));
}

}  // namespace
}  // namespace quietway::testing
