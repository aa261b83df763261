#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "common/store/store_limits.h"
#include "tests/support/child_process.h"
#include "tests/support/concurrency_check.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

using testing::read_file;
using testing::write_file;
using Args = std::vector<std::string>;

// The tool and the shipped defaults, found from the test program's own directory.
std::string beside_program(const char* relative) {
    return testing::program_directory() + "/" + relative;
}

class RegToolTest : public testing::StoreTest {
protected:
    testing::ChildResult tool(const Args& args) {
        Args argv{beside_program(QUIETWAY_REG_RELATIVE)};
        argv.insert(argv.end(), args.begin(), args.end());
        return testing::run_captured(argv, scratch_.str());
    }
    std::string scratch_file(const std::string& name) const { return (scratch_ / name).string(); }
    std::string text(const char* path, const char* name) {
        std::string out = "<missing>";
        read_reg_string(path, name, out);
        return out;
    }

    testing::TempDir scratch_;
};

constexpr const char* kApp = "SOFTWARE\\Quietway2\\app";

TEST_F(RegToolTest, ExplainsItsUseAndRefusesWrongArguments) {
    const auto none = tool({});
    EXPECT_EQ(none.exit_code, 2);
    EXPECT_NE(none.err.find("usage: quietway_reg"), std::string::npos);

    const auto help = tool({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("import FILE"), std::string::npos);

    EXPECT_EQ(tool({"frobnicate"}).exit_code, 2);
    EXPECT_EQ(tool({"set", kApp, "x", "--float", "1"}).exit_code, 2);
    EXPECT_EQ(tool({"query"}).exit_code, 2);
    const auto bad_number = tool({"set", kApp, "x", "--dword", "-1"});
    EXPECT_EQ(bad_number.exit_code, 1);
    EXPECT_NE(bad_number.err.find("not a 32-bit number"), std::string::npos);
    EXPECT_EQ(tool({"set", kApp, "x", "--dword", "4294967296"}).exit_code, 1);
    EXPECT_EQ(tool({"list", "HKCU\\Software"}).exit_code, 1);
    EXPECT_FALSE(reg_key_exists(kApp));
}

TEST_F(RegToolTest, SetQueryListAndDeleteWorkOnTheStore) {
    ASSERT_EQ(tool({"set", kApp, "app_dir", "--string", "C:\\Program Files\\Q \"x\""}).exit_code,
              0);
    ASSERT_EQ(tool({"set", "HKLM\\SOFTWARE\\Quietway2\\servers", "last_index", "--dword", "0x1f"})
                  .exit_code,
              0);
    ASSERT_EQ(
        tool({"set", "SOFTWARE\\Quietway2\\servers\\10", "name", "--string", "ten"}).exit_code, 0);
    ASSERT_EQ(tool({"set", "SOFTWARE\\Quietway2\\servers\\2", "name", "--string", ""}).exit_code,
              0);

    EXPECT_EQ(text(kApp, "app_dir"), "C:\\Program Files\\Q \"x\"");
    uint32_t last_index = 0;
    EXPECT_TRUE(read_reg_dword(kServersPath, "last_index", last_index));
    EXPECT_EQ(last_index, 31u);

    const auto query = tool({"query", kApp, "APP_DIR"});
    EXPECT_EQ(query.exit_code, 0);
    EXPECT_EQ(query.out.substr(0, query.out.find_last_not_of("\r\n") + 1),
              "C:\\Program Files\\Q \"x\"");
    const auto number = tool({"query", kServersPath, "last_index"});
    EXPECT_EQ(number.out.substr(0, 2), "31");
    const auto all = tool({"query", kServersPath});
    EXPECT_NE(all.out.find("\"last_index\"=dword:0000001f"), std::string::npos);

    const auto list = tool({"list", kServersPath});
    EXPECT_EQ(list.exit_code, 0);
    EXPECT_LT(list.out.find("10"), list.out.find("2"));

    const auto missing = tool({"query", kApp, "nothing"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("nothing"), std::string::npos);

    EXPECT_EQ(tool({"delete", kApp, "app_dir"}).exit_code, 0);
    EXPECT_EQ(text(kApp, "app_dir"), "<missing>");
    EXPECT_EQ(tool({"delete", kApp, "app_dir"}).exit_code, 1);
    EXPECT_EQ(tool({"delete", kServersPath}).exit_code, 0);
    EXPECT_FALSE(reg_key_exists(kServersPath));
    EXPECT_EQ(tool({"delete", kServersPath}).exit_code, 1);
}

TEST_F(RegToolTest, ExportAndImportRoundTrip) {
    const std::string source = scratch_file("source.reg");
    write_file(source,
               "Windows Registry Editor Version 5.00\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\app]\r\n"
               "\"app_dir\"=\"C:\\\\Program Files\\\\Quietway\"\r\n"
               "@=\"the default\"\r\n"
               "\"quote\"=\"say \\\"hi\\\"\"\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\servers]\r\n"
               "\"last_index\"=dword:0000000a\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\servers\\10]\r\n"
               "\"name\"=\"ten\"\r\n"
               "\"status\"=dword:00000001\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\empty]\r\n");
    const auto imported = tool({"import", source});
    ASSERT_EQ(imported.exit_code, 0) << imported.err;
    EXPECT_EQ(text(kApp, "app_dir"), "C:\\Program Files\\Quietway");
    EXPECT_EQ(text(kApp, ""), "the default");
    EXPECT_EQ(text(kApp, "quote"), "say \"hi\"");
    EXPECT_EQ(text("SOFTWARE\\Quietway2\\servers\\10", "name"), "ten");
    EXPECT_TRUE(reg_key_exists("SOFTWARE\\Quietway2\\empty"));

    const std::string first = scratch_file("first.reg");
    const std::string second = scratch_file("second.reg");
    ASSERT_EQ(tool({"export", kStoreRoot, first}).exit_code, 0);
    ASSERT_TRUE(delete_reg_tree(kStoreRoot));
    ASSERT_EQ(tool({"import", first}).exit_code, 0);
    ASSERT_EQ(tool({"export", kStoreRoot, second}).exit_code, 0);
    const std::string exported = read_file(first);
    EXPECT_EQ(exported, read_file(second));
    EXPECT_EQ(exported.rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u);
    EXPECT_NE(exported.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\servers\\10]\r\n"
                            "\"name\"=\"ten\"\r\n\"status\"=dword:00000001\r\n"),
              std::string::npos);
    uint32_t status = 0;
    EXPECT_TRUE(read_reg_dword("SOFTWARE\\Quietway2\\servers\\10", "status", status));
    EXPECT_EQ(status, 1u);
}

