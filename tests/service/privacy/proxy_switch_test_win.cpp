#include <gtest/gtest.h>
#include <windows.h>

#include <wininet.h>

#include <filesystem>
#include <string>

#include "common/store/store.h"
#include "service/privacy/proxy_switch.h"
#include "tests/support/store_fixture.h"
#include "tests/support/test_support.h"

namespace quietway {
namespace {

using testing::ScopedEnv;
using testing::TempDir;
using testing::wait_until;

struct ProxyOptions {
    DWORD flags = 0;
    std::string server;
    std::string bypass;
    bool operator==(const ProxyOptions&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ProxyOptions& o) {
    return out << "flags " << o.flags << " server \"" << o.server << "\" bypass \"" << o.bypass
               << '"';
}

std::string take_text(char* text) {
    std::string copy = text != nullptr ? text : "";
    if (text != nullptr) GlobalFree(text);
    return copy;
}

// The LAN connection's proxy options as the internet settings report them.
bool query_proxy(ProxyOptions& out) {
    INTERNET_PER_CONN_OPTIONA options[3]{};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    INTERNET_PER_CONN_OPTION_LISTA list{};
    list.dwSize = sizeof(list);
    list.dwOptionCount = 3;
    list.pOptions = options;
    DWORD size = sizeof(list);
    if (!InternetQueryOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) {
        return false;
    }
    out.flags = options[0].Value.dwValue;
    out.server = take_text(options[1].Value.pszValue);
    out.bypass = take_text(options[2].Value.pszValue);
    return true;
}

bool under_wine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// Wine keeps only whether a proxy is used and its address: it drops the bypass list and
// reports the flags without the direct bit. Windows keeps all three options as written.
void expect_options(const ProxyOptions& expected) {
    ProxyOptions now;
    ASSERT_TRUE(query_proxy(now));
    if (!under_wine()) {
        EXPECT_EQ(now, expected);
        return;
    }
    EXPECT_EQ(now.flags & PROXY_TYPE_PROXY, expected.flags & PROXY_TYPE_PROXY) << now;
    EXPECT_EQ(now.server, expected.server);
}

// An app dir whose refresher is the test child program, which leaves a mark when started.
class ProxySwitch : public testing::StoreTest {
protected:
    void SetUp() override { std::filesystem::create_directory(app_ / "bin"); }
    void TearDown() override { set_system_proxy("", false); }

    void install_refresher() {
        std::filesystem::copy_file(QUIETWAY_REFRESHER_STAND_IN, app_ / "bin" / "refresh_ie.exe");
    }
    bool set_app_dir() {
        return create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\app", "app_dir",
                                 app_.str());
    }
    bool refresher_ran() {
        return wait_until([&] { return std::filesystem::exists(marker_); });
    }

    TempDir app_;
    TempDir scratch_;
    std::filesystem::path marker_ = scratch_ / "refreshed";
    // The refresher inherits the caller's environment along with the user's.
    ScopedEnv marker_env_{"QUIETWAY_TEST_MARKER", marker_.string()};
};

TEST_F(ProxySwitch, WritesTheUsersOptionsAndStartsTheRefresher) {
    install_refresher();
    ASSERT_TRUE(set_app_dir());
    struct Case {
        const char* port;
        bool on;
        ProxyOptions expected;
    };
    for (const Case& c :
         {Case{"50000", true, {PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY, "127.0.0.1:50000", "<local>"}},
          Case{"", false, {PROXY_TYPE_DIRECT, "", ""}},
          Case{"8080", true, {PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY, "127.0.0.1:8080", "<local>"}},
          Case{"8080", false, {PROXY_TYPE_DIRECT, "", ""}}}) {
        SCOPED_TRACE(std::string(c.port) + (c.on ? " on" : " off"));
        std::filesystem::remove(marker_);
        EXPECT_TRUE(set_system_proxy(c.port, c.on));
        EXPECT_TRUE(refresher_ran());
        expect_options(c.expected);
    }
}

TEST_F(ProxySwitch, WithoutAppDirOrRefresherTheOptionsChangeButTheResultIsFalse) {
    const ProxyOptions on{PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY, "127.0.0.1:50000", "<local>"};
    // No app dir in the store.
    EXPECT_FALSE(set_system_proxy("50000", true));
    expect_options(on);
    EXPECT_FALSE(set_system_proxy("", false));
    expect_options({PROXY_TYPE_DIRECT, "", ""});
    // An app dir without the refresher in it.
    ASSERT_TRUE(set_app_dir());
    EXPECT_FALSE(set_system_proxy("50000", true));
    expect_options(on);
    EXPECT_FALSE(std::filesystem::exists(marker_));
}

TEST_F(ProxySwitch, ABadPortChangesNothingAndStartsNothing) {
    install_refresher();
    ASSERT_TRUE(set_app_dir());
    ASSERT_TRUE(set_system_proxy("", false));
    ASSERT_TRUE(refresher_ran());
    std::filesystem::remove(marker_);
    for (const char* port : {"", "0", "65536", "80a", " 80"}) {
        EXPECT_FALSE(set_system_proxy(port, true)) << port;
    }
    expect_options({PROXY_TYPE_DIRECT, "", ""});
    EXPECT_FALSE(std::filesystem::exists(marker_));
}

}  // namespace
}  // namespace quietway
