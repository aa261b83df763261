#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>
#ifdef _WIN32
#include <windows.h>
// after windows.h, which it needs
#include <sddl.h>
#else
#include <sys/stat.h>
#endif

#include "common/store/server_store.h"
#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "common/store/store_limits.h"
#include "service/privacy/provision_platform.h"
#include "service/privacy/provision_text.h"
#include "service/privacy/servers_manager.h"
#include "tests/service/privacy/fake_tools.h"
#include "tests/support/log_capture.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::ScopedEnv;
using testing::TempDir;

const std::string kSep(1, path_separator());

// Whether users other than this process's account and the system's may enter `dir`, as read
// back from the system: their entries in its access list, or its mode; "" when none.
#ifdef _WIN32
std::string others_let_in(const std::string& dir) {
    alignas(8) char descriptor[4096];
    DWORD size = 0;
    char* text = nullptr;
    if (!GetFileSecurityA(dir.c_str(), DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                          &size) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return "unreadable";
    const std::string dacl = text;
    LocalFree(text);
    return dacl.find(";WD)") == std::string::npos ? "" : dacl;  // Wine shows others as Everyone
}
#else
std::string others_let_in(const std::string& dir) {
    struct stat info {};
    const bool closed = ::stat(dir.c_str(), &info) == 0 && (info.st_mode & 077) == 0;
    return closed ? "" : "mode " + std::to_string(info.st_mode);
}
#endif

// A store seeded as an installation leaves it, an app dir whose bin holds the stand-in curl
// and plink, and the records of every run of them.
class ServersManagerTest : public testing::StoreTest {
protected:
    void SetUp() override {
        testing::install_fake_tools(QUIETWAY_FAKE_TOOL, app_.path());
        put("app", "app_dir", app_.str());
        put("app", "app_data", data_.str());
        for (const auto& [name, port] : {std::pair{"ftp_port", "21"},
                                         {"vpn_port", "1194"},
                                         {"proxy_port", "3128"},
                                         {"ssh_port", "22"},
                                         {"tor_port", "9050"}}) {
            put("conf", name, port);
        }
        put("general", "user", "bob");
        put("general", "password", "old");
        ASSERT_TRUE(create_reg_dword(kServersPath, "activated", 0));
    }

    static void put(const std::string& section, const char* name, const std::string& text) {
        ASSERT_TRUE(create_reg_string(RootKey::local_machine,
                                      (std::string(kStoreRoot) + "\\" + section).c_str(), name,
                                      text));
    }

    static void add_server(const std::string& id, const std::string& address,
                           uint32_t status = kServerInitial) {
        ServerRecord record{std::stoi(id), "server " + id, address, "", status};
        ASSERT_TRUE(create_server(record));
    }

    static uint32_t status_of(const std::string& id) {
        ServerRecord record;
        record.status = 99;
        read_server(id, record);
        return record.status;
    }

    static uint32_t activated() {
        uint32_t value = 99;
        get_setting_dword("servers", "activated", value);
        return value;
    }

    // The recorded runs of one tool, each as its "<length>:<text>;" fields.
    std::vector<std::string> runs(const std::string& tool) const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(tool_log_.path())) {
            const std::string record = read_file(entry.path());
            if (record.rfind(std::to_string(tool.size()) + ":" + tool + ";", 0) == 0) {
                found.push_back(record);
            }
        }
        return found;
    }

    static std::string field(const std::string& text) {
        return std::to_string(text.size()) + ":" + text + ";";
    }

    std::string server_dir(const std::string& id) const {
        return data_.str() + kSep + "conf" + kSep + id;
    }

    TempDir app_;
    TempDir data_;
    TempDir tool_log_;
    ScopedEnv tool_log_env_{"QUIETWAY_FAKE_TOOL_LOG", tool_log_.str()};
    TempDir keys_;  // plink's host-key cache
    ScopedEnv keys_env_{"PUTTYSSHHOSTKEYS", (keys_ / "sshhostkeys").string()};
    testing::LogCapture log_{"QuietwayService.log"};
    ServersManager manager_;
};