TEST_F(RegToolTest, ImportsUtf16FilesAndAppliesDeletions) {
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "stale", "x"));
    ASSERT_TRUE(create_reg_dword("SOFTWARE\\Quietway2\\old\\deep", "n", 1));
    const std::string text8 =
        "Windows Registry Editor Version 5.00\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\old]\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\never_there]\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\app]\n"
        "\"stale\"=-\n"
        "\"never_there\"=-\n"
        "\"user\"=\"wide\"\n";
    std::string utf16 = "\xFF\xFE";
    for (const char c : text8) utf16 += std::string{c, '\0'};
    const std::string file = scratch_file("wide.reg");
    write_file(file, utf16);

    const auto result = tool({"import", file});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_FALSE(reg_key_exists("SOFTWARE\\Quietway2\\old"));
    EXPECT_EQ(text(kApp, "stale"), "<missing>");
    EXPECT_EQ(text(kApp, "user"), "wide");
}

TEST_F(RegToolTest, BadLinesAreReportedAndNothingIsApplied) {
    const std::string file = scratch_file("bad.reg");
    write_file(file,
               "Windows Registry Editor Version 5.00\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\app]\n"
               "\"good\"=\"value\"\n"
               "\"broken\"=\"no end\n"
               "\"number\"=dword:xyz\n");
    const auto result = tool({"import", file});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find(file + ":4: quoted text without its closing quote"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(file + ":5: dword:"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("nothing imported"), std::string::npos);
    EXPECT_FALSE(reg_key_exists(kApp));

    const auto missing = tool({"import", scratch_file("absent.reg")});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
}

TEST_F(RegToolTest, ALineTheStoreCannotHoldStopsTheWholeImport) {
    // As deep as the depth or (on Windows) the length of the whole path allows.
    std::string deepest = "SOFTWARE\\Quietway2";
    while (key_path_fits(deepest + "\\k")) deepest += "\\k";
    const std::string header = "Windows Registry Editor Version 5.00\n";
    const std::string first = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\app]\n\"good\"=\"v\"\n";
    const std::pair<std::string, std::string> bad_lines[] = {
        {"[HKEY_LOCAL_MACHINE\\" + deepest + "\\k]", "key path "},
        {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\" + std::string(256, 'k') + "]", "key name too long"},
#ifndef _WIN32
        {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\" + std::string(100, '/') + "]", "key name too long"},
        {"\"" + std::string(300, 'v') + "\"=\"x\"", "value name too long"},
#endif
    };
    const std::string file = scratch_file("bad.reg");
    for (const auto& [line, message] : bad_lines) {
        write_file(file, header + first + line + "\n");
        const auto result = tool({"import", file});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_NE(result.err.find(file + ":4: " + message), std::string::npos) << result.err;
        EXPECT_FALSE(reg_key_exists(kApp));
    }
    // As deep as the limit: imported, exported and deleted whole.
    write_file(file, header + "[HKEY_LOCAL_MACHINE\\" + deepest + "]\n\"v\"=\"deep\"\n");
    ASSERT_EQ(tool({"import", file}).exit_code, 0);
    const auto exported = tool({"export", kStoreRoot, "-"});
    EXPECT_EQ(exported.exit_code, 0) << exported.err;
    EXPECT_NE(exported.out.find("\"v\"=\"deep\""), std::string::npos);
    EXPECT_EQ(tool({"delete", kStoreRoot}).exit_code, 0);
    EXPECT_FALSE(reg_key_exists(kStoreRoot));

    const auto set = tool({"set", kApp, std::string(20000, 'v'), "--string", "x"});
    EXPECT_EQ(set.exit_code, 1);
    EXPECT_NE(set.err.find("value name too long for the store"), std::string::npos) << set.err;
}

