// Hostile text end to end: one table of texts pushed through the control API, the vendor
// documents, account provisioning and the tray's link policy. Each text is either refused
// whole or kept byte for byte; no shell ever sees it.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/store/notification_store.h"
#include "common/store/server_store.h"
#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "common/store/store_limits.h"
#include "service/privacy/provision_platform.h"
#include "service/privacy/provision_text.h"
#include "service/privacy/servers_manager.h"
#include "tests/service/privacy/fake_tools.h"
#include "tests/service/rpc/rpc_test_fixture.h"
#include "tests/updater/sync/sync_fixture.h"
#include "tray/core/url_policy.h"
#include "updater/sync/sync_documents.h"
#include "updater/sync/syncs.h"

namespace quietway::testing {
namespace {

namespace fs = std::filesystem;

struct Hostile {
    const char* label;
    std::string text;
    std::string shown = {};  // how a JSON reply shows it when that differs from the text
};

// Every text that would run a command creates `canary` if it ever reached a shell (sh or cmd).
std::vector<Hostile> hostile_texts(const std::string& canary) {
    return {
        {"substitution", "$(touch " + canary + ")"},
        {"backticks", "`touch " + canary + "`"},
        {"semicolon", "x; touch " + canary},
        {"and", "x && echo ran > " + canary},
        {"ampersand", "x & echo ran > \"" + canary + "\""},
        {"pipe", "x | tee " + canary},
        {"quotes", "it's \"quoted\" '' \""},
        {"backslashes", "C:\\dir\\\\srv\\\" \\"},
        {"printf", "%s%n%x%99999d%%%p"},
        {"crlf", "one\r\ntwo\nthree\r"},
        {"nul", std::string("be\0fore", 7)},
        {"utf8", "Z\xC3\xBCrich \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x9A\x80"},
        {"invalid utf8", "Z\xE9rich\xFF", "Z\xEF\xBF\xBDrich\xEF\xBF\xBD"},
        {"overlong", "\xC0\xAF\xE0\x80\xAF",  // each byte is invalid on its own
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"511 bytes", std::string(510, 'x') + "|"},
        {"512 bytes", std::string(511, 'x') + "|"},
        {"64 KiB", std::string(64 * 1024, ';')},
        {"1 MiB", std::string(1024 * 1024, '`')},
    };
}

std::string shown(const Hostile& h) { return h.shown.empty() ? h.text : h.shown; }

// What the store keeps: a read ends at the first NUL, so a text holding one is refused.
bool fits(const std::string& text) {
    return text.size() <= kMaxStringValue && text.find('\0') == std::string::npos;
}

// A JSON string literal that carries every byte: escapes only what JSON requires.
std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// XML character data that keeps every byte, the CR included.
std::string xml_text(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const char* entity = c == '&'    ? "&amp;"
                             : c == '<'  ? "&lt;"
                             : c == '>'  ? "&gt;"
                             : c == '\r' ? "&#13;"
                             : c == '\0' ? "&#0;"
                                         : nullptr;
        out += entity != nullptr ? std::string(entity) : std::string(1, c);
    }
    return out;
}

std::string raw_value(const std::string& path, const char* name) {
    StoreValue value;
    return read_reg_value(path.c_str(), name, value) ? value.data : "<unreadable>";
}

std::string server_path(int number) {
    return std::string(kServersPath) + "\\" + std::to_string(number);
}

// ---------------------------------------------------------------- control API

class HostileApi : public EndpointTest {
protected:
    Json::Value call_json(const std::string& method, const std::string& params) {
        const std::string body =
            R"({"jsonrpc":"2.0","method":")" + method + R"(","id":1,"params":)" + params + "}";
        const RawReply raw = send(post_request("/", good_headers(), body));
        EXPECT_TRUE(raw.connected);
        const std::string& bytes = raw.bytes;
        Json::Value reply;
        const std::string prefix = "HTTP/1.1 200 OK\r\n\r\n ";
        if (body.size() > 1024 * 1024) {  // the endpoint's body limit
            EXPECT_NE(bytes.rfind(prefix, 0), 0u) << "an over-long body was dispatched";
            reply["declined"] = true;
        } else {
            EXPECT_EQ(bytes.rfind(prefix, 0), 0u) << bytes.substr(0, 80);
            EXPECT_TRUE(Json::Reader().parse(bytes.substr(prefix.size()), reply)) << bytes;
        }
        return reply;
    }
    static std::string listed_name(const Json::Value& reply, int id) {
        for (const Json::Value& entry : reply["servers"]) {
            if (entry["id"].asInt() == id) return entry["name"].asString();
        }
        return "<not listed>";
    }
};

TEST_F(HostileApi, TextsAreStoredWholeOrRefusedWithNothingChanged) {
    ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 1));
    ASSERT_TRUE(create_reg_dword(kServersPath, "activated", 0));
    ServerRecord one{1, "One", "one.example", "10.0.0.1", kServerReady};
    ASSERT_TRUE(create_server(one));
    ASSERT_TRUE(create_reg_dword(kGeneralPath, "auto_privacy", 1));
    const TempDir sandbox;
    const std::string canary = (sandbox.path() / "ran").string();

    for (const Hostile& h : hostile_texts(canary)) {
        SCOPED_TRACE(h.label);
        const std::string t = json_string(h.text);
        uint32_t last = 0;
        ASSERT_TRUE(read_reg_dword(kServersPath, "last_index", last));
        const std::string before =
            raw_value(server_path(1), "name") + raw_value(server_path(1), "address");
        const size_t account_calls = engine_.calls().size();

        const Json::Value added =
            call_json("add_server", R"({"name":)" + t + R"(,"address":)" + t + "}");
        const Json::Value updated =
            call_json("update_server", R"({"id":1,"name":)" + t + R"(,"address":)" + t + "}");
        const Json::Value account =
            call_json("apply_account", R"({"user":)" + t + R"(,"password":)" + t + "}");
        const Json::Value general = call_json("set_general", R"({"auto_privacy":)" + t + "}");
        uint32_t last_after = 0;
        ASSERT_TRUE(read_reg_dword(kServersPath, "last_index", last_after));

        if (fits(h.text)) {
            EXPECT_EQ(added["error"], Json::Value(0));
            EXPECT_EQ(last_after, last + 1);
            for (const char* name : {"name", "address"}) {
                EXPECT_EQ(raw_value(server_path(last_after), name), h.text) << name;
                EXPECT_EQ(raw_value(server_path(1), name), h.text) << name;
            }
            EXPECT_EQ(listed_name(added, static_cast<int>(last_after)), shown(h));
            EXPECT_EQ(listed_name(updated, 1), shown(h));
            ServerRecord kept;
            ASSERT_TRUE(read_server("1", kept));
            EXPECT_EQ(kept.address_ip + std::to_string(kept.status),
                      "10.0.0.1" + std::to_string(kServerReady));
            EXPECT_EQ(account["error"], Json::Value(0));
            ASSERT_EQ(engine_.calls().size(), account_calls + 1);
            EXPECT_EQ(engine_.calls().back(), "account " + h.text + " " + h.text);
        } else {
            EXPECT_EQ(last_after, last);
            EXPECT_EQ(raw_value(server_path(1), "name") + raw_value(server_path(1), "address"),
                      before);
            EXPECT_EQ(engine_.calls().size(), account_calls);
            if (!added.isMember("declined")) {
                EXPECT_EQ(added["error"]["code"], Json::Value(-32602));
                EXPECT_EQ(updated["error"]["code"], Json::Value(-32602));
                EXPECT_EQ(account["error"], Json::Value(9));
                EXPECT_NE(sandbox_.service_log().find("Text of " + std::to_string(h.text.size()) +
                                                      " bytes for \"address\" refused"),
                          std::string::npos);
            }
        }
        if (!general.isMember("declined")) {
            EXPECT_EQ(general["error"]["code"], Json::Value(-32602));
        }
        uint32_t auto_privacy = 0;
        EXPECT_TRUE(get_setting_dword("general", "auto_privacy", auto_privacy));
        EXPECT_EQ(auto_privacy, 1u);
        EXPECT_FALSE(fs::exists(canary));
    }
}

