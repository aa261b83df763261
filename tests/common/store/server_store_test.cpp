#include <gtest/gtest.h>
#include <json/value.h>
#include <json/writer.h>

#include <string>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/store/server_store.h"
#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

using Names = std::vector<std::string>;

std::string server_path(const std::string& number) {
    return std::string(kServersPath) + "\\" + number;
}

Json::Value params(const char* address, const char* name) {
    Json::Value value(Json::objectValue);
    value["address"] = address;
    value["name"] = name;
    return value;
}

class ServerStoreTest : public testing::StoreTest {
protected:
    ServerStoreTest() : log_env_(kLogDirEnv, log_dir_.str()) {
        program_log().set_file_name("Store.log");
    }

    // The servers key as installed, with its two counters.
    void install_servers(uint32_t last_index, uint32_t activated) {
        ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", last_index));
        ASSERT_TRUE(create_reg_dword(kServersPath, "activated", activated));
    }
    void put_server(const std::string& number, const char* name, uint32_t status) {
        const std::string path = server_path(number);
        ASSERT_TRUE(
            create_reg_string(RootKey::local_machine, path.c_str(), "address", "a" + number));
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, path.c_str(), "address_ip", ""));
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, path.c_str(), "name", name));
        ASSERT_TRUE(create_reg_dword(path.c_str(), "status", status));
    }
    uint32_t counter(const char* name) {
        uint32_t value = 0xFFFFFFFF;
        read_reg_dword(kServersPath, name, value);
        return value;
    }
    Names entries() {
        Names names;
        list_reg_subkeys(kServersPath, names);
        return names;
    }

    testing::TempDir log_dir_;
    testing::ScopedEnv log_env_;
};

TEST_F(ServerStoreTest, AddingWithoutLastIndexFailsAndCreatesNothing) {
    ASSERT_TRUE(create_reg_dword(kServersPath, "activated", 0));
    EXPECT_FALSE(add_server_entry(params("10.1.2.3", "first")));
    EXPECT_TRUE(entries().empty());
}

TEST_F(ServerStoreTest, AddingTakesTheNextNumberAndStartsInitial) {
    install_servers(5, 0);
    ASSERT_TRUE(add_server_entry(params("vpn.example.net", "Six")));
    EXPECT_EQ(counter("last_index"), 6u);
    EXPECT_EQ(entries(), Names{"6"});

    ServerRecord server;
    ASSERT_TRUE(read_server("6", server));
    EXPECT_EQ(server.address, "vpn.example.net");
    EXPECT_EQ(server.address_ip, "");
    EXPECT_EQ(server.name, "Six");
    EXPECT_EQ(server.status, kServerInitial);

    Json::Value list;
    ASSERT_TRUE(list_servers_json(list));
    EXPECT_EQ(Json::FastWriter().write(list),
              "[{\"activated\":0,\"address\":\"vpn.example.net\",\"id\":6,\"name\":\"Six\","
              "\"status\":\"initial\"}]\n");
}

TEST_F(ServerStoreTest, ParametersAreTakenAsText) {
    install_servers(0, 0);
    Json::Value odd(Json::objectValue);
    odd["address"] = true;
    odd["name"] = 42;
    ASSERT_TRUE(add_server_entry(odd));
    ServerRecord server;
    ASSERT_TRUE(read_server("1", server));
    EXPECT_EQ(server.address, "true");
    EXPECT_EQ(server.name, "42");

    // Missing members and a params value that is no object count as empty text.
    ASSERT_TRUE(add_server_entry(Json::Value()));
    ASSERT_TRUE(read_server("2", server));
    EXPECT_EQ(server.address, "");
    EXPECT_EQ(server.name, "");
}

TEST_F(ServerStoreTest, UnconvertibleOrOverlongParametersChangeNothing) {
    install_servers(3, 0);
    Json::Value bad = params("10.0.0.1", "x");
    bad["name"] = Json::Value(Json::arrayValue);
    EXPECT_FALSE(add_server_entry(bad));
    EXPECT_FALSE(add_server_entry(params(std::string(512, 'a').c_str(), "long")));
    EXPECT_EQ(counter("last_index"), 3u);
    EXPECT_TRUE(entries().empty());
}

