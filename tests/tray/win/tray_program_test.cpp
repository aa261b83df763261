#include <windows.h>
//
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "common/store/notification_store.h"
#include "common/store/store.h"
#include "tests/service/pipe/pipe_test_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/store_fixture.h"
#include "tests/updater/vendor/vendor_server.h"
#include "tray/win/gdiplus_support.h"

namespace quietway::testing {
namespace {

constexpr UINT kIconMessage = WM_USER + 1;

std::string windows_path(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

class TrayProgramTest : public StoreTest {
protected:
    TrayProgramTest()
        : log_("Quietway2Tray.log"),
          opener_env_(kOpenerEnv,
                      windows_path(program_directory() + "/tray_url_opener_standin.exe")),
          opened_env_("QUIETWAY_OPENED_FILE", (dir_ / "opened.txt").string()) {
        tray_ = windows_path(program_directory() + "/" + QUIETWAY_TRAY_RELATIVE);
        observer_.answer(3, 3);
        EXPECT_TRUE(server_.start());
        const char* shots = std::getenv("QUIETWAY_SHOT_DIR");
        if (shots != nullptr && *shots == '/') shot_dir_ = std::string("Z:") + shots;
    }
    ~TrayProgramTest() override {
        if (HWND window = main_window()) PostMessageA(window, WM_CLOSE, 0, 0);
        tray_process_.wait(std::chrono::seconds(20));
        server_.stop();
    }

    void start_tray() {
        ASSERT_TRUE(tray_process_.start({tray_}));
        ASSERT_TRUE(wait_until([&] { return main_window() != nullptr; }, std::chrono::seconds(60)));
    }
    static HWND main_window() { return FindWindowA("QuietwayTrayWnd", "Quietway Title"); }
    int count(int command) {
        int found = 0;
        for (int sent : observer_.commands()) found += sent == command;
        return found;
    }
    std::string opened() { return read_file(dir_ / "opened.txt"); }
    bool saw(const std::string& request) const {
        const std::vector<std::string> requests = web_.requests();
        return std::find(requests.begin(), requests.end(), request) != requests.end();
    }

    // Leaves a request for the script that runs this program under Xvfb and waits for the
    // screenshot; nothing happens without that script.
    void screenshot(const std::string& name) {
        if (shot_dir_.empty()) return;
        const std::filesystem::path shot = std::filesystem::path(shot_dir_) / (name + ".png");
        std::filesystem::remove(shot);
        write_file(std::filesystem::path(shot_dir_) / (name + ".request"), name);
        EXPECT_TRUE(
            wait_until([&] { return std::filesystem::exists(shot); }, std::chrono::seconds(30)))
            << name;
    }

    void seed_store(int64_t now) {
        const std::string servers = kServersPath;
        ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 3));
        ASSERT_TRUE(create_reg_dword(kServersPath, "activated", 2));
        const char* names[] = {"Amsterdam", "Frankfurt", "Zurich"};
        for (int i = 1; i <= 3; ++i) {
            const std::string path = servers + "\\" + std::to_string(i);
            ASSERT_TRUE(
                create_reg_string(RootKey::local_machine, path.c_str(), "name", names[i - 1]));
            ASSERT_TRUE(create_reg_dword(path.c_str(), "status", i == 3 ? 2 : 1));
        }
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\general",
                                      "account_expires", std::to_string(now + 30 * 86400)));
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\general",
                                      "user", "tester one"));
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\app",
                                      "notification_set_st_url",
                                      web_.url("/set_notification_state.php")));
    }
    int32_t state_of(const char* id) {
        NotificationRecord record;
        return read_notification(id, record) ? record.state : -1;
    }

    static constexpr const char* kOpenerEnv = "QUIETWAY_URL_OPENER";
    TempDir dir_;
    LogCapture log_;
    ScopedEnv opener_env_;
    ScopedEnv opened_env_;
    RecordingObserver observer_;
    PipeServer server_{observer_};
    TempDir site_;
    VendorServer web_{site_.path()};
    std::string tray_;
    std::string shot_dir_;
    ChildProcess tray_process_;
};

