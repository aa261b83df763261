#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/net/vendor_url.h"
#include "common/store/notification_store.h"
#include "tests/updater/sync/sync_fixture.h"
#include "updater/sync/syncs.h"

namespace quietway {
namespace {

std::string event(const std::string& id, const std::string& expires,
                  const std::string& extra = "") {
    return "<EVENT><ID>" + id + "</ID><TITLE>T" + id + "</TITLE><BODY>B" + id + "</BODY><EXPIRES>" +
           expires + "</EXPIRES>" + extra + "</EVENT>\n";
}

std::string document(const std::string& events) {
    return "<?xml version=\"1.0\"?>\n<QUIETWAY>\n" + events + "</QUIETWAY>\n";
}

class NotificationSyncTest : public testing::SyncTest {
protected:
    // Banners whose address ends in "bad.png" fail to download; others land in "/dl/".
    bool sync() {
        return sync_notifications([this](const std::string& url, std::string& path) {
            banners_.push_back(url);
            if (url.ends_with("bad.png")) return false;
            path = "/dl/" + url.substr(url.rfind('/') + 1);
            return true;
        });
    }
    std::vector<std::string> stored() {
        std::vector<std::string> names;
        list_reg_subkeys(kNotificationsPath, names);
        return names;
    }

    std::vector<std::string> banners_;
};

TEST_F(NotificationSyncTest, OnlyEventsNotYetStoredAreAdded) {
    NotificationRecord seven;
    seven.id = 7;
    seven.title = "kept";
    seven.state = kNotificationShown;
    ASSERT_TRUE(create_notification(seven));
    publish("n.xml", document(event("7", "1700000000") + event("9", "1700000123")),
            "notification_get_url");
    EXPECT_TRUE(sync());
    EXPECT_EQ(stored(), (std::vector<std::string>{"7", "9"}));
    EXPECT_FALSE(sync());
    NotificationRecord read;
    ASSERT_TRUE(read_notification("7", read));
    EXPECT_EQ(read.title, "kept");
    ASSERT_TRUE(read_notification("9", read));
    EXPECT_EQ(read.title, "T9");
    EXPECT_EQ(read.info, "B9");
    EXPECT_EQ(read.expires, 1700000123);
    EXPECT_EQ(read.state, kNotificationNotShown);
}

TEST_F(NotificationSyncTest, ExpiryBannerAndUrlAreStoredAsReceived) {
    publish("n.xml",
            document(event("1", "1700000000123", "<URL>http://u/1</URL>") +
                     event("2", "1700000000", "<BANNER>http://b/bad.png</BANNER>") +
                     event("3", "1700000000", "<BANNER>http://b/good.png</BANNER>")),
            "notification_get_url");
    EXPECT_TRUE(sync());
    NotificationRecord one, two, three;
    ASSERT_TRUE(read_notification("1", one));
    ASSERT_TRUE(read_notification("2", two));
    ASSERT_TRUE(read_notification("3", three));
    EXPECT_EQ(one.expires, 1700000000);
    EXPECT_EQ(one.url, "http://u/1");
    EXPECT_EQ(one.banner_url, "");
    EXPECT_EQ(two.banner, "");
    EXPECT_EQ(two.banner_url, "http://b/bad.png");
    EXPECT_EQ(three.banner, "/dl/good.png");
    EXPECT_EQ(three.banner_url, "http://b/good.png");
    EXPECT_EQ(banners_, (std::vector<std::string>{"http://b/bad.png", "http://b/good.png"}));
}

TEST_F(NotificationSyncTest, EventsWithoutADecimalNumberOrExpiryAreSkipped) {
    publish(
        "n.xml",
        document(event("0", "1700000000") + event("-3", "1700000000") + event("x", "1700000000") +
                 event("", "1700000000") + event("4", "soon") + event("5", "") +
                 event("6", "17000x0000") + event("08", "1700000000") +
                 // more than the store holds: refused before its banner is fetched
                 event("9", "1",
                       "<URL>" + std::string(512, 'u') + "</URL><BANNER>http://b/x.png</BANNER>")),
        "notification_get_url");
    EXPECT_TRUE(sync());
    EXPECT_EQ(stored(), (std::vector<std::string>{"8"}));
    EXPECT_TRUE(log_.contains("Can't add notification!"));
    EXPECT_TRUE(banners_.empty());
}

TEST_F(NotificationSyncTest, AnOverlongDocumentStoresNothing) {
    const std::string text = document(event("1", "1700000000"));
    publish("n.xml", text + "<!--" + std::string(4096 - text.size() - 7, '.') + "-->",
            "notification_get_url");
    EXPECT_FALSE(sync());
    EXPECT_TRUE(stored().empty());
}

TEST_F(NotificationSyncTest, TheAccountNameIsEncodedAndLeftOutWhenUnknown) {
    publish("n.xml", document(""), "notification_get_url");
    publish("e.txt", "1700000000", "expiration_url");
    std::string remembered;
    EXPECT_FALSE(sync());  // nothing to add
    EXPECT_TRUE(sync_account(remembered));
    ASSERT_TRUE(set_setting_string("general", "user", "jo ann&x=1/\xC3\xA9"));
    EXPECT_FALSE(sync());
    remembered.clear();
    EXPECT_TRUE(sync_account(remembered));
    EXPECT_EQ(server_.requests(), (std::vector<std::string>{
                                      "GET /n.xml",
                                      "GET /e.txt",
                                      "GET /n.xml?account=jo%20ann%26x%3D1%2F%C3%A9",
                                      "GET /e.txt?account=jo%20ann%26x%3D1%2F%C3%A9",
                                  }));
}

TEST_F(NotificationSyncTest, AnEqualExpiryAnswerIsWrittenOnce) {
    publish("e.txt", "1700000000", "expiration_url");
    std::string remembered;
    EXPECT_TRUE(sync_account(remembered));
    EXPECT_EQ(remembered, "1700000000");
    std::string stored_text;
    ASSERT_TRUE(get_setting_string("general", "account_expires", stored_text));
    EXPECT_EQ(stored_text, "1700000000");
    // A second write would be seen: the store now differs from the answer.
    ASSERT_TRUE(set_setting_string("general", "account_expires", "marker"));
    EXPECT_FALSE(sync_account(remembered));
    ASSERT_TRUE(get_setting_string("general", "account_expires", stored_text));
    EXPECT_EQ(stored_text, "marker");

    publish("e.txt", std::string(2048, '1'), "expiration_url");
    EXPECT_FALSE(sync_account(remembered));
    EXPECT_EQ(remembered, "1700000000");
    ASSERT_TRUE(get_setting_string("general", "account_expires", stored_text));
    EXPECT_EQ(stored_text, "marker");
}

// Without an address in the store or a vendor in the build there is nowhere to fetch from:
// each sync says so once and changes nothing.
TEST_F(NotificationSyncTest, WithoutAVendorEachSyncSaysOnceThatItIsOff) {
    if (!vendor_host().empty()) GTEST_SKIP() << "this build names a vendor: " << vendor_host();
    std::string remembered = "1";
    for (int round = 0; round < 2; ++round) {
        EXPECT_FALSE(sync_servers([] { ADD_FAILURE() << "the engine was ended"; }));
        EXPECT_FALSE(sync());
        EXPECT_FALSE(sync_account(remembered));
    }
    EXPECT_TRUE(stored().empty());
    EXPECT_EQ(remembered, "1");
    for (const std::string sync : {"server list", "notification", "account"}) {
        EXPECT_EQ(log_.count("No vendor configured: " + sync + " sync is off"), 1u) << sync;
    }
}

}  // namespace
}  // namespace quietway