TEST_F(RegToolTest, FloodsOfBadLinesAndHugeFilesAreCutShort) {
    const std::string file = scratch_file("flood.reg");
    std::string text = "REGEDIT4\n";
    for (int i = 0; i < 5000; ++i) text += "garbage\n";
    write_file(file, text);
    const auto flood = tool({"import", file});
    EXPECT_EQ(flood.exit_code, 1);
    EXPECT_NE(flood.err.find("4980 more bad lines not shown"), std::string::npos) << flood.err;
    EXPECT_EQ(std::count(flood.err.begin(), flood.err.end(), '\n'), 22);

    write_file(file, "REGEDIT4\n" + std::string(16 * 1024 * 1024, ';'));
    const auto huge = tool({"import", file});
    EXPECT_EQ(huge.exit_code, 1);
    EXPECT_NE(huge.err.find("larger than 16 MiB"), std::string::npos) << huge.err;
}

TEST_F(RegToolTest, ImportMissingKeepsValuesAlreadyStored) {
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "user_set", "mine"));
    ASSERT_TRUE(create_reg_dword(kApp, "flag", 7));
    const std::string file = scratch_file("defaults.reg");
    write_file(file,
               "Windows Registry Editor Version 5.00\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\app]\r\n"
               "\"user_set\"=\"default\"\r\n\"flag\"=dword:00000000\r\n\"added\"=\"new\"\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\conf]\r\n\"vpn_port\"=\"1194\"\r\n");
    const auto result = tool({"import", "--missing", file});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    uint32_t flag = 0;
    EXPECT_TRUE(read_reg_dword(kApp, "flag", flag));
    EXPECT_EQ(flag, 7u);
    EXPECT_EQ(text(kApp, "user_set"), "mine");
    EXPECT_EQ(text(kApp, "added"), "new");
    EXPECT_EQ(text("SOFTWARE\\Quietway2\\conf", "vpn_port"), "1194");
    // Without the option the file wins; a misplaced option is a usage error.
    ASSERT_EQ(tool({"import", file}).exit_code, 0);
    EXPECT_EQ(text(kApp, "user_set"), "default");
    EXPECT_EQ(tool({"import", file, "--missing"}).exit_code, 2);
}