TEST_F(TrayProgramTest, PollsCarriesOutMenuCommandsAndStaysSingle) {
    seed_store(std::time(nullptr));
    NotificationRecord old;  // shown already and valid for long: listed, neither shown nor deleted
    old.id = 7;
    old.title = "Seen";
    old.info = "Seen before";
    old.expires = static_cast<int32_t>(std::time(nullptr) + 86400);
    old.state = 1;
    ASSERT_TRUE(create_notification(old));
    start_tray();
    ASSERT_TRUE(wait_until([&] { return count(3) >= 3; }, std::chrono::seconds(30)));
    for (int sent : observer_.commands()) EXPECT_EQ(sent, 3);
    EXPECT_TRUE(log_.contains("create TrayApplication"));

    // A second start ends at once with -1 and leaves the first alone.
    EXPECT_EQ(run_child({tray_}, {}, std::chrono::seconds(60)), -1);
    EXPECT_TRUE(tray_process_.running());

    HWND window = main_window();
    SetCursorPos(1700, 1040);
    PostMessageA(window, kIconMessage, 102, WM_RBUTTONDOWN);
    EXPECT_TRUE(wait_until([] {
        HWND menu = FindWindowA("#32768", nullptr);
        return menu != nullptr && IsWindowVisible(menu);
    }));
    screenshot("tray-menu-windows");
    PostMessageA(window, WM_CANCELMODE, 0, 0);
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);

    PostMessageA(window, WM_COMMAND, 40007, 0);
    EXPECT_TRUE(wait_until([&] { return count(1) == 1; }));
    PostMessageA(window, WM_COMMAND, 1002, 0);
    EXPECT_TRUE(wait_until([&] { return count(1002) == 1; }));
    PostMessageA(window, WM_COMMAND, 40005, 0);
    EXPECT_TRUE(wait_until([&] { return opened() == "http://127.0.0.1:8988?testpage=true\n"; }));

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(tray_process_.wait(std::chrono::seconds(20)), 0);
    EXPECT_TRUE(log_.contains("destroy TrayApplication"));
}

TEST_F(TrayProgramTest, NotificationPopsUpIsMarkedReportedAndOpened) {
    const int64_t now = std::time(nullptr);
    seed_store(now);
    NotificationRecord record;
    record.id = 42;
    record.title = "Quietway news";
    record.info = "Servers in three new countries are ready for you. Pick one from the menu.";
    record.url = "http://127.0.0.1:9/offer?a=1&calc.exe";
    record.expires = static_cast<int32_t>(now + 3600);
    ASSERT_TRUE(create_notification(record));
    start_tray();

    // The first check comes 30 s after the start.
    ASSERT_TRUE(wait_until([&] { return state_of("42") == 1; }, std::chrono::seconds(120)));
    EXPECT_TRUE(wait_until(
        [&] { return saw("GET /set_notification_state.php?account=tester%20one&id=42&state=1"); }));
    HWND popup = nullptr;
    EXPECT_TRUE(wait_until([&] {
        popup = FindWindowExA(nullptr, nullptr, "QuietwayTrayWnd", "");
        return popup != nullptr && IsWindowVisible(popup);
    }));
    screenshot("tray-popup-windows");

    // A click on the close box hides the popup and opens nothing.
    RECT rect{};
    GetWindowRect(popup, &rect);
    SetCursorPos(rect.right - 10, rect.top + 10);
    PostMessageA(popup, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(rect.right - rect.left - 10, 10));
    EXPECT_TRUE(wait_until([&] { return !IsWindowVisible(popup); }));
    EXPECT_EQ(state_of("42"), 1);
    EXPECT_EQ(opened(), "");

    // A click on the balloon opens the page: the address reaches the opener whole.
    PostMessageA(main_window(), kIconMessage, 102, NIN_BALLOONUSERCLICK);
    EXPECT_TRUE(wait_until([&] { return state_of("42") == 2; }));
    EXPECT_TRUE(wait_until([&] { return opened() == "http://127.0.0.1:9/offer?a=1&calc.exe\n"; }));
    EXPECT_TRUE(wait_until(
        [&] { return saw("GET /set_notification_state.php?account=tester%20one&id=42&state=2"); }));
}

}  // namespace
}  // namespace quietway::testing

namespace quietway::testing {
namespace {

// Where the preferred family is missing (it is under Wine), the popup still gets a font that
// measures and draws text.
TEST(PopupFont, MissingFamilyFallsBackToAFontThatDraws) {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    HDC dc = GetDC(nullptr);
    for (const wchar_t* family : {L"No Such Family 7f3c", L"Segoe UI"}) {
        auto font = make_popup_font(dc, family, 11.0f);
        ASSERT_NE(font, nullptr);
        EXPECT_TRUE(font->IsAvailable());
        Gdiplus::Graphics graphics(dc);
        Gdiplus::RectF box;
        EXPECT_EQ(graphics.MeasureString(L"Quietway", -1, font.get(), Gdiplus::PointF(0, 0), &box),
                  Gdiplus::Ok);
        EXPECT_GT(box.Width, 20.0f);
        EXPECT_GT(box.Height, 8.0f);
    }
    ReleaseDC(nullptr, dc);
    Gdiplus::GdiplusShutdown(token);
}

TEST(PopupFont, StatusTextsCoverTheKnownValues) {
    EXPECT_STREQ(gdiplus_status_text(0), "Ok: The method call was successful.");
    EXPECT_EQ(std::string(gdiplus_status_text(21)).rfind("ProfileNotFound: ", 0), 0u);
    EXPECT_STREQ(gdiplus_status_text(22), "INVALID STATUS CODE");
    EXPECT_STREQ(gdiplus_status_text(-1), "INVALID STATUS CODE");
}

}  // namespace
}  // namespace quietway::testing
