#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/store/notification_store.h"
#include "common/store/store.h"
#include "tests/support/log_capture.h"
#include "tests/support/store_fixture.h"
#include "tray/core/notification_check.h"

namespace quietway::testing {
namespace {

constexpr int64_t kNow = 1700000000;

class NotificationCheckTest : public StoreTest {
protected:
    void put(int32_t id, int32_t state, int64_t expires, std::string title = "Title",
             std::string info = "Info", std::string banner = "") {
        NotificationRecord record;
        record.id = id;
        record.title = std::move(title);
        record.info = std::move(info);
        record.url = "http://example.test/" + std::to_string(id);
        record.banner = std::move(banner);
        record.expires = static_cast<int32_t>(expires);
        record.state = state;
        ASSERT_TRUE(create_notification(record));
    }
    std::vector<std::string> names() {
        std::vector<std::string> out;
        list_reg_subkeys(kNotificationsPath, out);
        return out;
    }
    LogCapture log_{"Quietway2Tray.log"};
};

// The store's order is text order: "10" comes before "2".
TEST_F(NotificationCheckTest, FirstUnshownInStoreOrderIsSelected) {
    put(2, 0, kNow + 100);
    put(10, 0, kNow + 100, "Ten", "Body");
    put(3, 1, kNow + 100);
    const NotificationCheck check = check_notifications(kNow);
    ASSERT_TRUE(check.selected);
    EXPECT_EQ(check.notification.id, 10);
    EXPECT_EQ(check.notification.title, "Ten");
    EXPECT_EQ(check.notification.url, "http://example.test/10");
    EXPECT_EQ(check.show, NotificationShow::text);
    EXPECT_EQ(names().size(), 3u);
}

TEST_F(NotificationCheckTest, AtMostOneShownAndExpiredIsDeletedPerCheck) {
    put(1, 1, kNow - 10);
    put(2, 2, kNow - 10);
    put(3, 1, kNow);       // expires this second: kept
    put(4, 0, kNow - 99);  // unshown: never deleted, however old
    EXPECT_FALSE(check_notifications(kNow).selected);
    EXPECT_EQ(names(), (std::vector<std::string>{"2", "3", "4"}));
    EXPECT_FALSE(check_notifications(kNow).selected);
    EXPECT_EQ(names(), (std::vector<std::string>{"3", "4"}));
    const NotificationCheck check = check_notifications(kNow);
    ASSERT_TRUE(check.selected);
    EXPECT_EQ(check.notification.id, 4);
    EXPECT_EQ(names(), (std::vector<std::string>{"3", "4"}));
}

TEST_F(NotificationCheckTest, WhatIsShownDependsOnTextsAndBanner) {
    struct Case {
        const char* title;
        const char* info;
        const char* banner;
        NotificationShow show;
    };
    const Case cases[] = {
        {"T", "I", "", NotificationShow::text},
        {"T", "I", "C:\\b.png", NotificationShow::text},
        {"T", "", "", NotificationShow::none},  // selected, never shown
        {"", "I", "C:\\b.png", NotificationShow::banner},
        {"", "", "", NotificationShow::none},
    };
    for (const Case& c : cases) {
        put(7, 0, kNow + 100, c.title, c.info, c.banner);
        const NotificationCheck check = check_notifications(kNow);
        EXPECT_TRUE(check.selected);
        EXPECT_EQ(check.show, c.show) << c.title << "/" << c.info << "/" << c.banner;
        ASSERT_TRUE(delete_notification("7"));
    }
}

TEST_F(NotificationCheckTest, LongTextsAreCutAndOddKeysSkipped) {
    put(5, 0, kNow, std::string(100, 't'), std::string(300, 'i'), std::string(200, 'b'));
    ASSERT_TRUE(
        create_reg_dword(std::string(kNotificationsPath).append("\\0x1").c_str(), "state", 0));
    const NotificationCheck check = check_notifications(kNow);
    ASSERT_TRUE(check.selected);  // "0x1" cannot be read whole and comes first
    EXPECT_EQ(check.notification.id, 5);
    EXPECT_EQ(check.notification.title.size(), kTitleCapacity);
    EXPECT_EQ(check.notification.info.size(), kInfoCapacity);
    EXPECT_EQ(check.notification.banner.size(), kBannerCapacity);
    EXPECT_TRUE(log_.contains("Can't get notification!"));
}

TEST(CutText, NeverSplitsACharacter) {
    EXPECT_EQ(cut_text("abcdef", 4), "abcd");
    EXPECT_EQ(cut_text("abc", 4), "abc");
    EXPECT_EQ(cut_text("ab\xC3\xA9z", 3), "ab");  // é would be split
    EXPECT_EQ(cut_text("ab\xC3\xA9z", 4), "ab\xC3\xA9");
    EXPECT_EQ(cut_text("a\xE2\x82\xAC\xE2\x82\xAC", 5), "a\xE2\x82\xAC");
}

TEST(NotificationClock, DueAfterThirtySecondsAcrossTheMaskWrap) {
    NotificationClock clock(1000);
    EXPECT_FALSE(clock.due(31000));
    EXPECT_TRUE(clock.due(31001));
    EXPECT_FALSE(clock.due(31002));
    NotificationClock late(kTickMask - 100);
    EXPECT_FALSE(late.due(kTickMask - 50));
    EXPECT_TRUE(late.due(0x10000005));  // the low 28 bits wrapped: 5
    EXPECT_FALSE(late.due(6));
}

}  // namespace
}  // namespace quietway::testing