TEST_F(ServerStoreTest, ListingNamesStatusesAndTheActivatedEntryInStoreOrder) {
    install_servers(10, 2);
    put_server("2", "two", kServerReady);
    put_server("10", "ten", kServerFailed);
    put_server("1", "one", 7);
    Json::Value list;
    ASSERT_TRUE(list_servers_json(list));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]["id"].asInt(), 1);
    EXPECT_FALSE(list[0].isMember("status"));
    EXPECT_EQ(list[1]["id"].asInt(), 10);
    EXPECT_EQ(list[1]["status"].asString(), "failed");
    EXPECT_EQ(list[1]["activated"].asInt(), 0);
    EXPECT_EQ(list[2]["id"].asInt(), 2);
    EXPECT_EQ(list[2]["status"].asString(), "ready");
    EXPECT_EQ(list[2]["activated"].asInt(), 1);
    EXPECT_EQ(list[2]["name"].asString(), "two");
    EXPECT_EQ(list[2]["address"].asString(), "a2");
}

TEST_F(ServerStoreTest, ListingEntriesWithMissingValuesUsesDefaults) {
    install_servers(4, 0);
    ASSERT_TRUE(create_reg_dword(server_path("4").c_str(), "other", 1));
    Json::Value list;
    ASSERT_TRUE(list_servers_json(list));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["address"].asString(), "");
    EXPECT_EQ(list[0]["name"].asString(), "");
    EXPECT_EQ(list[0]["status"].asString(), "initial");
    EXPECT_EQ(list[0]["activated"].asInt(), 0);
}

TEST_F(ServerStoreTest, ListingFailsWithoutTheKeyOrTheActivatedValue) {
    Json::Value list = "untouched";
    EXPECT_FALSE(list_servers_json(list));
    ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 0));
    put_server("1", "one", kServerReady);
    EXPECT_FALSE(list_servers_json(list));
    EXPECT_EQ(list.asString(), "untouched");
}

TEST_F(ServerStoreTest, UpdatingWritesAddressAndNameOnly) {
    install_servers(1, 0);
    put_server("1", "one", kServerReady);
    ASSERT_TRUE(write_reg_string(server_path("1").c_str(), "address_ip", "10.9.9.9"));
    Json::Value change = params("new.example.net", "renamed");
    change["id"] = 1;  // a number is taken as its decimal text
    ASSERT_TRUE(update_server_entry(change));
    ServerRecord server;
    ASSERT_TRUE(read_server("1", server));
    EXPECT_EQ(server.address, "new.example.net");
    EXPECT_EQ(server.name, "renamed");
    EXPECT_EQ(server.address_ip, "10.9.9.9");
    EXPECT_EQ(server.status, kServerReady);

    change["id"] = "";
    EXPECT_FALSE(update_server_entry(change));
    change["id"] = "5";
    EXPECT_FALSE(update_server_entry(change));
    EXPECT_EQ(entries(), Names{"1"});
}

TEST_F(ServerStoreTest, DeletingAnEntryLeavesTheCounters) {
    install_servers(3, 3);
    put_server("3", "three", kServerReady);
    EXPECT_TRUE(delete_server_entry("3"));
    EXPECT_TRUE(entries().empty());
    EXPECT_EQ(counter("last_index"), 3u);
    EXPECT_EQ(counter("activated"), 3u);
    EXPECT_FALSE(delete_server_entry("3"));
}

TEST_F(ServerStoreTest, NumbersThatAreNotOneKeyNameAreRefused) {
    install_servers(3, 1);
    put_server("1", "one", kServerReady);
    // An empty number would name the servers key itself and delete its counters.
    EXPECT_FALSE(delete_server_entry(""));
    EXPECT_FALSE(delete_server_entry("1\\..\\1"));
    EXPECT_FALSE(set_server_status("", kServerFailed));
    EXPECT_EQ(counter("last_index"), 3u);
    EXPECT_EQ(counter("activated"), 1u);
    EXPECT_FALSE(delete_server_entry("1\r\nforged line"));
    const std::string log = testing::read_file(log_dir_ / "Store.log");
    EXPECT_NE(log.find("invalid entry number: \"\""), std::string::npos);
    EXPECT_NE(log.find("invalid entry number: \"1??forged line\""), std::string::npos) << log;

    std::string path;
    EXPECT_TRUE(server_key_path(std::string(100, '9'), path));
    EXPECT_EQ(path.size(), kServerPathCapacity - 1);
    EXPECT_FALSE(server_key_path(std::string(101, '9'), path));
}

