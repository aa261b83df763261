#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/store/store_limits.h"
#include "tools/quietway_reg/reg_file.h"
#include "tools/quietway_reg/reg_text.h"

namespace quietway {
namespace {

using reg_file::Operation;
using reg_file::Problem;

struct Parsed {
    std::vector<Operation> operations;
    std::vector<Problem> problems;
};

Parsed parse(const std::string& text) {
    Parsed parsed;
    reg_file::parse(text, parsed.operations, parsed.problems);
    return parsed;
}

std::string dword_bytes(uint32_t value) {
    std::string data(4, '\0');
    for (size_t i = 0; i < 4; ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return data;
}

TEST(RegFileParse, ReadsSectionsValuesAndDeletionsInOrder) {
    const Parsed parsed = parse(
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\app]\r\n"
        "\"app_dir\"=\"C:\\\\Program Files\\\\Q \\\"x\\\"\"\r\n"
        "@=\"default\"\r\n"
        "\"auto_update\"=dword:0000001F\r\n"
        "\"short\"=dword:7\r\n"
        "\"gone\"=-\r\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quietway2\\old]\r\n");
    ASSERT_TRUE(parsed.problems.empty()) << parsed.problems[0].message;
    const auto& ops = parsed.operations;
    ASSERT_EQ(ops.size(), 7u);
    EXPECT_EQ(ops[0].kind, Operation::Kind::make_key);
    EXPECT_EQ(ops[0].path, "SOFTWARE\\Quietway2\\app");
    EXPECT_EQ(ops[0].line, 4);
    EXPECT_EQ(ops[1].value.name, "app_dir");
    EXPECT_EQ(ops[1].value.type, kValueTypeString);
    EXPECT_EQ(ops[1].value.data, "C:\\Program Files\\Q \"x\"");
    EXPECT_EQ(ops[2].value.name, "");
    EXPECT_EQ(ops[2].value.data, "default");
    EXPECT_EQ(ops[3].value.type, kValueTypeDword);
    EXPECT_EQ(ops[3].value.data, dword_bytes(31));
    EXPECT_EQ(ops[4].value.data, dword_bytes(7));
    EXPECT_EQ(ops[5].kind, Operation::Kind::delete_value);
    EXPECT_EQ(ops[5].value.name, "gone");
    EXPECT_EQ(ops[6].kind, Operation::Kind::delete_key);
    EXPECT_EQ(ops[6].path, "SOFTWARE\\Quietway2\\old");
    EXPECT_EQ(ops[6].line, 10);
}

TEST(RegFileParse, AcceptsTheOlderHeaderAndBareLineFeeds) {
    const Parsed parsed = parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"n\"=\"v\"\n");
    EXPECT_TRUE(parsed.problems.empty());
    EXPECT_EQ(parsed.operations.size(), 2u);
}

TEST(RegFileParse, ReportsEveryBadLineWithItsNumberAndKeepsNoPartOfIt) {
    const Parsed parsed = parse(
        "Windows Registry Editor Version 5.00\n"
        "\"early\"=\"no section yet\"\n"       // 2
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n"  // 3
        "\"open\"=\"no closing quote\n"        // 4
        "\"bad\"=dword:12345678Z\n"            // 5
        "\"bin\"=hex:01,02\n"                  // 6
        "\"esc\"=\"tab\\there\"\n"             // 7
        "\"tail\"=\"text\" trailing\n"         // 8
        "\"noeq\" \"x\"\n"                     // 9
        "garbage\n"                            // 10
        "\"big\"=dword:123456789\n"            // 11
        "\"long\"=\"" +
        std::string(512, 'x') +
        "\"\n"                                           // 12
        "[HKEY_CURRENT_USER\\Software\\A]\n"             // 13
        "\"after\"=\"value under a refused section\"\n"  // 14
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\\\A]\n"          // 15
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\n"             // 16
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\n"            // 17
        "\"good\"=\"fine\"\n");                          // 18
    std::vector<int> lines;
    for (const Problem& problem : parsed.problems) {
        lines.push_back(problem.line);
        EXPECT_FALSE(problem.message.empty());
    }
    EXPECT_EQ(lines, (std::vector<int>{2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    EXPECT_TRUE(parsed.operations.empty());  // nothing is applied, so nothing is kept
}

TEST(RegFileParse, LinesPassOnlyWhenTheStoreCanHoldWhatTheyName) {
    std::string deepest = "SOFTWARE";
    while (key_path_fits(deepest + "\\k")) deepest += "\\k";
#ifdef _WIN32
    const size_t too_long_value_name = 16384;
#else
    const size_t too_long_value_name = 255;
#endif
    const std::pair<std::string, bool> cases[] = {
        {"\"" + std::string(254, 'v') + "\"=\"x\"", true},
        {"\"" + std::string(too_long_value_name, 'v') + "\"=\"x\"", false},
        {"\"" + std::string(300, 'v') + "\"=-", too_long_value_name > 300},
        {"[HKEY_LOCAL_MACHINE\\" + std::string(255, 'k') + "]", true},
        {"[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]", false},
        // On Linux each '/' is stored as three bytes.
        {"[HKEY_LOCAL_MACHINE\\" + std::string(100, '/') + "]", too_long_value_name > 300},
        {"[HKEY_LOCAL_MACHINE\\" + deepest + "]", true},
        {"[-HKEY_LOCAL_MACHINE\\" + deepest + "\\k]", false},
    };
    for (const auto& [line, passes] : cases) {
        const Parsed parsed =
            parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"first\"=\"x\"\n" + line + "\n");
        EXPECT_EQ(parsed.problems.empty(), passes) << line.substr(0, 60);
        if (!passes && !parsed.problems.empty()) {
            EXPECT_EQ(parsed.problems[0].line, 4);
        }
        EXPECT_EQ(parsed.operations.size(), passes ? 3u : 0u);
    }
}

TEST(RegFileParse, ListsTheFirstScreenfulOfProblemsAndCountsTheRest) {
    std::string text = "REGEDIT4\n";
    for (int i = 0; i < 1000; ++i) text += "garbage\n";
    std::vector<Operation> operations;
    std::vector<Problem> problems;
    EXPECT_EQ(reg_file::parse(text, operations, problems), 1000u);
    ASSERT_EQ(problems.size(), reg_file::kMaxListedProblems);
    EXPECT_EQ(problems.back().line, static_cast<int>(reg_file::kMaxListedProblems) + 1);
}

TEST(RegFileParse, RequiresTheHeaderFirst) {
    Parsed parsed = parse("[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n");
    ASSERT_FALSE(parsed.problems.empty());
    EXPECT_EQ(parsed.problems[0].line, 1);
    EXPECT_NE(parsed.problems[0].message.find("header"), std::string::npos);

    parsed = parse("");
    ASSERT_EQ(parsed.problems.size(), 1u);
    constexpr char with_nul[] = "REGEDIT4\n\"a\"=\"b\0c\"\n";
    parsed = parse(std::string(with_nul, sizeof with_nul - 1));
    ASSERT_EQ(parsed.problems.size(), 1u);
    EXPECT_EQ(parsed.problems[0].line, 2);
}

TEST(RegFileKeyPath, AcceptsTheMachineRootInItsSpellingsOnly) {
    std::string path;
    EXPECT_TRUE(reg_file::key_path("SOFTWARE\\Quietway2", path));
    EXPECT_EQ(path, "SOFTWARE\\Quietway2");
    EXPECT_TRUE(reg_file::key_path("hklm\\SOFTWARE\\Quietway2", path));
    EXPECT_EQ(path, "SOFTWARE\\Quietway2");
    EXPECT_TRUE(reg_file::key_path("HKEY_LOCAL_MACHINE\\SOFTWARE", path));
    EXPECT_EQ(path, "SOFTWARE");
    EXPECT_TRUE(reg_file::key_path("HKEY_LOCAL_MACHINE", path));
    EXPECT_EQ(path, "");

    EXPECT_FALSE(reg_file::key_path("HKEY_CURRENT_USER\\Software", path));
    EXPECT_FALSE(reg_file::key_path("HKCU\\Software", path));
    EXPECT_FALSE(reg_file::key_path("SOFTWARE\\\\Quietway2", path));
    EXPECT_FALSE(reg_file::key_path("SOFTWARE\\", path));
    EXPECT_FALSE(reg_file::key_path("SOFTWARE\\" + std::string(256, 'k'), path));
}

TEST(RegFileFormat, WritesLinesThatParseBackToTheSameValue) {
    const std::vector<StoreValue> values{
        {"app_dir", kValueTypeString, "C:\\Program Files\\Q \"x\""},
        {"", kValueTypeString, "default"},
        {"n", kValueTypeDword, dword_bytes(0xABCDEF01)},
        {"terminated", kValueTypeString, std::string("text\0", 5)},
    };
    std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n";
    for (const StoreValue& value : values) {
        std::string line;
        ASSERT_TRUE(reg_file::format_value(value, line)) << value.name;
        text += line + "\n";
    }
    EXPECT_NE(text.find("\"n\"=dword:abcdef01"), std::string::npos);
    EXPECT_NE(text.find("@=\"default\""), std::string::npos);

    const Parsed parsed = parse(text);
    ASSERT_TRUE(parsed.problems.empty());
    ASSERT_EQ(parsed.operations.size(), 5u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(parsed.operations[i + 1].value.name, values[i].name);
        EXPECT_EQ(parsed.operations[i + 1].value.data, values[i].data);
    }
    EXPECT_EQ(parsed.operations[4].value.data, "text");
}

TEST(RegFileFormat, RefusesWhatTheFormatCannotCarry) {
    std::string line;
    EXPECT_FALSE(reg_file::format_value({"multi", kValueTypeString, "one\r\ntwo"}, line));
    EXPECT_FALSE(reg_file::format_value({"bad\nname", kValueTypeString, "x"}, line));
    EXPECT_FALSE(reg_file::format_value({"binary", 3, "\x01\x02"}, line));
    EXPECT_FALSE(reg_file::format_value({"short", kValueTypeDword, "\x01"}, line));
}

TEST(RegTextDecode, HandlesByteOrderMarks) {
    std::string text, error;
    const std::string utf16(
        "\xFF\xFE"
        "R\0E\0G\0\n\0",
        10);
    ASSERT_TRUE(reg_text::decode_file_bytes(utf16, text, error)) << error;
    EXPECT_EQ(text, "REG\n");

    EXPECT_FALSE(reg_text::decode_file_bytes(std::string("\xFF\xFE"
                                                         "R\0E",
                                                         5),
                                             text, error));
    EXPECT_FALSE(error.empty());

    ASSERT_TRUE(reg_text::decode_file_bytes("\xEF\xBB\xBFREGEDIT4\r\n", text, error));
    EXPECT_EQ(text, "REGEDIT4\r\n");
    ASSERT_TRUE(reg_text::decode_file_bytes("plain \xE9", text, error));
    EXPECT_EQ(text, "plain \xE9");
}

}  // namespace
}  // namespace quietway
