#include <gtest/gtest.h>

#include <string>

#include "common/store/notification_store.h"
#include "common/store/server_store.h"
#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/service/rpc/rpc_test_fixture.h"

namespace quietway::testing {
namespace {

const std::string kServer1 =
    R"({"activated":0,"address":"vpn1.example","id":1,"name":"One","status":"ready"})";
const std::string kServer10 = R"({"activated":0,"address":"10.10.0.10","id":10,"name":"Ten"})";
const std::string kServer2 =
    R"({"activated":1,"address":"10.2.0.2","id":2,"name":"Two","status":"ready"})";
const std::string kServer3 =
    R"({"activated":0,"address":"new.example","id":3,"name":"Three","status":"initial"})";
const std::string kServers =
    "[" + kServer1 + "," + kServer10 + "," + kServer2 + "," + kServer3 + "]";

std::string request(const std::string& method, const std::string& params = "",
                    const std::string& id = "1") {
    std::string text = R"({"jsonrpc":"2.0","method":")" + method + "\"";
    if (!params.empty()) text += R"(,"params":)" + params;
    if (!id.empty()) text += R"(,"id":)" + id;
    return text + "}";
}

void seed_server(const std::string& number, const std::string& name, const std::string& address,
                 const std::string& address_ip, uint32_t status) {
    const std::string path = std::string(kServersPath) + "\\" + number;
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, path.c_str(), "address", address));
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, path.c_str(), "address_ip", address_ip));
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, path.c_str(), "name", name));
    ASSERT_TRUE(create_reg_dword(path.c_str(), "status", status));
}

uint32_t general_number(const char* name) {
    uint32_t value = 12345;
    EXPECT_TRUE(get_setting_dword("general", name, value)) << name;
    return value;
}

std::string general_text(const char* name) {
    std::string value = "<missing>";
    get_setting_string("general", name, value);
    return value;
}

uint32_t activated() {
    uint32_t value = 12345;
    EXPECT_TRUE(read_reg_dword(kServersPath, "activated", value));
    return value;
}

class RpcMethods : public EndpointTest {
protected:
    void SetUp() override {
        EndpointTest::SetUp();
        ASSERT_TRUE(create_reg_dword(kGeneralPath, "auto_privacy", 1));
        ASSERT_TRUE(create_reg_dword(kGeneralPath, "auto_tray", 1));
        ASSERT_TRUE(create_reg_dword(kGeneralPath, "use_firewall", 0));
        ASSERT_TRUE(create_reg_dword(kGeneralPath, "use_change_servers", 1));
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, kGeneralPath, "user", "alice"));
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, kGeneralPath, "account_expires",
                                      "1767225600"));
        ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 10));
        ASSERT_TRUE(create_reg_dword(kServersPath, "activated", 2));
        seed_server("1", "One", "vpn1.example", "10.1.0.1", kServerReady);
        seed_server("2", "Two", "10.2.0.2", "10.2.0.2", kServerReady);
        seed_server("3", "Three", "new.example", "", kServerInitial);
        seed_server("10", "Ten", "10.10.0.10", "", 7);
    }

    // Everything the methods can change, as the API itself reports it.
    std::string snapshot() {
        std::string account;
        get_setting_string("general", "account_expires", account);
        return call(request("get_general")) + call(request("get_servers")) + account;
    }
};

TEST_F(RpcMethods, AboutInfoAndDescribe) {
    EXPECT_EQ(call(request("get_about_info")), api_reply(kAboutBody));
    EXPECT_EQ(
        call(request("system.describe")),
        api_reply(R"({"id":1,"jsonrpc":"2.0","result":{"activate_server":"description",)"
                  R"("add_server":"description","apply_account":"description",)"
                  R"("check_connection":"description",)"
                  R"("deactivate_server":"description","delete_server":"description",)"
                  R"("get_about_info":"description","get_active_server_state":"description",)"
                  R"("get_general":"description","get_notifications":"description",)"
                  R"("get_servers":"description","set_general":"description",)"
                  R"("set_privacy_mode":"description",)"
                  R"("start_privacy":"description","stop_privacy":"description",)"
                  R"("system.describe":{"description":"List the RPC methods available",)"
                  R"("parameters":null,"returns":"Object that contains description of all methods )"
                  R"(registered"},"update_server":"description"}})"));
}

