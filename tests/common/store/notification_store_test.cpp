#include <gtest/gtest.h>
#include <json/value.h>
#include <json/writer.h>

#include <string>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/store/notification_store.h"
#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

using Names = std::vector<std::string>;

NotificationRecord sample(int32_t id) {
    NotificationRecord record;
    record.id = id;
    record.info = "Body " + std::to_string(id);
    record.title = "Title " + std::to_string(id);
    record.url = "http://example.net/" + std::to_string(id);
    record.banner = "C:\\Temp\\banner.png";
    record.banner_url = "http://example.net/banner.png";
    record.expires = 1700000000;
    record.state = kNotificationNotShown;
    return record;
}

std::string notification_path(const std::string& number) {
    return std::string(kNotificationsPath) + "\\" + number;
}

class NotificationStoreTest : public testing::StoreTest {
protected:
    NotificationStoreTest() : log_env_(kLogDirEnv, log_dir_.str()) {
        program_log().set_file_name("Store.log");
    }

    testing::TempDir log_dir_;
    testing::ScopedEnv log_env_;
};

TEST_F(NotificationStoreTest, CreatedNotificationsReadBackWhole) {
    ASSERT_TRUE(install_reg_key(kStoreRoot));
    const NotificationRecord written = sample(12);
    ASSERT_TRUE(create_notification(written));  // makes the notifications key as well
    NotificationRecord read;
    read.id = 12;
    ASSERT_TRUE(read_notification("12", read));
    EXPECT_EQ(read.id, 12);
    EXPECT_EQ(read.info, written.info);
    EXPECT_EQ(read.title, written.title);
    EXPECT_EQ(read.url, written.url);
    EXPECT_EQ(read.banner, written.banner);
    EXPECT_EQ(read.banner_url, written.banner_url);
    EXPECT_EQ(read.expires, written.expires);
    EXPECT_EQ(read.state, kNotificationNotShown);
}

TEST_F(NotificationStoreTest, AnyMissingValueFailsTheReadAndARecreateRepairsIt) {
    for (const char* missing :
         {"info", "title", "url", "banner", "banner_url", "expires", "state"}) {
        ASSERT_TRUE(create_notification(sample(5)));
        ASSERT_TRUE(delete_reg_value(notification_path("5").c_str(), missing));
        NotificationRecord read;
        read.title = "kept";
        EXPECT_FALSE(read_notification("5", read)) << missing;
        EXPECT_EQ(read.title, "kept");
    }
    NotificationRecord changed = sample(5);
    changed.title = "again";
    ASSERT_TRUE(create_notification(changed));
    NotificationRecord read;
    ASSERT_TRUE(read_notification("5", read));
    EXPECT_EQ(read.title, "again");
}

TEST_F(NotificationStoreTest, StateChangesNeedTheNotification) {
    ASSERT_TRUE(create_notification(sample(3)));
    EXPECT_TRUE(set_notification_state("3", kNotificationOpened));
    NotificationRecord read;
    ASSERT_TRUE(read_notification("3", read));
    EXPECT_EQ(read.state, kNotificationOpened);

    EXPECT_FALSE(set_notification_state("4", kNotificationShown));
    EXPECT_FALSE(reg_key_exists(notification_path("4").c_str()));
    EXPECT_FALSE(set_notification_state("", kNotificationShown));
}

TEST_F(NotificationStoreTest, DeletingRemovesTheNotification) {
    ASSERT_TRUE(create_notification(sample(3)));
    EXPECT_TRUE(delete_notification("3"));
    NotificationRecord read;
    EXPECT_FALSE(read_notification("3", read));
    EXPECT_FALSE(delete_notification("3"));
    EXPECT_TRUE(reg_key_exists(kNotificationsPath));
}

TEST_F(NotificationStoreTest, ListingGivesTheExpiryAsExpiredInStoreOrder) {
    NotificationRecord ten = sample(10);
    ten.state = kNotificationShown;
    ASSERT_TRUE(create_notification(ten));
    ASSERT_TRUE(create_notification(sample(2)));
    Json::Value list;
    ASSERT_TRUE(list_notifications_json(list));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(Json::FastWriter().write(list[0]),
              "{\"banner\":\"C:\\\\Temp\\\\banner.png\",\"banner_url\":"
              "\"http://example.net/banner.png\",\"expired\":1700000000,\"info\":\"Body 10\","
              "\"title\":\"Title 10\",\"url\":\"http://example.net/10\"}\n");
    EXPECT_EQ(list[1]["title"].asString(), "Title 2");
}

TEST_F(NotificationStoreTest, ListingFillsMissingValuesAndFailsWithoutTheKey) {
    Json::Value list = "untouched";
    EXPECT_FALSE(list_notifications_json(list));
    EXPECT_EQ(list.asString(), "untouched");

    ASSERT_TRUE(create_reg_string(RootKey::local_machine, notification_path("7").c_str(), "title",
                                  "only a title"));
    ASSERT_TRUE(list_notifications_json(list));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["title"].asString(), "only a title");
    EXPECT_EQ(list[0]["info"].asString(), "");
    EXPECT_EQ(list[0]["expired"].asInt(), 0);
    EXPECT_FALSE(list[0].isMember("state"));
    EXPECT_FALSE(list[0].isMember("id"));
}

TEST_F(NotificationStoreTest, RecordsThatCannotBeStoredWholeAreRefused) {
    EXPECT_FALSE(create_notification(sample(0)));
    NotificationRecord long_body = sample(8);
    long_body.info.assign(600, 'b');
    EXPECT_FALSE(create_notification(long_body));
    EXPECT_FALSE(reg_key_exists(kNotificationsPath));
    EXPECT_NE(testing::read_file(log_dir_ / "Store.log").find("invalid notification number: 0"),
              std::string::npos);
}

}  // namespace
}  // namespace quietway