TEST_F(RegToolTest, ExportReportsValuesTheFormatCannotCarry) {
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "fine", "ok"));
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "lines", "one\ntwo"));
    const auto result = tool({"export", kApp, "-"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.out.find("\"fine\"=\"ok\""), std::string::npos);
    EXPECT_EQ(result.out.find("lines"), std::string::npos);
    EXPECT_NE(result.err.find("left out value \"lines\""), std::string::npos);
    EXPECT_EQ(tool({"export", "SOFTWARE\\Quietway2\\absent", "-"}).exit_code, 1);
}

TEST_F(RegToolTest, TheShippedDefaultsImport) {
    const auto result = tool({"import", beside_program(QUIETWAY_DEFAULTS_RELATIVE)});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    std::string port, acl, listing, user;
    uint32_t last_index = 7, activated = 7, mode = 0;
    EXPECT_TRUE(get_setting_string("http", "rpc_port", port));
    EXPECT_TRUE(get_setting_string("http", "access_control_list", acl));
    EXPECT_TRUE(get_setting_string("http", "enable_directory_listing", listing));
    EXPECT_TRUE(get_setting_string("general", "user", user));
    EXPECT_TRUE(get_setting_dword("servers", "last_index", last_index));
    EXPECT_TRUE(get_setting_dword("servers", "activated", activated));
    EXPECT_TRUE(get_setting_dword("general", "mode", mode));
    EXPECT_EQ(port, "8988");
    EXPECT_EQ(acl, "-0.0.0.0/0,+127.0.0.1");
    EXPECT_EQ(listing, "no");
    EXPECT_EQ(last_index, 0u);
    EXPECT_EQ(activated, 0u);
    EXPECT_EQ(mode, 2u);
    for (const char* name :
         {"access_log_file", "document_root", "error_log_file", "rpc_password", "rpc_user"}) {
        std::string value;
        EXPECT_TRUE(get_setting_string("http", name, value)) << name;
    }
    for (const char* name : {"ftp_port", "vpn_port", "proxy_port", "ssh_port", "tor_port"}) {
        std::string value;
        EXPECT_TRUE(get_setting_string("conf", name, value)) << name;
    }
    for (const char* name : {"app_dir", "app_data"}) {
        std::string value;
        EXPECT_TRUE(get_setting_string("app", name, value)) << name;
    }
}

// Writer processes started all at once replace one value while this process reads it.
TEST_F(RegToolTest, ConcurrentSetProcessesNeverLeaveAPartialValue) {
    constexpr int kWriters = 4;
    constexpr int kRounds = 3;
    const std::vector<std::string> texts = testing::writer_texts(kWriters);
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "shared", texts[0]));
    testing::ReadTally tally;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::unique_ptr<testing::ChildProcess>> writers;
        for (int w = 0; w < kWriters; ++w) {
            writers.push_back(std::make_unique<testing::ChildProcess>());
            const std::string stem = scratch_file("w" + std::to_string(round * 10 + w));
            ASSERT_TRUE(
                writers.back()->start({beside_program(QUIETWAY_REG_RELATIVE), "set", kApp, "shared",
                                       "--string", texts[static_cast<size_t>(w)]},
                                      {.output_file = stem + ".out", .error_file = stem + ".err"}));
        }
        for (int i = 0; i < 200; ++i) tally.read(kApp, "shared", texts);
        for (auto& writer : writers) EXPECT_EQ(writer->wait(), 0);
    }
    EXPECT_EQ(tally.failed, 0) << "of " << tally.reads;
    EXPECT_EQ(tally.torn, 0) << "of " << tally.reads;
}

}  // namespace
}  // namespace quietway