TEST_F(ServersManagerTest, InitReadsTheSettingsAndFailsOnAnyMissingOne) {
    ASSERT_TRUE(manager_.init());
    EXPECT_EQ(manager_.bin_dir(), app_.str() + kSep + "bin" + kSep);
    EXPECT_EQ(manager_.conf_dir(), data_.str() + kSep + "conf" + kSep);
    EXPECT_EQ(manager_.vpn_port() + manager_.ssh_port() + manager_.tor_port(), "1194229050");
    EXPECT_EQ(manager_.user(), "bob");
    EXPECT_EQ(manager_.active_index(), 0);

    const std::pair<const char*, const char*> values[] = {
        {"app", "app_dir"},      {"app", "app_data"},    {"conf", "ftp_port"},
        {"conf", "vpn_port"},    {"conf", "proxy_port"}, {"conf", "ssh_port"},
        {"conf", "tor_port"},    {"general", "user"},    {"general", "password"},
        {"servers", "activated"}};
    for (const auto& [section, name] : values) {
        const std::string path = std::string(kStoreRoot) + "\\" + section;
        StoreValue saved;
        ASSERT_TRUE(read_reg_value(path.c_str(), name, saved));
        ASSERT_TRUE(delete_reg_value(path.c_str(), name));
        EXPECT_FALSE(ServersManager().init()) << section << " " << name;
        ASSERT_TRUE(install_reg_value(path.c_str(), saved));
    }
}

