// Where the Linux channel lives: what may stand at its path before the server starts.

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "common/os/unique_fd.h"
#include "tests/service/pipe/pipe_test_fixture.h"

namespace quietway::testing {
namespace {

namespace fs = std::filesystem;

class PipeSocketTest : public PipeServerTest {
protected:
    fs::path path() const { return dir_ / "sock" / "qwaypipe"; }
    bool answers() {
        PipeClient client;
        int status = 0;
        return wait_until([&] { return client.send_command(3, status); });
    }
    mode_t mode(const fs::path& file) const {
        struct stat info {};
        EXPECT_EQ(::lstat(file.c_str(), &info), 0);
        return info.st_mode & 07777;
    }
    // A socket bound at the path whose owner is gone.
    void leave_stale_socket() {
        fs::create_directories(path().parent_path());
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path().c_str());
        ASSERT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    }
};

TEST_F(PipeSocketTest, DirectoryAndSocketAreOpenToEveryLocalUser) {
    start();
    ASSERT_TRUE(answers());
    EXPECT_EQ(mode(path().parent_path()), 0755u);
    EXPECT_EQ(mode(path()), 0666u);
}

TEST_F(PipeSocketTest, StaleSocketIsReplaced) {
    leave_stale_socket();
    start();
    EXPECT_TRUE(answers());
}

TEST_F(PipeSocketTest, NonSocketsAtThePathAreLeftAlone) {
    const fs::path target = dir_ / "precious";
    write_file(target, "keep");
    fs::create_directories(path().parent_path());
    for (const bool as_link : {false, true}) {
        fs::remove(path());
        if (as_link) {
            fs::create_symlink(target, path());
        } else {
            write_file(path(), "keep");
        }
        PipeServer server(observer_);
        ASSERT_TRUE(server.start());
        ASSERT_TRUE(wait_until([&] { return !server.running(); }));
        server.stop();
        EXPECT_EQ(read_file(path()), "keep") << as_link;
        EXPECT_EQ(fs::is_symlink(path()), as_link);
    }
    EXPECT_EQ(count("CreatePipe failed error="), 2u);
}

TEST_F(PipeSocketTest, LiveServersSocketIsNotTakenOver) {
    start();
    ASSERT_TRUE(answers());
    PipeServer second(observer_);
    ASSERT_TRUE(second.start());
    ASSERT_TRUE(wait_until([&] { return !second.running(); }));
    second.stop();
    EXPECT_TRUE(log_.contains("CreatePipe failed error="));
    EXPECT_TRUE(answers());  // the first server still owns the path
}

// One account's clients beyond its share are refused as they connect; another is served.
TEST_F(PipeSocketTest, OneUsersClientsBeyondItsShareAreRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "a client of another user needs root";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    start();
    std::vector<std::unique_ptr<PipeClient::Channel>> held;
    while (held.size() < client_limits().per_user) held.push_back(connect());
    ASSERT_TRUE(wait_until([&] { return server_->worker_count() == held.size(); }));
    auto refused = connect();
    send(*refused, make_request(3, true));
    EXPECT_FALSE(receive(*refused).has_value());  // closed at once, nothing carried out
    EXPECT_TRUE(log_.contains("pipe client refused: user 0 has 16 clients"));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int status = 0;
        PipeClient client;
        const bool nobody_now = ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0;
        ::_exit(nobody_now && client.send_command(3, status) && status == 103 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "a client of nobody was not answered";
}

}  // namespace
}  // namespace quietway::testing
