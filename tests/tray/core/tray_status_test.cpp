#include <gtest/gtest.h>

#include "tray/core/tray_status.h"

namespace quietway::testing {
namespace {

TEST(StatusDisplay, EachStatusHasItsIconAndTip) {
    struct Case {
        int status;
        TrayIcon icon;
        const char* tip;
    };
    const Case cases[] = {
        {0, TrayIcon::stopped, "Quietway stopped"},
        {1, TrayIcon::stopped, "Quietway stopped"},
        {3, TrayIcon::started, "Quietway started"},
        {4, TrayIcon::stopped, "Quietway stopped"},
        {5, TrayIcon::stopped, "Quietway stopped, not configured"},
        {6, TrayIcon::started, "Quietway started, same user detected"},
    };
    for (const Case& c : cases) {
        StatusDisplay display;
        const auto view = display.view_for(c.status);
        ASSERT_TRUE(view.has_value()) << c.status;
        EXPECT_EQ(view->icon, c.icon) << c.status;
        EXPECT_EQ(view->tooltip, c.tip) << c.status;
        EXPECT_LT(view->tooltip.size(), kTipCapacity);
    }
    StatusDisplay display;
    for (int odd : {7, 100, -1, -5}) EXPECT_FALSE(display.view_for(odd).has_value()) << odd;
    EXPECT_EQ(icon_resource(TrayIcon::started), 101);
    EXPECT_EQ(icon_resource(TrayIcon::connecting2), 104);
}

// The connecting frame flips once per entry into status 2, not while the status stays 2.
TEST(StatusMonitor, ConnectingFrameAlternatesPerChange) {
    StatusMonitor monitor;
    ASSERT_TRUE(monitor.initial_view().has_value());
    EXPECT_EQ(monitor.initial_view()->tooltip, "Quietway stopped");

    auto first = monitor.on_poll_reply(2);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->icon, TrayIcon::connecting1);
    EXPECT_EQ(first->tooltip, "Quietway Connecting ...");
    EXPECT_FALSE(monitor.on_poll_reply(2).has_value());  // unchanged: nothing to show

    ASSERT_TRUE(monitor.on_poll_reply(1).has_value());
    auto second = monitor.on_poll_reply(2);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->icon, TrayIcon::connecting2);
    EXPECT_EQ(second->tooltip, "Quietway Connecting ..");

    // A menu command's reply is shown even when the status is the same.
    auto third = monitor.on_command_reply(2);
    ASSERT_TRUE(third.has_value());
    EXPECT_EQ(third->icon, TrayIcon::connecting1);

    // An unknown value is stored but shows nothing; the next known one shows again.
    EXPECT_FALSE(monitor.on_poll_reply(9).has_value());
    EXPECT_EQ(monitor.status(), 9);
    ASSERT_TRUE(monitor.on_poll_reply(3).has_value());
    EXPECT_EQ(monitor.status(), 3);
}

}  // namespace
}  // namespace quietway::testing
