// Who may have the control API's credential on Linux: the owner of the client's socket, read
// from the kernel's socket tables, must be root or the user at the console.

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sched.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "common/os/unique_fd.h"
#include "service/rpc/peer_owner_posix.h"
#include "tests/service/rpc/rpc_test_fixture.h"

namespace quietway::testing {
namespace {

constexpr uid_t kConsoleUid = 60123;  // neither root nor nobody
enum Outcome { kCredential, kForbidden, kOther };

sockaddr_in bound_address(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return address;
}

TEST(PeerOwner, BothSocketTablesNameTheOwnerOfTheClientsEnd) {
    if (::geteuid() != 0) GTEST_SKIP() << "making a socket as another user needs root";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener.get(), 1), 0);
    address = bound_address(listener.get());
    // A socket belongs to the file-system user of the thread that made it.
    ::setfsuid(nobody->pw_uid);
    UniqueFd client(::socket(AF_INET, SOCK_STREAM, 0));
    ::setfsuid(0);
    ASSERT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    UniqueFd accepted(::accept(listener.get(), nullptr, nullptr));
    const sockaddr_in client_address = bound_address(client.get());
    const TcpEndpoint client_end =
        make_endpoint(false, &client_address.sin_addr, ntohs(client_address.sin_port));
    for (const auto list : {&posix::list_connections_netlink, &posix::list_connections_proc}) {
        std::vector<TcpConnection> rows;
        uint32_t owner = 0;
        ASSERT_TRUE(list(client_end, ntohs(address.sin_port), rows));
        ASSERT_TRUE(find_client_owner(rows, client_end, ntohs(address.sin_port), owner));
        EXPECT_EQ(owner, nobody->pw_uid);
    }
}

// An endpoint whose threads see kConsoleUid active at seat0: they live in a mount namespace of
// their own with a tmpfs over /run/systemd holding the seat's and the session's state files,
// which is where sd-login looks.
class ConsoleSeatEndpoint {
public:
    explicit ConsoleSeatEndpoint(FakeEngine& engine, const std::string& root) {
        thread_ = std::thread([this, &engine, root] {
            std::unique_ptr<RpcHttpServer2> server;
            if (seat_console_user()) server = start_endpoint(engine, root, port_);
            started_.set_value(server != nullptr);
            if (server) finished_.get_future().wait();
        });
        running_ = started_.get_future().get();
    }
    ~ConsoleSeatEndpoint() {
        if (running_) finished_.set_value();
        thread_.join();
    }
    bool running() const { return running_; }
    uint16_t port() const { return port_; }

private:
    static bool seat_console_user() {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", "/run/systemd", "tmpfs", 0, "mode=0755") != 0) {
            return false;
        }
        std::filesystem::create_directories("/run/systemd/seats");
        std::filesystem::create_directories("/run/systemd/sessions");
        write_file("/run/systemd/seats/seat0",
                   "ACTIVE=c1\nACTIVE_UID=" + std::to_string(kConsoleUid) + "\n");
        write_file("/run/systemd/sessions/c1", "CLASS=user\n");
        return true;
    }

    std::thread thread_;
    std::promise<bool> started_;
    std::promise<void> finished_;
    bool running_ = false;
    uint16_t port_ = 0;
};

// A GET of the credential from a child process running as `uid` (with a group of that number).
Outcome credential_as(uid_t uid, uint16_t port, const std::string& authorization) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0))
            ::_exit(kOther);
        const std::string bytes =
            raw_exchange(port, "GET /api/credential HTTP/1.1\r\nHost: 127.0.0.1:" +
                                   std::to_string(port) + "\r\n\r\n")
                .bytes;
        if (bytes.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && bytes.find(authorization) != bytes.npos)
            ::_exit(kCredential);
        ::_exit(bytes.rfind("HTTP/1.1 403 Forbidden\r\n", 0) == 0 ? kForbidden : kOther);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? static_cast<Outcome>(WEXITSTATUS(status)) : kOther;
}

TEST(CredentialOwner, RootAndTheConsoleUserGetItAnyOtherLocalAccountA403) {
    if (::geteuid() != 0) GTEST_SKIP() << "other users and a mount namespace need root";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    StoreSandbox sandbox;
    FakeEngine engine;
    const auto root = sandbox.dir() / "www";
    std::filesystem::create_directories(root);
    ConsoleSeatEndpoint endpoint(engine, root.string());
    ASSERT_TRUE(endpoint.running());
    struct Case {
        const char* who;
        uid_t uid;
        Outcome outcome;
    };
    for (const Case& c : {Case{"root", 0, kCredential}, Case{"console", kConsoleUid, kCredential},
                          Case{"nobody", nobody->pw_uid, kForbidden}}) {
        EXPECT_EQ(credential_as(c.uid, endpoint.port(), HttpSettingsSeed{}.authorization),
                  c.outcome)
            << c.who;
    }
    const std::string refusal = ", a connection of user " + std::to_string(nobody->pw_uid);
    EXPECT_NE(sandbox.service_log().find(refusal), std::string::npos) << sandbox.service_log();
}

}  // namespace
}  // namespace quietway::testing
