#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <thread>

#include "common/os/unique_fd.h"
#include "common/process/launcher.h"
#include "common/process/process_kill.h"
#include "common/process/run_program.h"
#include "common/process/session_user_posix.h"
#include "common/process/spawn_posix.h"
#include "tests/common/process/child_program.h"
#include "tests/support/test_support.h"

namespace quietway {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::wait_until;
using testing::write_file;

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

void make_executable_script(const std::filesystem::path& path, const std::string& body) {
    write_file(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
}

// A listening socket file, as a session bus or compositor leaves one.
class SocketFile {
public:
    explicit SocketFile(const std::filesystem::path& path)
        : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~SocketFile() { ::close(fd_); }
    bool bound() const { return bound_; }

private:
    int fd_;
    bool bound_ = false;
};

TEST(RunInUserSession, WithoutAnActiveSessionFailsAndStartsNothing) {
    char* session = nullptr;
    if (sd_seat_get_active("seat0", &session, nullptr) >= 0) {
        free(session);
        GTEST_SKIP() << "a user session is active on seat0 here";
    }
    // Had it been started, the program would be running under its name when the call
    // returns: a start returns once the program is executing, and this one then waits.
    TempDir dir;
    const std::string name = testing::unique_name("qwu");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    make_executable_script(dir / name, "read x < " + (dir / "fifo").string() + "\n");
    EXPECT_FALSE(run_in_user_session((dir / name).c_str()));
    EXPECT_FALSE(kill_processes_by_name(name));
}

TEST(RunInUserSession, RefusesAnythingButAFullPath) {
    EXPECT_FALSE(run_in_user_session("quietway_tray"));
    EXPECT_FALSE(run_in_user_session(""));
    EXPECT_FALSE(run_in_user_session(nullptr));
}

TEST(SessionEnvironment, NamesTheUsersDirectoriesBusAndDisplays) {
    TempDir runtime;
    const auto user_dir = runtime / "1000";
    std::filesystem::create_directory(user_dir);
    SocketFile bus(user_dir / "bus");
    SocketFile wayland(user_dir / "wayland-0");
    ASSERT_TRUE(bus.bound() && wayland.bound());

    posix::UserIdentity user;
    user.uid = 1000;
    user.name = "ada";
    user.home = "/home/ada";
    user.shell = "/bin/bash";
    posix::ActiveSession session{"4", 1000, "user", "wayland", ":0"};
    const auto env = posix::session_environment(user, session, runtime.str());
    for (const std::string& expected :
         {std::string("HOME=/home/ada"), std::string("USER=ada"), std::string("LOGNAME=ada"),
          std::string("SHELL=/bin/bash"), std::string("XDG_SESSION_ID=4"),
          std::string("XDG_SESSION_TYPE=wayland"), "XDG_RUNTIME_DIR=" + user_dir.string(),
          "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (user_dir / "bus").string(),
          std::string("WAYLAND_DISPLAY=wayland-0"), std::string("DISPLAY=:0")}) {
        EXPECT_TRUE(contains(env, expected)) << expected;
    }
}

TEST(SessionEnvironment, LeavesOutWhatTheSessionDoesNotHave) {
    TempDir runtime;
    std::filesystem::create_directory(runtime / "1000");
    posix::UserIdentity user;
    user.uid = 1000;
    user.name = "ada";
    user.home = "/home/ada";
    user.shell = "/bin/sh";
    const auto env =
        posix::session_environment(user, {"5", 1000, "user", "x11", ""}, runtime.str());
    for (const std::string& entry : env) {
        EXPECT_NE(entry.rfind("DBUS_SESSION_BUS_ADDRESS=", 0), 0u) << entry;
        EXPECT_NE(entry.rfind("WAYLAND_DISPLAY=", 0), 0u) << entry;
        EXPECT_NE(entry.rfind("DISPLAY=", 0), 0u) << entry;
    }
    EXPECT_TRUE(contains(env, "XDG_RUNTIME_DIR=" + (runtime / "1000").string()));
}

TEST(SessionEnvironment, ReadsOnlyWholeWellFormedEntriesWithinTheBound) {
    TempDir dir;
    using namespace std::string_literals;
    const std::string data =
        "DISPLAY=:1\0XAUTHORITY=/run/user/1000/gdm/Xauthority\0"
        "no_equals_sign\0=empty_name\0"
        "1X=digit first\0A-B=dash\0"
        "BAD=line\nbreak\0DISPLAY=:9\0LANG=C.UTF-8\0EDITOR=vi\0"
        "WAYLAND_DISPLAY=cut-off-here"s;
    write_file(dir / "environ", data);
    struct Case {
        size_t bound;
        std::vector<std::string> entries;
    };
    const std::vector<std::string> all{"DISPLAY=:1", "XAUTHORITY=/run/user/1000/gdm/Xauthority",
                                       "DISPLAY=:9", "LANG=C.UTF-8", "EDITOR=vi"};
    for (const Case& c :
         {Case{data.size(), all}, Case{1 << 20, all},
          Case{std::string("DISPLAY=:1").size() + 4, {"DISPLAY=:1"}}, Case{5, {}}}) {
        std::vector<std::string> entries{"stale"};
        ASSERT_TRUE(posix::read_environment_file((dir / "environ").string(), c.bound, entries));
        EXPECT_EQ(entries, c.entries) << "bound " << c.bound;
    }
    std::vector<std::string> none;
    EXPECT_FALSE(posix::read_environment_file((dir / "missing").string(), 1024, none));

    // A desktop program gets the session's display, authority and language, nothing else, and
    // the first of two entries of one name.
    EXPECT_EQ(posix::desktop_variables(all),
              (std::vector<std::string>{"DISPLAY=:1", "XAUTHORITY=/run/user/1000/gdm/Xauthority",
                                        "LANG=C.UTF-8"}));
}

TEST(SessionEnvironment, TheSessionsOwnVariablesReplaceTheGuesses) {
    TempDir runtime;
    const auto user_dir = runtime / "1000";
    std::filesystem::create_directory(user_dir);
    SocketFile wayland(user_dir / "wayland-0");
    ASSERT_TRUE(wayland.bound());
    posix::UserIdentity user;
    user.uid = 1000;
    user.name = "ada";
    user.home = "/home/ada";
    user.shell = "/bin/sh";
    const posix::ActiveSession session{"4", 1000, "user", "wayland", ":0"};
    const auto env = posix::session_environment(user, session, runtime.str(),
                                                {"DISPLAY=:1", "XAUTHORITY=/home/ada/.Xauthority"});
    EXPECT_TRUE(contains(env, "DISPLAY=:1"));
    EXPECT_FALSE(contains(env, "DISPLAY=:0"));
    EXPECT_TRUE(contains(env, "XAUTHORITY=/home/ada/.Xauthority"));
    EXPECT_TRUE(contains(env, "HOME=/home/ada"));
    for (const std::string& entry : env) EXPECT_NE(entry.rfind("WAYLAND_DISPLAY=", 0), 0u);
}

TEST(StartAsUser, RunsTheProgramDetachedWithTheUsersIdentityAndTheGivenEnvironment) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to change identity";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    posix::UserIdentity user;
    ASSERT_TRUE(posix::lookup_user(nobody->pw_uid, user));

    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const auto report = dir / "report";
    make_executable_script(dir / "program",
                           "{ id -u; id -g; id -G; pwd; echo \"$HOME|$USER|$QUIETWAY_PROBE\"; "
                           "grep '^PPid:' /proc/$$/status; echo \"$#\"; } > \"$REPORT.tmp\"\n"
                           "mv \"$REPORT.tmp\" \"$REPORT\"\n");
    const std::vector<std::string> env = {"HOME=/nowhere-home", "USER=nobody",
                                          "QUIETWAY_PROBE=a b \"c\"", "REPORT=" + report.string(),
                                          "PATH=/usr/bin:/bin"};
    ASSERT_TRUE(posix::start_as_user(user, (dir / "program").string(), env));
    ASSERT_TRUE(wait_until([&] { return std::filesystem::exists(report); }));

    const std::string expected_groups = [&] {
        std::string text;
        for (const gid_t gid : user.groups) text += (text.empty() ? "" : " ") + std::to_string(gid);
        return text;
    }();
    const std::string text = read_file(report);
    const std::string expected =
        std::to_string(user.uid) + "\n" + std::to_string(user.gid) + "\n" + expected_groups + "\n";
    EXPECT_EQ(text.substr(0, expected.size()), expected) << text;
    // The user's home does not exist, so the program starts in "/".
    EXPECT_NE(text.find("\n/\n/nowhere-home|nobody|a b \"c\"\n"), std::string::npos) << text;
    // Not our child: the middle process ended and the program was adopted.
    EXPECT_EQ(text.find("PPid:\t" + std::to_string(::getpid()) + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n0\n"), std::string::npos) << "program got arguments: " << text;
}

TEST(StartAsUser, FailsForAMissingProgram) {
    posix::UserIdentity user;
    ASSERT_TRUE(posix::lookup_user(::getuid(), user));
    EXPECT_FALSE(posix::start_as_user(user, "/nonexistent/quietway-program", {"PATH=/bin"}));
}

// On Linux a script runs under its interpreter; its process name is the script's name, as a
// stand-in tool's would be.
TEST(KillByImageName, EndsScriptsByTheirNameAndTellsLongNamesApart) {
    TempDir dir;
    const std::string short_name = testing::unique_name("qws");
    const std::string long_name = testing::unique_name("quietway_long_") + "_a";
    const std::string long_twin = long_name.substr(0, long_name.size() - 1) + "b";
    for (const std::string& name : {short_name, long_name, long_twin}) {
        // Blocks in the shell itself (no child process) until it is ended.
        make_executable_script(dir / name,
                               "mkfifo \"$0.fifo\"\ntouch \"$0.mark\"\nread x < \"$0.fifo\"\n");
    }
    const std::string names[] = {short_name, long_name, long_twin};
    RunResult results[3];
    std::vector<std::thread> runners;
    for (int i = 0; i < 3; ++i) {
        runners.emplace_back([&, i] {
            results[i] = run_program({(dir / names[i]).string()}, {.time_limit_ms = 90000});
        });
    }
    ASSERT_TRUE(wait_until([&] {
        return std::filesystem::exists(dir / (short_name + ".mark")) &&
               std::filesystem::exists(dir / (long_name + ".mark")) &&
               std::filesystem::exists(dir / (long_twin + ".mark"));
    }));
    EXPECT_TRUE(kill_processes_by_name(short_name));
    EXPECT_TRUE(kill_processes_by_name(long_name));
    // The twin with the same first 15 bytes outlived both: let go now, it ends by itself. Its
    // pipe opens for writing only while it is there to read.
    const std::string twin_fifo = (dir / (long_twin + ".fifo")).string();
    UniqueFd release;
    EXPECT_TRUE(wait_until([&] {
        release.reset(::open(twin_fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        return release.valid() && ::write(release.get(), "go\n", 3) == 3;
    })) << "the twin was ended too";
    release.reset();
    for (std::thread& runner : runners) runner.join();
    EXPECT_EQ(results[0].exit_code, 128u + SIGKILL);
    EXPECT_EQ(results[1].exit_code, 128u + SIGKILL);
    EXPECT_EQ(results[2].exit_code, 0u);
}

// The engine's tunnel program must end with the engine, even one killed outright: the child
// gets its signal when the thread that started it ends, and only then.
TEST(SpawnProcess, AParentDeathSignalEndsTheChildWithTheStartingThread) {
    posix::SpawnResult with_signal, without;
    std::thread([&] {
        posix::SpawnRequest request;
        request.path = "/bin/sleep";
        request.args = {"sleep", "1000"};
        without = posix::spawn_process(request);
        request.parent_death_signal = SIGTERM;
        with_signal = posix::spawn_process(request);
    }).join();
    ASSERT_TRUE(with_signal.ok && without.ok);
    int status = 0;
    EXPECT_TRUE(wait_until(
        [&] { return ::waitpid(with_signal.pid, &status, WNOHANG) == with_signal.pid; }));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(::waitpid(without.pid, &status, WNOHANG), 0) << "a child without one ended too";
    ::kill(without.pid, SIGKILL);
    ::waitpid(without.pid, &status, 0);
}

}  // namespace
}  // namespace quietway