TEST_F(RpcMethods, CallWithoutIdIsAnsweredAlike) {
    EXPECT_EQ(call(request("get_about_info", "", "")), api_reply(kAboutBody));
    EXPECT_EQ(call(request("start_privacy", "", "")),
              api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":1,"same_user":0})"));
}

TEST_F(RpcMethods, GetGeneralReportsSettingsAndStatus) {
    engine_.set_state(kPrivacyConnected, 2, 1, "2");
    EXPECT_EQ(call(request("get_general")),
              api_reply(R"({"account_expires":"1767225600","active_server":2,"auto_privacy":1,)"
                        R"("auto_tray":1,"error":0,"privacy_mode":2,"privacy_status":3,)"
                        R"("same_user":1,"use_change_servers":1,"use_firewall":0})"));
    // Values that cannot be read count as 0 and the empty text.
    ASSERT_TRUE(delete_reg_tree(kGeneralPath));
    ASSERT_TRUE(delete_reg_value(kServersPath, "activated"));
    EXPECT_EQ(call(request("get_general")),
              api_reply(R"({"account_expires":"","active_server":0,"auto_privacy":0,)"
                        R"("auto_tray":0,"error":0,"privacy_mode":2,"privacy_status":3,)"
                        R"("same_user":1,"use_change_servers":0,"use_firewall":0})"));
}

TEST_F(RpcMethods, SetGeneralOnlyWhileStopped) {
    for (int32_t status : {kPrivacyConnected, kPrivacyConnecting}) {
        engine_.set_state(status);
        EXPECT_EQ(call(request("set_general", R"({"auto_privacy":0,"use_firewall":1})")),
                  api_reply(R"({"error":3})"));
        EXPECT_EQ(general_number("auto_privacy"), 1u);
        EXPECT_EQ(general_number("use_firewall"), 0u);
    }
    engine_.set_state(kPrivacyStopped);
    EXPECT_EQ(call(request("set_general")), api_reply(R"({"error":0})"));
    EXPECT_EQ(general_number("auto_privacy"), 0u);
    EXPECT_EQ(general_number("use_firewall"), 0u);
    EXPECT_EQ(general_number("use_change_servers"), 0u);

    EXPECT_EQ(call(request("set_general", R"({"auto_privacy":true,"use_firewall":1.9,)"
                                          R"("use_change_servers":null,"auto_tray":0})")),
              api_reply(R"({"error":0})"));
    EXPECT_EQ(general_number("auto_privacy"), 1u);
    EXPECT_EQ(general_number("use_firewall"), 1u);
    EXPECT_EQ(general_number("use_change_servers"), 0u);
    EXPECT_EQ(general_number("auto_tray"), 1u);  // not settable through the API

    // "params" that is not an object counts as an empty one.
    EXPECT_EQ(call(request("set_general", "[1,1,1]")), api_reply(R"({"error":0})"));
    EXPECT_EQ(general_number("auto_privacy"), 0u);
}

TEST_F(RpcMethods, StartAndStopReportTheStatusBeforeActing) {
    engine_.set_state(kPrivacyConnecting, 2);
    EXPECT_EQ(call(request("start_privacy")),
              api_reply(R"({"error":1,"privacy_mode":2,"privacy_status":2,"same_user":0})"));
    EXPECT_EQ(call(request("stop_privacy")),
              api_reply(R"({"error":2,"privacy_mode":2,"privacy_status":2,"same_user":0})"));
    EXPECT_TRUE(engine_.calls().empty());

    engine_.set_state(kPrivacyStopped, 1);
    EXPECT_EQ(call(request("start_privacy")),
              api_reply(R"({"error":0,"privacy_mode":1,"privacy_status":1,"same_user":0})"));
    EXPECT_EQ(call(request("stop_privacy")),
              api_reply(R"({"error":2,"privacy_mode":1,"privacy_status":1,"same_user":0})"));
    engine_.start_result = false;
    EXPECT_EQ(call(request("start_privacy")),
              api_reply(R"({"error":7,"privacy_mode":1,"privacy_status":1,"same_user":0})"));

    engine_.set_state(kPrivacyConnected, 0, 1, "1");
    EXPECT_EQ(call(request("start_privacy")),
              api_reply(R"({"error":1,"privacy_mode":0,"privacy_status":3,"same_user":1})"));
    EXPECT_EQ(call(request("stop_privacy")),
              api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":3,"same_user":1})"));
    engine_.stop_result = false;
    EXPECT_EQ(call(request("stop_privacy")),
              api_reply(R"({"error":8,"privacy_mode":0,"privacy_status":3,"same_user":1})"));
    EXPECT_EQ(engine_.calls(), (std::vector<std::string>{"start", "start", "stop", "stop"}));
}