// ---------------------------------------------------------------- vendor documents

using HostileDocuments = SyncTest;

TEST_F(HostileDocuments, ListedTextsAreStoredWholeOrTheirEntrySkipped) {
    const std::string notifications = std::string(kStoreRoot) + "\\notifications";
    const std::string canary = (site_.path() / "ran").string();
    for (const Hostile& h : hostile_texts(canary)) {
        SCOPED_TRACE(h.label);
        ASSERT_TRUE(delete_reg_tree(kServersPath) || !reg_key_exists(kServersPath));
        ASSERT_TRUE(create_reg_dword(kServersPath, "activated", 0));
        ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 0));
        if (reg_key_exists(notifications.c_str())) {
            ASSERT_TRUE(delete_reg_tree(notifications.c_str()));
        }

        const std::string x = xml_text(h.text);
        const std::string servers =
            "<?xml version=\"1.0\"?>\n<QUIETWAY><SERVER><NUMBER>1</NUMBER><NAME>" + x +
            "</NAME><ADDRESS>" + x +
            "</ADDRESS><IP>10.0.0.1</IP></SERVER>\n<SERVER><NUMBER>2</NUMBER><NAME>Two</NAME>"
            "<ADDRESS>two.example</ADDRESS></SERVER></QUIETWAY>\n";
        const std::string events =
            "<?xml version=\"1.0\"?>\n<QUIETWAY><EVENT><ID>1</ID><TITLE>" + x + "</TITLE><BODY>" +
            x + "</BODY><URL>" + x +
            "</URL><EXPIRES>1700000000</EXPIRES></EVENT>\n<EVENT><ID>2</ID><TITLE>Two</TITLE>"
            "<EXPIRES>1700000000</EXPIRES></EVENT></QUIETWAY>\n";
        publish("servers.xml", servers, "servers_list_url");
        publish("events.xml", events, "notification_get_url");
        sync_servers(nullptr);
        sync_notifications(nullptr);

        uint32_t last = 99;
        ASSERT_TRUE(read_reg_dword(kServersPath, "last_index", last));
        NotificationRecord record;
        // A document too long, or with a NUL reference (not XML), changes nothing.
        const bool has_nul = h.text.find('\0') != std::string::npos;
        if (servers.size() > kServerListLimit || has_nul) {
            EXPECT_EQ(last, 0u);
            EXPECT_FALSE(reg_key_exists(server_path(2).c_str()));
        } else {
            // Entry 1 keeps its list position whether stored or skipped.
            EXPECT_EQ(last, 2u);
            EXPECT_EQ(raw_value(server_path(2), "name"), "Two");
            EXPECT_EQ(raw_value(server_path(1), "name"), fits(h.text) ? h.text : "<unreadable>");
            EXPECT_EQ(raw_value(server_path(1), "address"), fits(h.text) ? h.text : "<unreadable>");
        }
        if (events.size() > kNotificationsLimit || has_nul) {
            EXPECT_FALSE(read_notification("2", record));
        } else {
            EXPECT_TRUE(read_notification("2", record));
            const std::string one = notifications + "\\1";
            for (const char* name : {"title", "info", "url"}) {
                EXPECT_EQ(raw_value(one, name), fits(h.text) ? h.text : "<unreadable>") << name;
            }
            if (!fits(h.text)) {
                EXPECT_TRUE(log_.contains("Can't add notification!"));
            }
        }
        EXPECT_FALSE(fs::exists(canary));
    }
}