TEST_F(ServersManagerTest, ApplyAccountPreparesEveryServerWithoutPasswordsOnCommandLines) {
    add_server("1", "10.0.0.1");
    add_server("2", "10.0.0.2");
    ASSERT_TRUE(manager_.init());
    const std::string user = "bob";
    const std::string password = "p a\"s\\s $x `id`;&|%x";
    ASSERT_TRUE(manager_.apply_account(user, password));

    std::string stored;
    ASSERT_TRUE(get_setting_string("general", "password", stored));
    EXPECT_EQ(stored, password);
    EXPECT_EQ(activated(), 1u);
    ASSERT_NE(manager_.active_server(), nullptr);
    EXPECT_EQ(manager_.name(), "server 1");
    EXPECT_EQ(manager_.ip(), "10.0.0.1");
    for (const std::string id : {"1", "2"}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(status_of(id), kServerReady);
        const std::string dir = server_dir(id) + kSep;
        for (const std::string name : {"ca.crt", "ta.key", "bob.crt", "bob.key"}) {
            EXPECT_EQ(read_file(dir + name), "fetched ftp://10.0.0." + id + ":21/" + name);
        }
        EXPECT_EQ(read_file(dir + "auth.cfg"), auth_text(native_form(), user, password));
        EXPECT_EQ(read_file(dir + "vpn_conf.ovpn"),
                  vpn_config_text(native_form(), dir, user, "10.0.0." + id, "1194") +
                      vpn_config_platform_lines(manager_.bin_dir(), data_.str()));
        EXPECT_FALSE(fs::exists(dir + "plink.pw"));
#ifndef _WIN32
        struct stat info {};
        ASSERT_EQ(::stat((dir + "auth.cfg").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
    }
    // One run per server for its four files.
    const std::vector<std::string> curl = runs("curl");
    ASSERT_EQ(curl.size(), 2u);
    for (const std::string& run : curl) {
        EXPECT_EQ(run.find(password), run.rfind(password)) << "password once, in stdin: " << run;
        EXPECT_NE(run.find(field("stdin=" + curl_user_option(user, password))), std::string::npos);
        EXPECT_NE(run.find(field("--ssl-reqd") + field("-k")), std::string::npos) << run;
    }
    // Per server: a batch run finds the key unknown, an answered run stores it.
    const std::vector<std::string> plink = runs("plink");
    ASSERT_EQ(plink.size(), 4u);
    int answered = 0;
    for (const std::string& run : plink) {
        EXPECT_NE(run.find(field("-l") + field(user) + field("-pwfile")), std::string::npos);
        const bool batch = run.find(field("-batch")) != std::string::npos;
        answered += batch ? 0 : 1;
        EXPECT_NE(run.find(field("exit") + field(batch ? "stdin=" : "stdin=y\n") +
                           field("pwfile=" + password)),
                  std::string::npos)
            << run;
        EXPECT_EQ(run.find(password), run.rfind(password)) << run;
    }
    EXPECT_EQ(answered, 2);
    // Known keys are not stored again.
    ASSERT_TRUE(manager_.provision_server("1", user, password));
    EXPECT_EQ(runs("plink").size(), 5u);
    EXPECT_TRUE(log_.contains("apply_account: server 1 ready in "));
    EXPECT_TRUE(log_.contains("apply_account: server 2 ready in "));
}

TEST_F(ServersManagerTest, ParallelPreparationActivatesTheFirstReadyServerInListOrder) {
    // List order is "1", "10", "11", "12", "2", ...: 1 and 10 fail, so 11 is the first ready.
    for (int id = 1; id <= 12; ++id) {
        add_server(std::to_string(id),
                   id == 1 || id == 10 ? "10.9.9.9" : "10.0.0." + std::to_string(1 + id % 2));
    }
    ScopedEnv fail("QUIETWAY_FAKE_CURL_FAIL", "10.9.9.9");
    ASSERT_TRUE(manager_.init());
    ASSERT_TRUE(manager_.apply_account("bob", "pw"));
    EXPECT_EQ(activated(), 11u);
    for (int id = 1; id <= 12; ++id) {
        EXPECT_EQ(status_of(std::to_string(id)), id == 1 || id == 10 ? kServerFailed : kServerReady)
            << id;
    }
    EXPECT_TRUE(log_.contains("apply_account: server 10 failed in "));
    // Each host's key is asked for and stored once, and no store loses another's entry.
    EXPECT_EQ(runs("plink").size(), 4u);
    const std::string keys = read_file(keys_ / "sshhostkeys");
    EXPECT_EQ(keys.size(), 2 * std::string("fake@22:10.0.0.1 key\n").size()) << keys;
    EXPECT_NE(keys.find("fake@22:10.0.0.1 key\n"), std::string::npos) << keys;
    EXPECT_NE(keys.find("fake@22:10.0.0.2 key\n"), std::string::npos) << keys;
}

TEST_F(ServersManagerTest, EachFetchedFileKeepsItsOwnOutcome) {
    add_server("1", "10.0.0.1");
    ASSERT_TRUE(manager_.init());
    // The first two files are required; a run that stops at the third fetches the fourth alone.
    const struct {
        const char* failing;
        size_t curl_runs;
        std::string present;
    } cases[] = {{"/ca.crt", 1, ""},
                 {"/ta.key", 1, "ca.crt "},
                 {"/bob.crt", 2, "ca.crt ta.key bob.key "},
                 {"/bob.key", 1, "ca.crt ta.key bob.crt "},
                 {"none", 1, "ca.crt ta.key bob.crt bob.key "}};
    for (const auto& c : cases) {
        ScopedEnv fail("QUIETWAY_FAKE_CURL_FAIL", c.failing);
        ASSERT_TRUE(manager_.reset_server("1"));
        const size_t before = runs("curl").size();
        EXPECT_EQ(manager_.provision_server("1", "bob", "pw"), std::string(c.failing) == "none")
            << c.failing;
        EXPECT_EQ(runs("curl").size() - before, c.curl_runs) << c.failing;
        std::string present;
        for (const std::string name : {"ca.crt", "ta.key", "bob.crt", "bob.key"}) {
            if (fs::exists(server_dir("1") + kSep + name)) present += name + " ";
        }
        EXPECT_EQ(present, c.present) << c.failing;
    }
}

TEST_F(ServersManagerTest, FailedProvisioningLeavesNoServerActive) {
    add_server("1", "10.0.0.1", kServerReady);
    add_server("2", "10.0.0.2", kServerReady);
    ASSERT_TRUE(manager_.init());
    ASSERT_TRUE(manager_.select("2"));
    ScopedEnv fail("QUIETWAY_FAKE_CURL_FAIL", "ftp://");
    EXPECT_TRUE(manager_.apply_account("bob", "pw"));
    EXPECT_EQ(activated(), 0u);
    EXPECT_EQ(manager_.active_server(), nullptr);
    for (const std::string id : {"1", "2"}) {
        EXPECT_EQ(status_of(id), kServerFailed);
        EXPECT_FALSE(fs::exists(server_dir(id) + kSep + "ca.crt")) << "no partial file";
    }
    EXPECT_TRUE(runs("plink").empty());
}

TEST_F(ServersManagerTest, AUserNameWithAPathSeparatorFailsEveryServerAndFetchesNothing) {
    add_server("1", "10.0.0.1");
    ASSERT_TRUE(manager_.init());
    for (const std::string user : {"../../escaped", "..\\..\\escaped", "a/b"}) {
        EXPECT_TRUE(manager_.apply_account(user, "pw")) << user;
        EXPECT_EQ(status_of("1"), kServerFailed) << user;
        EXPECT_TRUE(runs("curl").empty()) << user;
        EXPECT_TRUE(runs("plink").empty()) << user;
    }
    EXPECT_TRUE(log_.contains("provision_server 1: the user name cannot name a key file"));
}

TEST_F(ServersManagerTest, AnAccountWithARefusedTextChangesNeitherValue) {
    add_server("1", "10.0.0.1", kServerReady);
    ASSERT_TRUE(manager_.init());
    const std::string too_long(kMaxStringValue + 1, 'x');
    for (const auto& [user, password] : {std::pair{std::string("eve"), too_long},
                                         {too_long, std::string("new")},
                                         {std::string("eve"), std::string("a\0b", 3)}}) {
        EXPECT_FALSE(manager_.apply_account(user, password));
        std::string stored_user, stored_password;
        ASSERT_TRUE(get_setting_string("general", "user", stored_user));
        ASSERT_TRUE(get_setting_string("general", "password", stored_password));
        EXPECT_EQ(stored_user + "/" + stored_password, "bob/old");
        EXPECT_EQ(status_of("1"), kServerReady) << "nothing reset";
    }
}

TEST_F(ServersManagerTest, PresentFilesAreNotDownloadedAgain) {
    add_server("1", "10.0.0.1");
    add_server("2", "10.0.0.2");
    ASSERT_TRUE(manager_.init());
    // A fresh install: the check makes the missing directory for the download.
    EXPECT_FALSE(manager_.check_files("2", "bob"));
    EXPECT_TRUE(fs::is_directory(server_dir("2")));

    fs::create_directories(server_dir("1"));
    for (const std::string name : {"ca.crt", "ta.key", "bob.crt", "bob.key"}) {
        testing::write_file(server_dir("1") + kSep + name, "kept " + name);
    }
    ASSERT_TRUE(manager_.provision_server("1", "bob", "pw"));
    EXPECT_EQ(status_of("1"), kServerReady);
    EXPECT_TRUE(runs("curl").empty());
    EXPECT_EQ(runs("plink").size(), 2u);
    EXPECT_EQ(read_file(server_dir("1") + kSep + "ca.crt"), "kept ca.crt");
    EXPECT_TRUE(fs::exists(server_dir("1") + kSep + "vpn_conf.ovpn"));

    // Reset empties the directory of files (not of directories) and starts over at 0.
    fs::create_directories(server_dir("1") + kSep + "sub");
    ASSERT_TRUE(manager_.reset_server("1"));
    EXPECT_EQ(status_of("1"), kServerInitial);
    EXPECT_FALSE(fs::exists(server_dir("1") + kSep + "ca.crt"));
    EXPECT_TRUE(fs::is_directory(server_dir("1") + kSep + "sub"));
}

TEST_F(ServersManagerTest, UpdateServersPreparesOnlyInitialServersAndSelectsNothing) {
    add_server("1", "10.0.0.1", kServerReady);
    add_server("2", "10.0.0.2", kServerInitial);
    add_server("3", "10.0.0.3", kServerFailed);
    add_server("4", "10.0.0.4", kServerInitial);
    ASSERT_TRUE(manager_.init());
    ASSERT_TRUE(manager_.update_servers());
    EXPECT_EQ(activated(), 0u);
    EXPECT_EQ(status_of("1"), kServerReady);
    EXPECT_EQ(status_of("2"), kServerReady);
    EXPECT_EQ(status_of("3"), kServerFailed);
    EXPECT_EQ(status_of("4"), kServerReady);
    const std::vector<std::string> curl = runs("curl");
    ASSERT_EQ(curl.size(), 2u);
    for (const std::string& run : curl) {
        EXPECT_TRUE(run.find("ftp://10.0.0.2:") != std::string::npos ||
                    run.find("ftp://10.0.0.4:") != std::string::npos)
            << run;
        EXPECT_NE(run.find(field("stdin=" + curl_user_option("bob", "old"))), std::string::npos);
    }
}

TEST_F(ServersManagerTest, WhatDoesNotFitFailsTheServerAndRunsNothing) {
    add_server("1", "10.0.0.1");
    add_server("2", "-oProxyCommand=touch");
    ASSERT_TRUE(manager_.init());
    EXPECT_FALSE(manager_.provision_server("1", "bob", std::string(2100, 'p')));
    EXPECT_FALSE(manager_.provision_server("2", "bob", "pw"));
    EXPECT_EQ(status_of("1"), kServerFailed);
    EXPECT_EQ(status_of("2"), kServerFailed);
    EXPECT_TRUE(runs("curl").empty());
    EXPECT_TRUE(runs("plink").empty());
    EXPECT_FALSE(manager_.provision_server("3", "bob", "pw")) << "no such server";
}

TEST_F(ServersManagerTest, ChangeServerTriesHigherNumbersFirstThenWrapsAround) {
    struct Case {
        std::vector<std::pair<std::string, uint32_t>> servers;  // id, status
        uint32_t active;
        bool result;
        uint32_t after;
    } cases[] = {
        {{{"1", kServerReady}, {"2", kServerReady}, {"3", kServerReady}}, 2, true, 3},
        {{{"1", kServerReady}, {"2", kServerReady}, {"3", kServerFailed}}, 2, true, 1},
        {{{"1", kServerFailed}, {"2", kServerReady}, {"3", kServerInitial}}, 2, true, 2},
        {{{"1", kServerFailed}, {"2", kServerFailed}}, 2, false, 0},
        {{{"10", kServerReady}, {"2", kServerReady}, {"9", kServerReady}}, 9, true, 10},
        {{{"5", kServerFailed}}, 5, true, 5},  // one server: nothing changes
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(delete_reg_tree(kServersPath));
        ASSERT_TRUE(create_reg_dword(kServersPath, "activated", c.active));
        for (const auto& [id, status] : c.servers) add_server(id, "10.0.0.7", status);
        ServersManager manager;
        ASSERT_TRUE(manager.init());
        EXPECT_EQ(manager.change_server(), c.result) << c.active;
        EXPECT_EQ(activated(), c.after) << c.active;
        EXPECT_EQ(manager.active_index(), static_cast<int32_t>(c.after));
    }
}

TEST_F(ServersManagerTest, SelectResolvesOnlyAddressesThatAreNames) {
    add_server("1", "10.1.2.3", kServerReady);
    add_server("2", "localhost", kServerReady);
    add_server("3", "10.0.0.3", kServerFailed);
    ASSERT_TRUE(manager_.init());
    EXPECT_FALSE(manager_.select("3"));
    EXPECT_FALSE(manager_.select("4"));
    ASSERT_TRUE(manager_.select("1"));
    EXPECT_EQ(manager_.ip(), "10.1.2.3");
    ASSERT_TRUE(manager_.select("2"));
    EXPECT_EQ(manager_.ip(), "127.0.0.1");
    ServerRecord stored;
    ASSERT_TRUE(read_server("2", stored));
    EXPECT_EQ(stored.address_ip, "127.0.0.1");
    EXPECT_EQ(activated(), 2u);

    // A restarted service loads the active server on first use.
    ServersManager restarted;
    ASSERT_TRUE(restarted.init());
    EXPECT_FALSE(restarted.loaded());
    ASSERT_EQ(restarted.active_server(), &restarted);
    EXPECT_EQ(restarted.active_id() + " " + restarted.name(), "2 server 2");
    EXPECT_TRUE(restarted.clear());
    EXPECT_EQ(restarted.active_server(), nullptr);
    EXPECT_EQ(activated(), 0u);
}

TEST_F(ServersManagerTest, TheConfDirectoryIsClosedToOtherUsersAtStart) {
    // Made as below ProgramData, with a file from then (every user may read; Wine shows it so).
    const std::string conf = data_.str() + kSep + "conf";
    const std::string file = conf + kSep + "1" + kSep + "auth.cfg";
    fs::create_directories(conf + kSep + "1");
    testing::write_file(file, "bob\npw");
    for (const std::string& path : {conf, conf + kSep + "1", file}) {
        fs::permissions(path, fs::perms::all);
        ASSERT_NE(others_let_in(path), "") << path;
    }
    ASSERT_TRUE(manager_.init());
    for (const std::string& path : {conf, conf + kSep + "1", file}) {
        EXPECT_EQ(others_let_in(path), "") << path;
    }
    EXPECT_TRUE(log_.contains(conf + " was open to other users"));
}

TEST_F(ServersManagerTest, LinksInTheConfDirectoryAreNeverFollowed) {
    add_server("1", "10.0.0.1");
    const TempDir outside;
    testing::write_file(outside / "ca.crt", "someone else's");
    for (const std::string& link : {"conf" + kSep + "1", std::string("conf")}) {
        SCOPED_TRACE(link);
        fs::remove_all(data_ / "conf");
        if (link != "conf") fs::create_directories(data_ / "conf");
        std::error_code error;
        fs::create_directory_symlink(outside.path(), data_ / link, error);
        if (error) GTEST_SKIP() << "no link can be made here: " << error.message();
        ServersManager manager;
        ASSERT_TRUE(manager.init());
        EXPECT_TRUE(manager.apply_account("bob", "pw"));
        EXPECT_EQ(status_of("1"), kServerFailed);
        EXPECT_EQ(read_file(outside / "ca.crt"), "someone else's");
        EXPECT_EQ(std::distance(fs::directory_iterator(outside.path()), {}), 1);
    }
    EXPECT_TRUE(log_.contains("provision_server 1: the server directory is a link"));
    EXPECT_TRUE(log_.contains("provision_server 1: the conf directory is not private"));
}

}  // namespace
}  // namespace quietway