TEST_F(RpcMethods, SetPrivacyModeOnlyWhileStoppedAndOnlyForTheThreeModes) {
    const std::string invalid = R"({"error":{"code":-32602,"message":"Invalid params."},)"
                                R"("id":1,"jsonrpc":"2.0"})";
    for (const char* params : {"", "{}", R"({"mode":3})", R"({"mode":-1})", R"({"mode":"2"})",
                               R"({"mode":1.5})", R"({"mode":true})", R"({"mode":null})"}) {
        EXPECT_EQ(call(request("set_privacy_mode", params)), api_reply(invalid)) << params;
    }
    EXPECT_EQ(call(request("set_privacy_mode", R"({"mode":2})")),
              api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":1,"same_user":0})"));
    engine_.mode_result = false;
    EXPECT_EQ(call(request("set_privacy_mode", R"({"mode":0})")),
              api_reply(R"({"error":10,"privacy_mode":0,"privacy_status":1,"same_user":0})"));
    for (int32_t status : {kPrivacyConnecting, kPrivacyConnected}) {
        engine_.set_state(status, 2);
        EXPECT_EQ(call(request("set_privacy_mode", R"({"mode":1})")),
                  api_reply(R"({"error":3,"privacy_mode":2,"privacy_status":)" +
                            std::to_string(status) + R"(,"same_user":0})"));
    }
    EXPECT_EQ(engine_.calls(), (std::vector<std::string>{"mode 2", "mode 0"}));
}

TEST_F(RpcMethods, TheConnectionCheckNeedsUsableCheckSettings) {
    const std::string not_configured =
        api_reply(R"({"error":11,"privacy_mode":0,"privacy_status":1,"same_user":0})");
    EXPECT_EQ(call(request("check_connection")), not_configured);
    const char* app = "SOFTWARE\\Quietway2\\app";
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, app, "app_dir", "/opt/quietway"));
    struct Case {
        const char* url;
        const char* name;
        const char* address;
    } cases[] = {
        {"ftp://10.0.0.1/", "check.example", "10.0.0.53"},
        {"-K/etc/passwd", "check.example", "10.0.0.53"},
        {"http://10.0.0.1/ http://x/", "check.example", "10.0.0.53"},
        {"http://10.0.0.1/", "check example", "10.0.0.53"},
        {"http://10.0.0.1/", "check.example", "check.example"},
        {"http://10.0.0.1/", "", "10.0.0.53"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, app, "check_ip_url", c.url));
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, app, "check_dns_name", c.name));
        ASSERT_TRUE(create_reg_string(RootKey::local_machine, app, "check_dns_address", c.address));
        EXPECT_EQ(call(request("check_connection")), not_configured)
            << c.url << c.name << c.address;
    }
}

TEST_F(RpcMethods, GetServersListsInStoreOrder) {
    EXPECT_EQ(call(request("get_servers")),
              api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":1,"same_user":0,)"
                        R"("servers":)" +
                        kServers + R"(,"user":"alice"})"));
    ASSERT_TRUE(delete_reg_value(kServersPath, "activated"));
    ASSERT_TRUE(delete_reg_value(kGeneralPath, "user"));
    EXPECT_EQ(call(request("get_servers")),
              api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":1,"same_user":0,)"
                        R"("servers":null,"user":""})"));
}