// ---------------------------------------------------------------- provisioning

// The fields of one stand-in tool record ("<length>:<bytes>;" each).
std::vector<std::string> record_fields(const std::string& record) {
    std::vector<std::string> fields;
    for (size_t at = 0; at < record.size();) {
        const size_t colon = record.find(':', at);
        if (colon == std::string::npos) break;
        const size_t length = std::stoul(record.substr(at, colon - at));
        fields.push_back(record.substr(colon + 1, length));
        at = colon + 1 + length + 1;
    }
    return fields;
}

class HostileProvisioning : public StoreTest {
protected:
    void SetUp() override {
        testing::install_fake_tools(QUIETWAY_FAKE_TOOL, app_.path());
        const struct {
            const char* section;
            const char* name;
            std::string text;
        } settings[] = {{"app", "app_dir", app_.str()}, {"app", "app_data", data_.str()},
                        {"conf", "ftp_port", "21"},     {"conf", "vpn_port", "1194"},
                        {"conf", "proxy_port", "3128"}, {"conf", "ssh_port", "22"},
                        {"conf", "tor_port", "9050"},   {"general", "user", "bob"},
                        {"general", "password", "old"}};
        for (const auto& s : settings) {
            const std::string key = std::string(kStoreRoot) + "\\" + s.section;
            ASSERT_TRUE(create_reg_string(RootKey::local_machine, key.c_str(), s.name, s.text));
        }
        ASSERT_TRUE(create_reg_dword(kServersPath, "activated", 0));
        ASSERT_TRUE(create_server(ServerRecord{1, "one", "10.0.0.1", "", kServerInitial}));
    }