TEST_F(ServerStoreTest, ReadingNeedsAllFourValuesAndLeavesTheRecordOnFailure) {
    install_servers(1, 0);
    put_server("1", "one", kServerFailed);
    for (const char* missing : {"address", "address_ip", "name", "status"}) {
        put_server("1", "one", kServerFailed);
        ASSERT_TRUE(delete_reg_value(server_path("1").c_str(), missing));
        ServerRecord server{9, "kept", "kept", "kept", 9};
        EXPECT_FALSE(read_server("1", server)) << missing;
        EXPECT_EQ(server.name, "kept");
        EXPECT_EQ(server.status, 9u);
    }
    ServerRecord server{9, "", "", "", 0};
    EXPECT_FALSE(read_server("03", server));  // names are looked up as written
}

TEST_F(ServerStoreTest, WritingNeedsTheEntry) {
    install_servers(2, 0);
    put_server("2", "two", kServerInitial);
    const ServerRecord changed{2, "two!", "host.example", "10.0.0.2", kServerReady};
    ASSERT_TRUE(write_server("2", changed));
    ServerRecord server;
    ASSERT_TRUE(read_server("2", server));
    EXPECT_EQ(server.name, "two!");
    EXPECT_EQ(server.address, "host.example");
    EXPECT_EQ(server.address_ip, "10.0.0.2");
    EXPECT_EQ(server.status, kServerReady);

    EXPECT_FALSE(write_server("3", changed));
    EXPECT_FALSE(set_server_status("3", kServerReady));
    EXPECT_EQ(entries(), Names{"2"});
}

TEST_F(ServerStoreTest, CreatingSetsLastIndexToTheNumber) {
    install_servers(8, 0);
    const ServerRecord server{3, "three", "three.example", "10.0.0.3", kServerInitial};
    ASSERT_TRUE(create_server(server));
    EXPECT_EQ(counter("last_index"), 3u);
    ServerRecord read;
    ASSERT_TRUE(read_server("3", read));
    EXPECT_EQ(read.address_ip, "10.0.0.3");

    EXPECT_FALSE(create_server({0, "zero", "x", "", 0}));
    EXPECT_FALSE(create_server({-4, "negative", "x", "", 0}));
    EXPECT_EQ(counter("last_index"), 3u);
    EXPECT_EQ(entries(), Names{"3"});
}

TEST_F(ServerStoreTest, OnlyADottedIpv4AddressBecomesAnAddressIp) {
    install_servers(1, 0);
    put_server("1", "one", kServerReady);
    const std::pair<const char*, bool> cases[] = {
        {"10.0.0.1", true},        {"0.0.0.0", true},          {"255.255.255.255", true},
        {"10.0.0.1\nup x", false}, {" 10.0.0.1", false},       {"10.0.0.256", false},
        {"010.0.0.1", false},      {"10.0.0", false},          {"1.2.3.4.5", false},
        {"1..2.3", false},         {"vpn.example.net", false}, {"", false},
    };
    for (const auto& [text, dotted] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(is_dotted_ipv4(text), dotted);
        // "" stands for an address not known yet; anything else must be an address.
        EXPECT_EQ(write_server("1", {1, "one", "a1", text, kServerReady}), dotted || !*text);
        // An address starting with a digit is taken as the address_ip as written.
        Json::Value change = params(text, "one");
        change["id"] = 1;
        const bool address = dotted || !(*text >= '0' && *text <= '9');
        EXPECT_EQ(update_server_entry(change), address);
    }
}

TEST_F(ServerStoreTest, StatusAndActivationWrites) {
    install_servers(1, 0);
    put_server("1", "one", kServerInitial);
    EXPECT_TRUE(set_server_status("1", kServerReady));
    ServerRecord server;
    ASSERT_TRUE(read_server("1", server));
    EXPECT_EQ(server.status, kServerReady);

    EXPECT_TRUE(set_activated(1));
    EXPECT_EQ(counter("activated"), 1u);
    EXPECT_TRUE(clear_activated());
    EXPECT_EQ(counter("activated"), 0u);

    ASSERT_TRUE(delete_reg_tree(kServersPath));
    EXPECT_FALSE(set_activated(1));
    EXPECT_FALSE(reg_key_exists(kServersPath));
}

}  // namespace
}  // namespace quietway
