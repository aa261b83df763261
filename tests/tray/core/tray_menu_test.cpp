#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/net/vendor_url.h"
#include "common/store/store.h"
#include "tests/support/log_capture.h"
#include "tests/support/store_fixture.h"
#include "tray/core/tray_menu.h"

namespace quietway::testing {
namespace {

constexpr int64_t kNow = 1700000000;
constexpr const char* kGeneral = "SOFTWARE\\Quietway2\\general";

void put_server(int number, const char* name, uint32_t status) {
    const std::string path = std::string(kServersPath) + "\\" + std::to_string(number);
    if (name != nullptr) {
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, path.c_str(), "name", name));
    }
    ASSERT_TRUE(create_reg_dword(path.c_str(), "status", status));
}

// The entries as "id:text:flags" with flags e (enabled), c (checked); separators as "-".
std::vector<std::string> flat(const std::vector<MenuEntry>& entries) {
    std::vector<std::string> out;
    for (const MenuEntry& entry : entries) {
        if (entry.kind == MenuEntry::Kind::separator) {
            out.push_back("-");
            continue;
        }
        out.push_back(std::to_string(entry.id) + ":" + entry.text + ":" +
                      (entry.enabled ? "e" : "") + (entry.checked ? "c" : ""));
    }
    return out;
}

const MenuEntry& submenu(const std::vector<MenuEntry>& menu) {
    for (const MenuEntry& entry : menu) {
        if (entry.kind == MenuEntry::Kind::submenu) return entry;
    }
    static const MenuEntry none;
    ADD_FAILURE() << "no submenu";
    return none;
}

class TrayMenuTest : public StoreTest {
protected:
    LogCapture log_{"Quietway2Tray.log"};
};

TEST_F(TrayMenuTest, WholeMenuPerStatus) {
    ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 0));
    ASSERT_TRUE(create_reg_dword(kServersPath, "activated", 0));
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kGeneral, "account_expires",
                                  std::to_string(kNow + 36 * 3600)));
    const std::string tail =
        "40005:&Test Connection:e,40006:&Settings:e,-,"
        "0:Espires in: 2 days:,-,40010:&Notifications:";
    struct Case {
        int status;
        std::string head;
        std::string end;
    };
    const Case cases[] = {
        {0, "", ""},
        {1, "40007:St&art VPN:e,", ",40009:&Mail box:"},
        {2, "40008:St&op VPN:e,", ""},
        {3, "40008:St&op VPN:e,", ",40009:&Mail box:e"},
        {4, "", ""},
        {5, "", ""},
        {6, "40008:St&op VPN:e,", ""},
        {-1, "", ""},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& part : flat(build_tray_menu(c.status, kNow))) {
            joined += (joined.empty() ? "" : ",") + part;
        }
        EXPECT_EQ(joined, c.head + "-,0:Se&lect server:e,-," + tail + c.end) << c.status;
    }
}

TEST_F(TrayMenuTest, ServerEntriesFollowTheStoreWithinNinetyNine) {
    ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 150));
    ASSERT_TRUE(create_reg_dword(kServersPath, "activated", 5));
    put_server(1, "Alpha", 1);
    put_server(2, nullptr, 1);  // no name: skipped
    put_server(3, "", 1);       // empty name: skipped
    put_server(5, "Active", 1);
    put_server(7, "Failed", 2);
    put_server(10, "Initial", 0);
    put_server(99, "Last", 1);
    put_server(100, "Beyond", 1);
    put_server(120, "Far", 1);
    EXPECT_EQ(flat(submenu(build_tray_menu(1, kNow)).children),
              (std::vector<std::string>{"1001:Alpha:e", "1005:Active:c",
                                        "1007:Failed:", "1010:Initial:", "1099:Last:e"}));

    ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 4));
    EXPECT_EQ(flat(submenu(build_tray_menu(1, kNow)).children),
              (std::vector<std::string>{"1001:Alpha:e"}));
    ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 0));
    EXPECT_TRUE(submenu(build_tray_menu(1, kNow)).children.empty());
}