    // Every recorded run since the last call, as fields; the records are removed.
    std::vector<std::vector<std::string>> take_runs() {
        std::vector<std::vector<std::string>> runs;
        for (const auto& entry : fs::directory_iterator(tool_log_.path())) {
            if (entry.path().filename().string().rfind("known-", 0) == 0) continue;
            runs.push_back(record_fields(read_file(entry.path())));
            fs::remove(entry.path());
        }
        return runs;
    }

    TempDir app_;
    TempDir data_;
    TempDir tool_log_;
    ScopedEnv tool_log_env_{"QUIETWAY_FAKE_TOOL_LOG", tool_log_.str()};
    TempDir keys_;  // plink's host-key cache, never the account's own
    ScopedEnv keys_env_{"PUTTYSSHHOSTKEYS", (keys_ / "sshhostkeys").string()};
    LogCapture log_{"QuietwayService.log"};
};

TEST_F(HostileProvisioning, TextsReachTheToolsWholeAndOnlyWhereMeant) {
    const std::string canary = (tool_log_.path() / "ran").string();
    const std::string general = std::string(kStoreRoot) + "\\general";
    for (const Hostile& h : hostile_texts(canary)) {
        SCOPED_TRACE(h.label);
        if (fits(h.text)) {
            ASSERT_TRUE(create_server(ServerRecord{2, "two", h.text, "", kServerInitial}));
        }
        // As the user name, as the password (both through the store), then both at once
        // straight to one server's preparation, which the store does not guard.
        for (const char* mode : {"user", "password", "direct"}) {
            SCOPED_TRACE(mode);
            const bool direct = mode[0] == 'd';
            const std::string user = mode[0] == 'p' ? "bob" : h.text;
            const std::string password = mode[0] == 'u' ? "pw" : h.text;
            const std::string old_user = raw_value(general, "user");
            const std::string old_password = raw_value(general, "password");
            ServersManager manager;
            ASSERT_TRUE(manager.init());
            const bool applied = direct ? (manager.provision_server("1", user, password), false)
                                        : manager.apply_account(user, password);
            EXPECT_EQ(applied, !direct && fits(h.text) && is_one_line(user));
            // Stored whole, or the refused text leaves its value as it was.
            if (applied || mode[0] != 'p') {
                EXPECT_EQ(raw_value(general, "user"), applied ? user : old_user);
            }
            if (applied || mode[0] != 'u') {
                EXPECT_EQ(raw_value(general, "password"), applied ? password : old_password);
            }
            if (applied) {
                ServerRecord two;
                ASSERT_TRUE(read_server("2", two));
                EXPECT_EQ(two.status, kServerFailed) << "not a host: must never be provisioned";
            }
            for (const std::vector<std::string>& run : take_runs()) {
                ASSERT_GE(run.size(), 3u);
                const bool curl = run[0] == "curl";
                for (size_t i = 1; i < run.size(); ++i) {
                    const std::string& arg = run[i];
                    if (arg.rfind("stdin=", 0) == 0) {
                        if (curl) {
                            EXPECT_EQ(arg, "stdin=" + curl_user_option(user, password));
                        }
                    } else if (arg.rfind("pwfile=", 0) == 0) {
                        EXPECT_EQ(arg, "pwfile=" + password);
                    } else if (!curl && run[i - 1] == "-l") {
                        EXPECT_EQ(arg, user);
                    } else if (curl && run[i - 1] == "-o") {
                        EXPECT_TRUE(arg.ends_with("ca.crt") || arg.ends_with("ta.key") ||
                                    arg.ends_with(user + ".crt") || arg.ends_with(user + ".key"))
                            << arg;
                    } else {
                        EXPECT_EQ(arg.find(h.text), std::string::npos)
                            << "in argument " << i << ": " << arg;
                    }
                }
            }
        }
        EXPECT_FALSE(fs::exists(canary));
        if (reg_key_exists(server_path(2).c_str())) {
            ASSERT_TRUE(delete_reg_tree(server_path(2).c_str()));
        }
    }
}