TEST_F(RpcMethods, GetNotificationsListsExpiryAsExpired) {
    EXPECT_EQ(call(request("get_notifications")), api_reply(R"({"error":0,"notifications":null})"));
    NotificationRecord first;
    first.id = 5;
    first.title = "Maintenance";
    first.info = "Server \"One\" restarts tonight";
    first.url = "https://vendor.example/news";
    first.expires = 1767225600;
    first.state = kNotificationShown;
    ASSERT_TRUE(create_notification(first));
    NotificationRecord second;
    second.id = 12;
    second.title = "Offer";
    second.banner = "C:\\temp\\banner.png";
    second.banner_url = "https://vendor.example/banner.png";
    ASSERT_TRUE(create_notification(second));
    EXPECT_EQ(
        call(request("get_notifications")),
        api_reply(
            R"({"error":0,"notifications":[)"
            R"({"banner":"C:\\temp\\banner.png","banner_url":"https://vendor.example/banner.png",)"
            R"("expired":0,"info":"","title":"Offer","url":""},)"
            R"({"banner":"","banner_url":"","expired":1767225600,)"
            R"("info":"Server \"One\" restarts tonight","title":"Maintenance",)"
            R"("url":"https://vendor.example/news"}]})"));
}

TEST_F(RpcMethods, ActiveServerStateOnlyWhileConnected) {
    const std::string stopped = api_reply(
        R"({"error":0,"privacy_mode":2,"privacy_status":1,"same_user":0,"server_ip":""})");
    engine_.set_state(kPrivacyStopped, 2, 0, "2");
    EXPECT_EQ(call(request("get_active_server_state")), stopped);
    engine_.set_state(kPrivacyConnecting, 2, 0, "2");
    EXPECT_EQ(
        call(request("get_active_server_state")),
        api_reply(
            R"({"error":0,"privacy_mode":2,"privacy_status":2,"same_user":0,"server_ip":""})"));
    engine_.set_state(kPrivacyConnected, 2, 0, "1");
    EXPECT_EQ(
        call(request("get_active_server_state")),
        api_reply(
            R"({"error":0,"privacy_mode":2,"privacy_status":3,"same_user":0,"server_ip":"10.1.0.1"})"));
    engine_.set_state(kPrivacyConnected, 2, 0, "99");
    EXPECT_EQ(
        call(request("get_active_server_state")),
        api_reply(
            R"({"error":0,"privacy_mode":2,"privacy_status":3,"same_user":0,"server_ip":""})"));
}

TEST_F(RpcMethods, AddServerTakesTheNextNumber) {
    const std::string added =
        R"({"activated":0,"address":"true","id":11,"name":"42","status":"initial"})";
    EXPECT_EQ(call(request("add_server", R"({"address":true,"name":42})")),
              api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":1,"same_user":0,)"
                        R"("servers":[)" +
                        kServer1 + "," + kServer10 + "," + added + "," + kServer2 + "," + kServer3 +
                        "]}"));
    uint32_t last_index = 0;
    EXPECT_TRUE(read_reg_dword(kServersPath, "last_index", last_index));
    EXPECT_EQ(last_index, 11u);
    ServerRecord record;
    ASSERT_TRUE(read_server("11", record));
    EXPECT_EQ(record.address_ip, "");

    // Without last_index nothing is created, and the reply still says 0.
    ASSERT_TRUE(delete_reg_value(kServersPath, "last_index"));
    const std::string before = call(request("get_servers"));
    EXPECT_EQ(call(request("add_server", R"({"address":"x.example","name":"X"})")),
              api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":1,"same_user":0,)"
                        R"("servers":[)" +
                        kServer1 + "," + kServer10 + "," + added + "," + kServer2 + "," + kServer3 +
                        "]}"));
    EXPECT_EQ(call(request("get_servers")), before);
}

TEST_F(RpcMethods, UpdateServerKeepsAddressIpAndStatus) {
    EXPECT_EQ(
        call(request("update_server", R"({"id":1,"address":"changed.example","name":"Uno"})")),
        api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":1,"same_user":0,)"
                  R"("servers":[{"activated":0,"address":"changed.example","id":1,)"
                  R"("name":"Uno","status":"ready"},)" +
                  kServer10 + "," + kServer2 + "," + kServer3 + "]}"));
    ServerRecord record;
    ASSERT_TRUE(read_server("1", record));
    EXPECT_EQ(record.address_ip, "10.1.0.1");
    // An empty id changes nothing; the answer is 0 all the same.
    const std::string before = snapshot();
    EXPECT_EQ(call(request("update_server", R"({"address":"a","name":"b"})")),
              api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":1,"same_user":0,)"
                        R"("servers":[{"activated":0,"address":"changed.example","id":1,)"
                        R"("name":"Uno","status":"ready"},)" +
                        kServer10 + "," + kServer2 + "," + kServer3 + "]}"));
    EXPECT_EQ(snapshot(), before);
}

