#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "firewall/program/firewall_app.h"
#include "tests/firewall/support/recording_filter_platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

using testing::LogCapture;
using testing::PlatformCall;
using testing::RecordingFilterPlatform;

struct SeenPermit {
    uint32_t address;
    uint32_t direction;
    bool operator==(const SeenPermit&) const = default;
};

constexpr uint32_t address_of(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return uint32_t{a} << 24 | uint32_t{b} << 16 | uint32_t{c} << 8 | d;
}

class FirewallAppTest : public ::testing::Test {
protected:
    FirewallAppTest() { platform_.adapters = {7}; }

    void install_app_dir() {
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\app", "app_dir",
                                      "C:\\Quietway"));
    }
    void set_last_index(uint32_t value) {
        ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", value));
    }
    void add_server(const std::string& name, const std::string& address_ip) {
        const std::string path = std::string(kServersPath) + "\\" + name;
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, path.c_str(), "address", "host"));
        ASSERT_TRUE(
            create_reg_string(RootKey::local_machine, path.c_str(), "address_ip", address_ip));
    }

    // Runs the program; while it waits, notes what the filter set holds.
    int run() {
        return run_firewall_app(
            [this] {
                ++firewalls_made_;
                auto firewall = std::make_unique<WfpFirewall>(platform_);
                current_ = firewall.get();
                return firewall;
            },
            [this] {
                ++waits_;
                for (const PermitEntry& entry : current_->permit_list()) {
                    permits_.push_back({entry.address, entry.direction});
                }
                live_while_waiting_ = platform_.live_filters.size();
            });
    }

    testing::TempStore store_;
    LogCapture log_;
    RecordingFilterPlatform platform_;
    WfpFirewall* current_ = nullptr;
    int firewalls_made_ = 0;
    int waits_ = 0;
    std::vector<SeenPermit> permits_;
    size_t live_while_waiting_ = 0;
};

TEST_F(FirewallAppTest, WithoutAServerListItEndsAtOnce) {
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(log_.contains_in_order({"Start:: FirewallApp", "Can't get last index of server"}));
    EXPECT_EQ(firewalls_made_, 0);
    EXPECT_EQ(waits_, 0);
}

TEST_F(FirewallAppTest, AnEmptyServerListInstallsNothing) {
    install_app_dir();
    set_last_index(0);
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(log_.contains("Last index of server = 0"));
    EXPECT_EQ(firewalls_made_, 0);
    EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(FirewallAppTest, WithoutTheInstallationDirectoryInitFails) {
    set_last_index(1);
    add_server("1", "203.0.113.1");
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(log_.contains("init firewall failed"));
    EXPECT_EQ(firewalls_made_, 1);
    EXPECT_EQ(waits_, 0);
    EXPECT_TRUE(platform_.calls.empty());
}

TEST_F(FirewallAppTest, PermitsListedServersThenLoopbackAndGateway) {
    install_app_dir();
    set_last_index(4);
    add_server("1", "203.0.113.1");
    add_server("3", "203.0.113.3");  // server 2 was deleted
    add_server("4", "");             // not resolved yet: no permit
    EXPECT_EQ(run(), 0);

    const std::vector<SeenPermit> expected = {{address_of(203, 0, 113, 1), kPermitRemoteAddress},
                                              {address_of(203, 0, 113, 3), kPermitRemoteAddress},
                                              {address_of(127, 0, 0, 1), kPermitLocalAddress},
                                              {address_of(10, 0, 0, 1), kPermitRemoteAddress}};
    EXPECT_EQ(permits_, expected);
    EXPECT_TRUE(log_.contains_in_order({"Last index of server = 4", "Server ip = 203.0.113.1",
                                        "Server ip = 203.0.113.3", "Server ip = \r\n",
                                        "Firewall started successfully..."}))
        << log_.text();
    EXPECT_EQ(waits_, 1);
    // 2 block-all, 2 adapter, 2 range, 4 permits, held while waiting, all gone afterwards.
    EXPECT_EQ(live_while_waiting_, 10u);
    EXPECT_TRUE(platform_.live_filters.empty());
    EXPECT_FALSE(platform_.engine_is_open);
}

TEST_F(FirewallAppTest, OnlyServerNumbersUpToTheLastIndexCount) {
    install_app_dir();
    set_last_index(2);
    add_server("2", "203.0.113.2");
    add_server("10", "203.0.113.10");  // sorts before "2" as text; beyond the last index
    add_server("01", "203.0.113.99");  // not a server number
    EXPECT_EQ(run(), 0);
    ASSERT_EQ(permits_.size(), 3u);
    EXPECT_EQ(permits_[0].address, address_of(203, 0, 113, 2));
    EXPECT_FALSE(log_.contains("203.0.113.10"));
    EXPECT_FALSE(log_.contains("203.0.113.99"));
}

TEST_F(FirewallAppTest, ADamagedLastIndexDoesNotHang) {
    install_app_dir();
    set_last_index(0xFFFFFFFFu);
    add_server("1", "203.0.113.1");
    add_server("4294967295", "203.0.113.5");
    EXPECT_EQ(run(), 0);
    ASSERT_EQ(permits_.size(), 4u);
    EXPECT_EQ(permits_[1].address, address_of(203, 0, 113, 5));
}

TEST_F(FirewallAppTest, FailedStartLogsItsOwnStatusAndTheProgramStillWaits) {
    struct Case {
        bool adapters;
        uint32_t filter_status;
        const char* line;
    };
    for (const Case& c : {Case{false, 0, "No TAP adapters found!"},
                          Case{true, 0x80320009, "AddRemoveBlockAllFilter failed"}}) {
        install_app_dir();
        set_last_index(1);
        add_server("1", "203.0.113.1");
        platform_.adapters = c.adapters ? std::vector<uint64_t>{7} : std::vector<uint64_t>{};
        platform_.add_filter_status = [&c](const FilterRecord&) { return c.filter_status; };
        waits_ = 0;
        EXPECT_EQ(run(), 0);
        char expected[64];
        std::snprintf(expected, sizeof expected, "Error starting firewall. GetLastError() 0x%X",
                      c.adapters ? c.filter_status : 22u);
        EXPECT_TRUE(log_.contains_in_order({c.line, expected})) << log_.text();
        EXPECT_FALSE(log_.contains("Firewall started successfully"));
        EXPECT_EQ(waits_, 1);
        EXPECT_EQ(live_while_waiting_, 0u);
    }
}

}  // namespace
}  // namespace quietway