TEST_F(HostileProvisioning, AListedIpWithLineBreaksNeverReachesTheConfiguration) {
    const std::string ip = "10.0.0.9\nscript-security 2\nup \"/bin/sh -c id\"";
    const auto listed = [&](const std::string& number, const std::string& address) {
        return "<SERVER><NUMBER>" + number + "</NUMBER><NAME>s</NAME><ADDRESS>" + address +
               "</ADDRESS><IP>" + xml_text(ip) + "</IP></SERVER>";
    };
    // A name under .invalid never resolves: a stored address_ip would be the one used.
    ASSERT_TRUE(apply_server_list(
        "<QUIETWAY>" + listed("1", "10.0.0.1") + listed("2", "two.invalid") + "</QUIETWAY>",
        nullptr));
    ServersManager manager;
    ASSERT_TRUE(manager.init());
    ASSERT_TRUE(manager.apply_account("bob", "pw"));
    ServerRecord two;
    ASSERT_TRUE(read_server("2", two));
    EXPECT_EQ(two.status, kServerFailed);
    EXPECT_TRUE(log_.contains("provision_server 2: no dotted IPv4 address to connect to"));
    EXPECT_FALSE(fs::exists(manager.server_dir("2") + path_separator() + "vpn_conf.ovpn"));
    const std::string dir = manager.server_dir("1") + path_separator();
    EXPECT_EQ(read_file(dir + "vpn_conf.ovpn"),
              vpn_config_text(native_form(), dir, "bob", "10.0.0.1", "1194") +
                  vpn_config_platform_lines(manager.bin_dir(), manager.app_data()));
}

// ---------------------------------------------------------------- tray links

TEST(HostileLinks, OnlyPlainWebAddressesAreOpenedAndAsOneArgument) {
    TempDir records;
    ScopedEnv log_env("QUIETWAY_FAKE_TOOL_LOG", records.str());
    ScopedEnv opener(kUrlOpenerEnv, fs::absolute(QUIETWAY_FAKE_TOOL).string());
    const std::string canary = (records.path() / "ran").string();
    std::vector<std::string> links = {
        "javascript:alert(1)",     "file:///etc/passwd",
        "data:text/html,<b>x</b>", "http://x\" ;rm -rf " + canary,
        "  https://example.com/",  "https://example.com/" + std::string(kMaxOpenableUrl, 'a')};
    for (const Hostile& h : hostile_texts(canary)) links.push_back(h.text);
    for (const std::string& link : links) {
        EXPECT_FALSE(open_url(link)) << link.substr(0, 80);
    }
    EXPECT_TRUE(fs::is_empty(records.path()));

    const std::string ordinary = "https://example.com/account?id=7&lang=de#top";
    ASSERT_TRUE(open_url(ordinary));
    // The opener is waited for, so its record is there.
    std::vector<std::string> fields;
    for (const auto& entry : fs::directory_iterator(records.path()))
        fields = record_fields(read_file(entry.path()));
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[1], ordinary);
}

}  // namespace
}  // namespace quietway::testing
