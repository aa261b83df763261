// quietway_firewall as a real process inside namespaces the tests create.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/store/store.h"
#include "tests/firewall/lab/netns_lab.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

using lab::NetnsLab;
using lab::NetnsScope;
using lab::tcp_connects;
using testing::wait_until;

constexpr uint16_t kPort = 7101;

class FirewallProgramLab : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(net_.error(), "");
        NetnsScope server(net_.server());
        listener_ = std::make_unique<lab::TcpListener>(kPort);
        ASSERT_TRUE(listener_->listening());
    }

    void install_servers() {
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\app", "app_dir",
                                      "/opt/quietway"));
        ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 3));
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\servers\\1",
                                      "address_ip", "10.99.0.1"));
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\servers\\3",
                                      "address_ip", "10.99.0.4"));
    }

    std::string log_text() const { return log_.text(); }
    bool logged(const std::string& piece) const { return log_.contains(piece); }
    std::unique_ptr<testing::ChildProcess> start_program(int input = -1) {
        return std::make_unique<testing::ChildProcess>(
            std::vector<std::string>{"ip", "netns", "exec", net_.client(), FIREWALL_PROGRAM_PATH},
            testing::ChildOptions{.input = input});
    }
    // The program has reached its wait for a stop, where only a signal or a key ends it: it
    // then holds a signal descriptor.
    static bool waits_for_stop(const testing::ChildProcess& program) {
        std::error_code error;
        const std::filesystem::path fds = "/proc/" + std::to_string(program.pid()) + "/fd";
        for (const auto& fd : std::filesystem::directory_iterator(fds, error)) {
            if (std::filesystem::read_symlink(fd.path(), error) == "anon_inode:[signalfd]")
                return true;
        }
        return false;
    }
    bool connects(const char* address) {
        NetnsScope client(net_.client());
        return tcp_connects(address, kPort);
    }

    testing::TempStore store_;
    testing::LogCapture log_{kFirewallLogFile};
    NetnsLab net_;
    std::unique_ptr<lab::TcpListener> listener_;
};

TEST_F(FirewallProgramLab, HoldsTheSwitchWithoutInputAndLeavesNothingWhenKilled) {
    install_servers();
    auto program = start_program();
    ASSERT_TRUE(program->started());
    ASSERT_TRUE(wait_until([&] { return logged("Firewall started successfully..."); }))
        << log_text();

    // Standard input is /dev/null and already at its end: the program keeps holding.
    ASSERT_TRUE(wait_until([&] { return waits_for_stop(*program); }));
    EXPECT_TRUE(program->running());
    ASSERT_EQ(net_.client_tables().size(), 1u);
    EXPECT_TRUE(connects("10.99.0.1"));
    EXPECT_TRUE(connects("10.99.0.4"));
    EXPECT_FALSE(connects("10.99.0.3"));

    EXPECT_EQ(program->kill(), testing::kKilledExitCode);
    EXPECT_FALSE(program->running());
    EXPECT_TRUE(wait_until([&] { return net_.client_tables().empty(); }));
    EXPECT_TRUE(connects("10.99.0.3"));
}

TEST_F(FirewallProgramLab, StoppedItRemovesTheSwitchAndExitsWithZero) {
    install_servers();
    auto program = start_program();
    ASSERT_TRUE(wait_until([&] { return logged("Firewall started successfully..."); }))
        << log_text();
    ASSERT_FALSE(connects("10.99.0.3"));

    ASSERT_TRUE(program->request_stop());
    EXPECT_EQ(program->wait(std::chrono::seconds(10)), 0);
    EXPECT_TRUE(net_.client_tables().empty());
    EXPECT_TRUE(connects("10.99.0.3"));
}

TEST_F(FirewallProgramLab, AKeyPressOnItsTerminalEndsIt) {
    install_servers();
    int terminal = -1;
    int program_side = -1;
    ASSERT_EQ(openpty(&terminal, &program_side, nullptr, nullptr, nullptr), 0);
    auto program = start_program(program_side);
    close(program_side);
    ASSERT_TRUE(wait_until([&] { return logged("Firewall started successfully..."); }))
        << log_text();
    ASSERT_TRUE(wait_until([&] { return waits_for_stop(*program); }));
    EXPECT_TRUE(program->running());
    ASSERT_FALSE(connects("10.99.0.3"));

    ASSERT_EQ(write(terminal, "q", 1), 1);  // one key, no Enter
    const auto status = program->wait(std::chrono::seconds(10));
    close(terminal);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(net_.client_tables().empty());
    EXPECT_TRUE(connects("10.99.0.3"));
}

TEST_F(FirewallProgramLab, WithoutAServerListItEndsAtOnce) {
    auto program = start_program();
    EXPECT_EQ(program->wait(std::chrono::seconds(10)), 0);
    EXPECT_TRUE(logged("Can't get last index of server")) << log_text();
    EXPECT_TRUE(net_.client_tables().empty());
}

TEST_F(FirewallProgramLab, WithoutATunDeviceItWaitsBlockingNothing) {
    install_servers();
    ASSERT_EQ(lab::run_program({"ip", "-n", net_.client(), "link", "del", NetnsLab::kTunName}), 0);
    auto program = start_program();
    ASSERT_TRUE(wait_until([&] { return logged("Error starting firewall. GetLastError() 0x"); }))
        << log_text();
    EXPECT_TRUE(logged("No TAP adapters found!"));
    EXPECT_TRUE(program->running());
    EXPECT_TRUE(connects("10.99.0.3"));
}

}  // namespace
}  // namespace quietway
