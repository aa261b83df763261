// quietway_tray for real on an X display (xvfb-run with a private session bus), beside an
// XEMBED tray so that its indicator shows as a status icon, against a real pipe server, a
// temporary store and the vendor's test web server.

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <memory>

#include "common/store/notification_store.h"
#include "common/store/store.h"
#include "tests/service/pipe/pipe_test_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/store_fixture.h"
#include "tests/tray/linux/desktop_session.h"
#include "tests/updater/vendor/vendor_server.h"

namespace quietway::testing {
namespace {

DesktopSession* desktop = nullptr;

class TrayDesktopTest : public PipeServerTest {
protected:
    static void SetUpTestSuite() { desktop = new DesktopSession(); }
    static void TearDownTestSuite() {
        delete desktop;
        desktop = nullptr;
    }

    TrayDesktopTest()
        : logs_env_("QUIETWAY_LOG_DIR", logs_.str()),
          runtime_env_("XDG_RUNTIME_DIR", runtime_.str()),
          opener_env_("QUIETWAY_URL_OPENER", program_directory() + "/tray_url_recorder"),
          opened_env_("QUIETWAY_TEST_URL_LOG", (runtime_ / "opened.txt").string()) {
        ::chmod(runtime_.str().c_str(), 0700);
    }

    void SetUp() override {
        ASSERT_EQ(desktop->problem(), "");
        start();
    }

    void start_tray() {
        ASSERT_TRUE(tray_.start({program_directory() + "/" + QUIETWAY_TRAY_RELATIVE},
                                ChildOptions{.output_file = (logs_ / "tray.out").string()}));
    }
    // A window by its whole title: the status icon has the one the indicator gives it.
    std::optional<std::string> window(const std::string& title) {
        std::optional<std::string> found;
        wait_until([&] { return (found = desktop->find_window("^" + title + "$")).has_value(); },
                   std::chrono::seconds(20));
        return found;
    }
    size_t polls() {
        const auto commands = observer_.commands();
        return std::count(commands.begin(), commands.end(), 3);
    }

    TempStore store_;
    TempDir logs_;
    TempDir runtime_;
    ScopedEnv logs_env_;
    ScopedEnv runtime_env_;
    ScopedEnv opener_env_;
    ScopedEnv opened_env_;
    ChildProcess tray_;
};

TEST_F(TrayDesktopTest, PollsTheStatusAndShowsItInTheIcon) {
    observer_.answer(3, 3);
    start_tray();
    ASSERT_TRUE(wait_until([&] { return polls() >= 3; }, std::chrono::seconds(20)));
    const auto commands = observer_.commands();
    EXPECT_TRUE(std::all_of(commands.begin(), commands.end(), [](int c) { return c == 3; }));
    EXPECT_TRUE(window("Quietway started"));
    // The first entry into connecting shows the first frame and its tooltip.
    observer_.answer(3, 2);
    EXPECT_TRUE(window("Quietway Connecting \\.\\.\\."));
    observer_.answer(3, 5);
    EXPECT_TRUE(window("Quietway stopped, not configured"));
}

TEST_F(TrayDesktopTest, MenuCommandSendsItsRecord) {
    const std::string servers = kServersPath;
    const char* names[] = {"Amsterdam", "Zurich", "Reykjavik"};
    for (int i = 1; i <= 3; ++i) {
        const std::string key = servers + "\\" + std::to_string(i);
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, key.c_str(), "name", names[i - 1]));
        ASSERT_TRUE(create_reg_dword(key.c_str(), "status", i == 3 ? 2 : 1));
    }
    ASSERT_TRUE(create_reg_dword(servers.c_str(), "last_index", 3));
    ASSERT_TRUE(create_reg_dword(servers.c_str(), "activated", 2));
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\general",
                                  "account_expires",
                                  std::to_string(std::time(nullptr) + 36 * 3600)));
    observer_.answer(3, 3);
    observer_.answer(2, 1);
    start_tray();
    const auto started = window("Quietway started");
    ASSERT_TRUE(started);
    const auto where = desktop->geometry(*started);
    ASSERT_TRUE(where);

    // Open the menu on the icon, walk to the server list and open it for the picture, then
    // back up to "Stop VPN" and choose it.
    ASSERT_TRUE(desktop->click(where->x + where->width / 2, where->y + where->height / 2));
    ASSERT_TRUE(desktop->keys({"Down", "Down", "Right"}));
    EXPECT_TRUE(desktop->screenshot("tray-menu.png"));
    observer_.answer(3, 1);  // what the service says once it has stopped
    ASSERT_TRUE(desktop->keys({"Left", "Up", "Return"}));
    ASSERT_TRUE(wait_until([&] {
        const auto commands = observer_.commands();
        return std::find(commands.begin(), commands.end(), 2) != commands.end();
    }));
    EXPECT_TRUE(window("Quietway stopped"));
    const auto commands = observer_.commands();
    EXPECT_TRUE(
        std::all_of(commands.begin(), commands.end(), [](int c) { return c == 3 || c == 2; }));
}

