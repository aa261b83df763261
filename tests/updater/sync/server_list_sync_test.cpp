#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/store/server_store.h"
#include "tests/updater/sync/sync_fixture.h"
#include "updater/sync/syncs.h"

namespace quietway {
namespace {

using Names = std::vector<std::string>;

struct Listed {
    std::string number;
    std::string name;
    std::string address;
};

std::string server_list(const std::vector<Listed>& servers, const std::string& padding = "") {
    std::string text = "<?xml version=\"1.0\"?>\n<QUIETWAY>\n";
    for (const Listed& s : servers) {
        text += "<SERVER><NUMBER>" + s.number + "</NUMBER><NAME>" + s.name + "</NAME><ADDRESS>" +
                s.address + "</ADDRESS><IP>10.9.9." + s.number + "</IP></SERVER>\n";
    }
    return text + "</QUIETWAY>" + padding;
}

// Servers "1".."count" as the store holds them: name "sN", address "hN", ready.
std::vector<Listed> numbered(int count) {
    std::vector<Listed> servers;
    for (int n = 1; n <= count; ++n) {
        const std::string number = std::to_string(n);
        servers.push_back({number, "s" + number, "h" + number});
    }
    return servers;
}

class ServerListSyncTest : public testing::SyncTest {
protected:
    void SetUp() override {
        SyncTest::SetUp();
        ASSERT_TRUE(set_setting_dword("app", "need_update_servers", 0));
    }
    void store_servers(int count, uint32_t activated) {
        delete_reg_tree(kServersPath);
        ASSERT_TRUE(create_reg_dword(kServersPath, "activated", activated));
        ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 0));
        for (const Listed& s : numbered(count)) {
            ServerRecord record{std::stoi(s.number), s.name, s.address, "10.0.0." + s.number,
                                kServerReady};
            ASSERT_TRUE(create_server(record));
        }
    }
    bool sync() {
        return sync_servers([this] { ++engine_ends_; });
    }
    Names entries() {
        Names names;
        list_reg_subkeys(kServersPath, names);
        return names;
    }

    int engine_ends_ = 0;
};

TEST_F(ServerListSyncTest, ShorterListDeletesFromTheOldLastIndexDown) {
    store_servers(8, 7);
    publish("servers.xml", server_list(numbered(5)), "servers_list_url");
    EXPECT_TRUE(sync());
    EXPECT_TRUE(
        log_.contains_in_order({"delete server: 8", "delete server: 7", "delete server: 6"}));
    EXPECT_EQ(entries(), (Names{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(dword(kServersPath, "last_index"), 5u);
    EXPECT_EQ(dword(kServersPath, "activated"), 1u);
    EXPECT_EQ(dword("SOFTWARE\\Quietway2\\app", "need_update_servers"), 1u);
    EXPECT_EQ(engine_ends_, 1);
}

TEST_F(ServerListSyncTest, AnAgreeingDocumentChangesNothingAndEndsNothing) {
    store_servers(3, 2);
    // Leading zeros name the same servers; IP is not compared.
    std::vector<Listed> listed = numbered(3);
    listed[2].number = "003";
    publish("servers.xml", server_list(listed), "servers_list_url");
    EXPECT_FALSE(sync());
    EXPECT_EQ(engine_ends_, 0);
    EXPECT_EQ(dword("SOFTWARE\\Quietway2\\app", "need_update_servers"), 0u);
    EXPECT_EQ(log_.text().find("server"), std::string::npos) << log_.text();
}

TEST_F(ServerListSyncTest, NewAndChangedServersAreWrittenOnceUnderTheirCanonicalNumber) {
    store_servers(2, 1);
    std::vector<Listed> listed = numbered(2);
    listed[1].address = "moved";
    listed.push_back({"03", "s3", "h3"});
    publish("servers.xml", server_list(listed), "servers_list_url");
    EXPECT_TRUE(sync());
    EXPECT_TRUE(log_.contains_in_order({"update server: 2", "add server: 3"}));
    ServerRecord moved;
    ASSERT_TRUE(read_server("2", moved));
    EXPECT_EQ(moved.address, "moved");
    EXPECT_EQ(moved.address_ip, "10.0.0.2");
    EXPECT_EQ(moved.status, kServerInitial);
    ServerRecord added;
    ASSERT_TRUE(read_server("3", added));
    EXPECT_EQ(added.address_ip, "");  // "10.9.9.03" is no dotted address: not stored
    EXPECT_EQ(entries(), (Names{"1", "2", "3"}));
    EXPECT_EQ(engine_ends_, 1);
    EXPECT_FALSE(sync());
    EXPECT_EQ(engine_ends_, 1);
}

TEST_F(ServerListSyncTest, ElementsWithoutAPositiveNumberAreSkippedButHoldTheirPlace) {
    store_servers(0, 0);
    publish("servers.xml",
            server_list({{"1", "s1", "h1"},
                         {"x", "a", "b"},
                         {"0", "a", "b"},
                         {"-4", "a", "b"},
                         {"2147483648", "a", "b"},
                         {"", "a", "b"},
                         {"7", std::string(512, 'n'), "b"}}),
            "servers_list_url");
    EXPECT_TRUE(sync());
    EXPECT_EQ(entries(), (Names{"1"}));
    EXPECT_EQ(dword(kServersPath, "last_index"), 7u);
    EXPECT_FALSE(sync());
}

TEST_F(ServerListSyncTest, PrivacyOnWritesNothing) {
    for (uint32_t status : {2u, 3u}) {
        store_servers(4, 4);
        ASSERT_TRUE(set_setting_dword("app", "privacy_status", status));
        std::vector<Listed> listed = numbered(2);
        listed[0].name = "renamed";
        listed.push_back({"3", "new", "h"});
        publish("servers.xml", server_list(listed), "servers_list_url");
        EXPECT_FALSE(sync());
        EXPECT_TRUE(log_.contains("Can't update list of servers. Privacy is ON!"));
        EXPECT_EQ(log_.text().find("server: "), std::string::npos) << log_.text();
        EXPECT_EQ(entries(), (Names{"1", "2", "3", "4"}));
        ServerRecord first;
        ASSERT_TRUE(read_server("1", first));
        EXPECT_EQ(first.name, "s1");
        EXPECT_EQ(dword(kServersPath, "last_index"), 4u);
        EXPECT_EQ(dword("SOFTWARE\\Quietway2\\app", "need_update_servers"), 0u);
        EXPECT_EQ(engine_ends_, 0);
    }
}

TEST_F(ServerListSyncTest, TheWholeBodyCountsUpToItsLimit) {
    const std::string document = server_list(numbered(1));
    struct Case {
        std::string prefix;
        size_t size;
        bool added;
    } cases[] = {
        {"", 2047, true},
        {"", 2048, false},
        {"/split", 1500, true},  // arrives in two writes
        {"/short", 1500, false},
    };
    for (const Case& c : cases) {
        store_servers(0, 0);
        const std::string padding = "<!--" + std::string(c.size - document.size() - 7, '.') + "-->";
        publish("servers.xml", document + padding, "servers_list_url", c.prefix);
        EXPECT_EQ(sync(), c.added) << c.prefix << " " << c.size;
        EXPECT_EQ(entries(), c.added ? Names{"1"} : Names{}) << c.prefix << " " << c.size;
    }
}

}  // namespace
}  // namespace quietway