TEST_F(RpcMethods, DeleteServerTakesNumberOrText) {
    EXPECT_EQ(call(request("delete_server", R"({"index":10})")),
              api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":1,"same_user":0,)"
                        R"("servers":[)" +
                        kServer1 + "," + kServer2 + "," + kServer3 + "]}"));
    EXPECT_EQ(call(request("delete_server", R"({"index":"2"})")),
              api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":1,"same_user":0,)"
                        R"("servers":[)" +
                        kServer1 + "," + kServer3 + "]}"));
    EXPECT_EQ(activated(), 2u);  // deleting the activated entry leaves `activated` alone
    // Names that try to leave the servers key delete nothing.
    const std::string before = snapshot();
    for (const char* index : {R"("..\\general")", R"("../general")", R"("")", R"("1\\x")"}) {
        call(request("delete_server", std::string(R"({"index":)") + index + "}"));
        EXPECT_EQ(snapshot(), before) << index;
    }
}

TEST_F(RpcMethods, ApplyAccountClearsExpiryAndProvisions) {
    EXPECT_EQ(call(request("apply_account", R"({"user":12,"password":"pw \"x\""})")),
              api_reply(R"({"error":0,"privacy_mode":0,"privacy_status":1,"same_user":0,)"
                        R"("servers":)" +
                        kServers + "}"));
    std::string expires = "unchanged";
    EXPECT_TRUE(get_setting_string("general", "account_expires", expires));
    EXPECT_EQ(expires, "");
    engine_.account_result = false;
    EXPECT_EQ(call(request("apply_account", R"({"user":"bob"})")),
              api_reply(R"({"error":9,"privacy_mode":0,"privacy_status":1,"same_user":0,)"
                        R"("servers":)" +
                        kServers + "}"));
    EXPECT_EQ(engine_.calls(), (std::vector<std::string>{"account 12 pw \"x\"", "account bob "}));
    // An account the store cannot hold is refused before anything changes.
    ASSERT_TRUE(set_setting_string("general", "account_expires", "1767225600"));
    engine_.account_result = true;
    EXPECT_EQ(call(request("apply_account",
                           R"({"user":"carol","password":")" + std::string(512, 'p') + "\"}")),
              api_reply(R"({"error":9,"privacy_mode":0,"privacy_status":1,"same_user":0,)"
                        R"("servers":)" +
                        kServers + "}"));
    EXPECT_EQ(engine_.calls().size(), 2u);
    EXPECT_EQ(general_text("account_expires"), "1767225600");
}

TEST_F(RpcMethods, BytesThatAreNotUtf8ComeOutAsReplacementsAndEatNothing) {
    seed_server("4", "Z\xE9rich", "Z\xC3\xBCrich", "", kServerReady);
    ASSERT_TRUE(set_setting_string("general", "user", "Z\xE9rich"));
    NotificationRecord notification;
    notification.id = 7;
    notification.title = "Z\xE9rich";
    ASSERT_TRUE(create_notification(notification));

    const std::string servers = call(request("get_servers"));
    EXPECT_NE(
        servers.find(R"({"activated":0,"address":"Z\u00fcrich","id":4,"name":"Z\ufffdrich",)"),
        std::string::npos)
        << servers;
    EXPECT_NE(servers.find(R"("user":"Z\ufffdrich")"), std::string::npos) << servers;
    EXPECT_NE(call(request("get_notifications")).find(R"("title":"Z\ufffdrich")"),
              std::string::npos);
    // Text the caller sent comes back the same way.
    EXPECT_EQ(call(request("no_such_method", "", "\"Z\xE9rich\"")),
              api_reply(R"({"error":{"code":-32601,"message":"Method not found."},)"
                        R"("id":"Z\ufffdrich","jsonrpc":"2.0"})"));
}