TEST_F(TrayMenuTest, MissingCountersAndListsAreLoggedAndLeftOut) {
    const auto menu = build_tray_menu(3, kNow);
    EXPECT_TRUE(submenu(menu).children.empty());
    EXPECT_TRUE(log_.contains("Can't get last index of server"));
    EXPECT_TRUE(log_.contains("Can't get activated server"));
    EXPECT_TRUE(log_.contains("Can't get list of notifications!"));
    const auto entries = flat(menu);
    EXPECT_EQ(entries[entries.size() - 2], "40010:&Notifications:");  // greyed: nothing listed

    ASSERT_TRUE(
        create_reg_dword(std::string(kNotificationsPath).append("\\12").c_str(), "state", 0));
    const auto with_one = flat(build_tray_menu(3, kNow));
    EXPECT_EQ(with_one[with_one.size() - 2], "40010:&Notifications:e");
}

TEST(AccountExpiryText, DaysAreRoundedUpAndPastOrOddValuesShowNothing) {
    struct Case {
        std::string stored;
        std::string text;
    };
    const Case cases[] = {
        {std::to_string(kNow + 36 * 3600), "Espires in: 2 days"},
        {std::to_string(kNow + 12 * 3600), "Espires in: 1 day"},
        {std::to_string(kNow + 86400), "Espires in: 1 day"},
        {std::to_string(kNow + 86401), "Espires in: 2 days"},
        {std::to_string(kNow + 30 * 86400), "Espires in: 30 days"},
        {std::to_string(kNow), ""},
        {std::to_string(kNow - 3600), ""},
        {"-1", ""},
        {"", ""},
        {"17000x", ""},
        {" 1700090000", ""},
        {"99999999999999999999999", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(account_expiry_text(c.stored, kNow), c.text) << c.stored;
    EXPECT_EQ(account_expiry_text(std::to_string(kNow + 100), -1), "");
    // Found by fuzzing: the widest distance of two times must not overflow.
    EXPECT_EQ(account_expiry_text("9223372036854775807", INT64_MIN + 1),
              "Espires in: 213503982334602 days");
}

TEST(MenuAction, IdsMapToCommandsAndAddresses) {
    using Kind = MenuAction::Kind;
    struct Case {
        int id;
        Kind kind;
        int command;
        std::string url;
    };
    const Case cases[] = {
        {40007, Kind::pipe_command, 1, ""},
        {40008, Kind::pipe_command, 2, ""},
        {1001, Kind::pipe_command, 1001, ""},
        {1099, Kind::pipe_command, 1099, ""},
        {1000, Kind::none, 0, ""},
        {1100, Kind::none, 0, ""},
        {40005, Kind::open_url, 0, "http://127.0.0.1:8988?testpage=true"},
        {40006, Kind::open_url, 0, "http://127.0.0.1:8988/"},
        {40010, Kind::open_url, 0, "http://127.0.0.1:8988?notifypage=true"},
        {40009, mail_box_url().empty() ? Kind::none : Kind::open_url, 0, mail_box_url()},
        {12345, Kind::none, 0, ""},
    };
    for (const Case& c : cases) {
        const MenuAction action = menu_action(c.id);
        EXPECT_EQ(action.kind, c.kind) << c.id;
        EXPECT_EQ(action.command, c.command) << c.id;
        EXPECT_EQ(action.url, c.url) << c.id;
    }
    // The vendor's web host on port 8084, whatever port its update host has; none without a
    // vendor in the build.
    EXPECT_EQ(mail_box_url().empty(), vendor_host().empty());
    if (!mail_box_url().empty()) {
        EXPECT_EQ(mail_box_url().rfind(":8084/"), mail_box_url().size() - 6);
        EXPECT_EQ(mail_box_url().find(':', 7), mail_box_url().size() - 6);
    }
}

TEST(UnderscoreMnemonics, AmpersandsBecomeUnderscores) {
    EXPECT_EQ(underscore_mnemonics("St&art VPN"), "St_art VPN");
    EXPECT_EQ(underscore_mnemonics("my_server && co"), "my__server & co");
    EXPECT_EQ(underscore_mnemonics("end&"), "end_");
}

}  // namespace
}  // namespace quietway::testing