TEST_F(TrayDesktopTest, SecondInstanceExitsWithMinusOne) {
    observer_.answer(3, 1);
    start_tray();
    ASSERT_TRUE(wait_until([&] { return polls() >= 1; }, std::chrono::seconds(20)));
    EXPECT_EQ(run_child({program_directory() + "/" + QUIETWAY_TRAY_RELATIVE}), 255);
    EXPECT_TRUE(tray_.running());
}

TEST_F(TrayDesktopTest, NotificationPopsUpIsMarkedShownReportedAndOpened) {
    TempDir site;
    VendorServer vendor(site.path());
    ASSERT_TRUE(vendor.started());
    const std::string report = "/updater/notifications_list/set_notification_state.php";
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\app",
                                  "notification_set_st_url", vendor.url(report)));
    ASSERT_TRUE(
        create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\general", "user", "alice"));
    NotificationRecord record;
    record.id = 7;
    record.title = "Faster servers in Zurich";
    record.info =
        "Two new servers joined the list today. Pick \"Zurich\" in the server menu to try "
        "them; your account stays as it is.";
    record.url = "https://example.com/news?id=7&from=tray";
    record.expires = static_cast<int32_t>(std::time(nullptr) + 3600);
    ASSERT_TRUE(create_notification(record));
    observer_.answer(3, 3);
    start_tray();

    // The first check comes 30 s after the start.
    NotificationRecord stored;
    ASSERT_TRUE(wait_until([&] { return read_notification("7", stored) && stored.state == 1; },
                           std::chrono::seconds(60)));
    const auto popup = window("Quietway notification");
    ASSERT_TRUE(popup);
    const auto card = desktop->geometry(*popup);
    ASSERT_TRUE(card);
    // At the right edge, its bottom on the panel's top edge.
    EXPECT_EQ(card->x + card->width, 1280);
    EXPECT_EQ(card->y + card->height, 800 - DesktopSession::kPanelHeight);
    EXPECT_TRUE(desktop->screenshot("tray-popup.png"));
    const std::string shown = "GET " + report + "?account=alice&id=7&state=1";
    EXPECT_TRUE(wait_until([&] {
        const auto requests = vendor.requests();
        return std::find(requests.begin(), requests.end(), shown) != requests.end();
    }));

    // A click on the card away from the close box opens the page.
    ASSERT_TRUE(desktop->click(card->x + 40, card->y + card->height / 2));
    EXPECT_TRUE(wait_until([&] { return read_notification("7", stored) && stored.state == 2; }));
    const std::string opened = "GET " + report + "?account=alice&id=7&state=2";
    EXPECT_TRUE(wait_until([&] {
        const auto requests = vendor.requests();
        return std::find(requests.begin(), requests.end(), opened) != requests.end();
    }));
    EXPECT_TRUE(
        wait_until([&] { return read_file(runtime_ / "opened.txt") == record.url + "\n"; }));
    EXPECT_TRUE(wait_until([&] { return !desktop->find_window("^Quietway notification$"); }));
}

}  // namespace
}  // namespace quietway::testing