TEST_F(RpcMethods, ActivationNeedsAReadyServer) {
    engine_.set_state(kPrivacyConnected, 2, 0, "2");
    EXPECT_EQ(call(request("activate_server", R"({"index":"3"})")),
              api_reply(R"({"error":5,"privacy_mode":2,"privacy_status":3,"same_user":0,)"
                        R"("servers":)" +
                        kServers + "}"));
    EXPECT_EQ(activated(), 2u);
    EXPECT_EQ(call(request("activate_server", R"({"index":1})")),
              api_reply(R"({"error":0,"privacy_mode":2,"privacy_status":3,"same_user":0,)"
                        R"("servers":[{"activated":1,"address":"vpn1.example","id":1,)"
                        R"("name":"One","status":"ready"},)" +
                        kServer10 +
                        R"(,{"activated":0,"address":"10.2.0.2","id":2,"name":"Two",)"
                        R"("status":"ready"},)" +
                        kServer3 + "]}"));
    EXPECT_EQ(call(request("deactivate_server")),
              api_reply(R"({"error":0,"privacy_mode":2,"privacy_status":3,"same_user":0,)"
                        R"("servers":[)" +
                        kServer1 + "," + kServer10 +
                        R"(,{"activated":0,"address":"10.2.0.2","id":2,"name":"Two",)"
                        R"("status":"ready"},)" +
                        kServer3 + "]}"));
    EXPECT_EQ(activated(), 0u);
    EXPECT_EQ(engine_.calls(), (std::vector<std::string>{"select 3", "select 1", "clear "}));
}

TEST_F(RpcMethods, UnconvertibleOrOverlongParamsChangeNothing) {
    const std::string invalid =
        R"({"error":{"code":-32602,"message":"Invalid params."},"id":5,"jsonrpc":"2.0"})";
    const std::string before = snapshot();
    const std::string too_long = "\"" + std::string(512, 'a') + "\"";
    const std::string address_too_long = R"({"name":"x","address":)" + too_long + "}";
    const std::string name_too_long = R"({"id":1,"address":"x","name":)" + too_long + "}";
    const std::pair<const char*, const char*> calls[] = {
        {"set_general", R"({"auto_privacy":"fast"})"},  // the README's example
        {"add_server", address_too_long.c_str()},
        {"update_server", name_too_long.c_str()},
        {"set_general", R"({"auto_privacy":"1"})"},
        {"set_general", R"({"auto_privacy":0,"use_firewall":[1]})"},
        {"set_general", R"({"use_change_servers":4294967296})"},
        {"set_general", R"({"use_change_servers":-2147483649})"},
        {"set_general", R"({"use_change_servers":2147483648.5})"},
        {"add_server", R"({"address":[1],"name":"x"})"},
        {"add_server", R"({"address":"x","name":{}})"},
        {"update_server", R"({"id":{"n":1},"address":"x","name":"y"})"},
        {"update_server", R"({"id":1,"address":"x","name":[]})"},
        {"delete_server", R"({"index":[10]})"},
        {"apply_account", R"({"user":"u","password":["x"]})"},
        {"activate_server", R"({"index":{}})"},
        {"deactivate_server", R"({"index":[]})"},
    };
    for (const auto& [method, params] : calls) {
        EXPECT_EQ(call(request(method, params, "5")), api_reply(invalid)) << method << params;
    }
    EXPECT_EQ(call(request("delete_server", R"({"index":[10]})", "")),
              api_reply(R"({"error":{"code":-32602,"message":"Invalid params."},"id":null,)"
                        R"("jsonrpc":"2.0"})"));
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(engine_.calls().empty());
    EXPECT_NE(sandbox_.service_log().find("Text of 512 bytes for \"name\" refused"),
              std::string::npos);
    // While connected, set_general does not look at its parameters at all.
    engine_.set_state(kPrivacyConnected);
    EXPECT_EQ(call(request("set_general", R"({"auto_privacy":"1"})")), api_reply(R"({"error":3})"));
}

}  // namespace
}  // namespace quietway::testing
