#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

using testing::put_raw_value;
using testing::StoreTest;
using Names = std::vector<std::string>;

constexpr const char* kApp = "SOFTWARE\\Quietway2\\app";

class StoreAccessTest : public StoreTest {};

TEST_F(StoreAccessTest, StringsUpTo511BytesReadWholeAndLongerOnesFail) {
    const std::string longest(511, 'x');
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "longest", longest));
    // Stored by other means: the store's own writes refuse it (below).
    ASSERT_TRUE(put_raw_value(kApp, "too_long", kValueTypeString, longest + "y"));

    std::string out;
    EXPECT_TRUE(read_reg_string(kApp, "longest", out));
    EXPECT_EQ(out, longest);

    out = "untouched";
    EXPECT_FALSE(read_reg_string(kApp, "too_long", out));
    EXPECT_EQ(out, "untouched");
}

TEST_F(StoreAccessTest, EveryWriteRefusesTextsNoReadCouldReturn) {
    const std::string too_long(512, 'x');
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "name", "kept"));
    const std::function<bool()> writes[] = {
        [&] { return create_reg_string(RootKey::local_machine, kApp, "name", too_long); },
        [&] { return write_reg_string(kApp, "name", too_long); },
        [&] { return set_setting_string("app", "name", too_long); },
        [&] { return create_reg_string(RootKey::local_machine, kApp, "fresh", too_long); },
    };
    for (const auto& write : writes) EXPECT_FALSE(write());
    std::string text;
    EXPECT_TRUE(read_reg_string(kApp, "name", text));
    EXPECT_EQ(text, "kept");
    StoreValue ignored;
    EXPECT_FALSE(read_reg_value(kApp, "fresh", ignored));
}

TEST_F(StoreAccessTest, KeysAsDeepAsTheLimitAreMadeWalkedAndDeletedAndNoDeeper) {
    // As deep as the depth or (on Windows) the length of the whole path allows.
    std::string path = kStoreRoot;
    while (key_path_fits(path + "\\k")) path += "\\k";
    ASSERT_TRUE(create_reg_dword(path.c_str(), "deep", 1));
    const std::string deeper = path + "\\k";
    EXPECT_FALSE(create_reg_dword(deeper.c_str(), "deeper", 1));
    EXPECT_FALSE(install_reg_key(deeper.c_str()));
    EXPECT_FALSE(reg_key_exists(deeper.c_str()));
    const std::string top = std::string(kStoreRoot) + "\\k";
    EXPECT_TRUE(delete_reg_tree(top.c_str()));
    EXPECT_FALSE(reg_key_exists(top.c_str()));
}

TEST_F(StoreAccessTest, StoredTerminatorMakesNoDifference) {
    ASSERT_TRUE(put_raw_value(kApp, "with_nul", kValueTypeString, std::string("abc\0", 4)));
    ASSERT_TRUE(put_raw_value(kApp, "without_nul", kValueTypeString, "abc"));
    ASSERT_TRUE(put_raw_value(kApp, "inner_nul", kValueTypeString, std::string("ab\0cd", 5)));
    ASSERT_TRUE(put_raw_value(kApp, "long_with_nul", kValueTypeString,
                              std::string(510, 'z') + std::string(1, '\0')));

    std::string with, without, inner, long_with;
    EXPECT_TRUE(read_reg_string(kApp, "with_nul", with));
    EXPECT_TRUE(read_reg_string(kApp, "without_nul", without));
    EXPECT_TRUE(read_reg_string(kApp, "inner_nul", inner));
    EXPECT_TRUE(read_reg_string(kApp, "long_with_nul", long_with));
    EXPECT_EQ(with, "abc");
    EXPECT_EQ(without, "abc");
    EXPECT_EQ(inner, "ab");
    EXPECT_EQ(long_with, std::string(510, 'z'));
}

TEST_F(StoreAccessTest, EmptyStringAndExtremeNumbersRoundTrip) {
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "empty", ""));
    ASSERT_TRUE(create_reg_dword(kApp, "zero", 0));
    ASSERT_TRUE(create_reg_dword(kApp, "max", 0xFFFFFFFFu));
    ASSERT_TRUE(create_reg_dword(kApp, "pattern", 0x12345678u));

    std::string text = "not empty";
    uint32_t zero = 7, max = 0, pattern = 0;
    EXPECT_TRUE(read_reg_string(kApp, "empty", text));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(read_reg_dword(kApp, "zero", zero));
    EXPECT_TRUE(read_reg_dword(kApp, "max", max));
    EXPECT_TRUE(read_reg_dword(kApp, "pattern", pattern));
    EXPECT_EQ(zero, 0u);
    EXPECT_EQ(max, 0xFFFFFFFFu);
    EXPECT_EQ(pattern, 0x12345678u);
}

TEST_F(StoreAccessTest, NumbersAreFourBytesLittleEndian) {
    ASSERT_TRUE(create_reg_dword(kApp, "status", 0x0A0B0C0Du));
    StoreValue raw;
    ASSERT_TRUE(read_reg_value(kApp, "status", raw));
    EXPECT_EQ(raw.type, kValueTypeDword);
    EXPECT_EQ(raw.data, std::string("\x0D\x0C\x0B\x0A", 4));

    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "text", "abc"));
    ASSERT_TRUE(read_reg_value(kApp, "text", raw));
    EXPECT_EQ(raw.type, kValueTypeString);
    EXPECT_EQ(raw.data.substr(0, 3), "abc");
}

TEST_F(StoreAccessTest, TypeMismatchesFailAndLeaveTheOutputAlone) {
    ASSERT_TRUE(create_reg_dword(kApp, "number", 5));
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "text", "5"));
    ASSERT_TRUE(put_raw_value(kApp, "short_number", kValueTypeDword, std::string("\x01\x02", 2)));

    std::string text = "kept";
    uint32_t number = 42;
    EXPECT_FALSE(read_reg_string(kApp, "number", text));
    EXPECT_FALSE(read_reg_dword(kApp, "text", number));
    EXPECT_FALSE(read_reg_dword(kApp, "short_number", number));
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(number, 42u);
}

TEST_F(StoreAccessTest, MissingKeysAndValuesFailAndLeaveTheOutputAlone) {
    ASSERT_TRUE(create_reg_dword(kApp, "present", 1));
    std::string text = "kept";
    uint32_t number = 42;
    EXPECT_FALSE(read_reg_string(kApp, "absent", text));
    EXPECT_FALSE(read_reg_dword(kApp, "absent", number));
    EXPECT_FALSE(read_reg_string("SOFTWARE\\Quietway2\\missing", "present", text));
    EXPECT_FALSE(get_setting_dword("missing", "present", number));
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(number, 42u);
}

TEST_F(StoreAccessTest, SectionWritesNeverCreateKeys) {
    EXPECT_FALSE(set_setting_string("general", "user", "alice"));
    EXPECT_FALSE(set_setting_dword("general", "mode", 2));
    EXPECT_FALSE(set_setting_dword(nullptr, "version", 2));
    EXPECT_FALSE(write_reg_string("SOFTWARE\\Quietway2\\servers\\1", "name", "x"));
    EXPECT_FALSE(reg_key_exists("SOFTWARE\\Quietway2\\general"));
    EXPECT_FALSE(reg_key_exists(kStoreRoot));

    // Once the key is there, the same writes land in it.
    ASSERT_TRUE(install_reg_key("SOFTWARE\\Quietway2\\general"));
    EXPECT_TRUE(set_setting_string("general", "user", "alice"));
    EXPECT_TRUE(set_setting_dword("general", "mode", 2));
    EXPECT_TRUE(set_setting_dword(nullptr, "version", 2));
    std::string user;
    uint32_t mode = 0, version = 0;
    EXPECT_TRUE(get_setting_string("general", "user", user));
    EXPECT_TRUE(get_setting_dword("general", "mode", mode));
    EXPECT_TRUE(read_reg_dword(kStoreRoot, "version", version));
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(mode, 2u);
    EXPECT_EQ(version, 2u);
}

TEST_F(StoreAccessTest, WritesReplaceValuesAndTheirType) {
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "value", "first"));
    ASSERT_TRUE(write_reg_string(kApp, "value", "second, and longer than the first"));
    std::string text;
    EXPECT_TRUE(read_reg_string(kApp, "value", text));
    EXPECT_EQ(text, "second, and longer than the first");

    ASSERT_TRUE(write_reg_dword(kApp, "value", 9));
    uint32_t number = 0;
    EXPECT_TRUE(read_reg_dword(kApp, "value", number));
    EXPECT_EQ(number, 9u);
    EXPECT_FALSE(read_reg_string(kApp, "value", text));
}

TEST_F(StoreAccessTest, CreateMakesMissingParents) {
    const char* deep = "SOFTWARE\\Quietway2\\notifications\\17";
    ASSERT_TRUE(create_reg_dword(deep, "state", 1));
    uint32_t state = 0;
    EXPECT_TRUE(read_reg_dword(deep, "state", state));
    EXPECT_EQ(state, 1u);
    Names names;
    EXPECT_TRUE(list_reg_subkeys(kNotificationsPath, names));
    EXPECT_EQ(names, Names{"17"});
}

TEST_F(StoreAccessTest, DefaultValueHasTheEmptyName) {
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kApp, "", "default text"));
    std::string by_empty, by_null;
    EXPECT_TRUE(read_reg_string(kApp, "", by_empty));
    EXPECT_TRUE(read_reg_string(kApp, nullptr, by_null));
    EXPECT_EQ(by_empty, "default text");
    EXPECT_EQ(by_null, "default text");
}

TEST_F(StoreAccessTest, NamesMatchWhateverTheirCaseAndKeepTheCaseTheyWereMadeWith) {
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, "SOFTWARE\\Quietway2\\MixedCase",
                                  "ValueName", "one"));
    std::string text;
    EXPECT_TRUE(read_reg_string("software\\QUIETWAY2\\mixedcase", "VALUENAME", text));
    EXPECT_EQ(text, "one");

    ASSERT_TRUE(write_reg_string("SOFTWARE\\QUIETWAY2\\MIXEDCASE", "valuename", "two"));
    std::vector<StoreValue> values;
    ASSERT_TRUE(list_reg_values("SOFTWARE\\Quietway2\\MixedCase", values));
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "ValueName");
    EXPECT_EQ(values[0].data.substr(0, 3), "two");

    ASSERT_TRUE(create_reg_dword("software\\quietway2\\mixedcase\\Child", "n", 1));
    Names names;
    EXPECT_TRUE(list_reg_subkeys(kStoreRoot, names));
    EXPECT_EQ(names, Names{"MixedCase"});
}

TEST_F(StoreAccessTest, DeletingAKeyRemovesItWithItsValues) {
    const char* server = "SOFTWARE\\Quietway2\\servers\\3";
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, server, "name", "three"));
    ASSERT_TRUE(create_reg_dword(server, "status", 1));
    EXPECT_TRUE(delete_reg_key(server));
    EXPECT_FALSE(reg_key_exists(server));
    EXPECT_TRUE(reg_key_exists(kServersPath));
    EXPECT_FALSE(delete_reg_key(server));
}

TEST_F(StoreAccessTest, DeletingAKeyWithSubkeysKeepsTheKeyWithoutItsValues) {
    ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 2));
    ASSERT_TRUE(create_reg_string(RootKey::local_machine, kServersPath, "note", "x"));
    ASSERT_TRUE(create_reg_dword("SOFTWARE\\Quietway2\\servers\\1", "status", 0));

    EXPECT_FALSE(delete_reg_key(kServersPath));
    EXPECT_TRUE(reg_key_exists(kServersPath));
    std::vector<StoreValue> values;
    ASSERT_TRUE(list_reg_values(kServersPath, values));
    EXPECT_TRUE(values.empty());
    uint32_t status = 9;
    EXPECT_TRUE(read_reg_dword("SOFTWARE\\Quietway2\\servers\\1", "status", status));
    EXPECT_EQ(status, 0u);
}

TEST_F(StoreAccessTest, SubkeysListInTheRegistrysTextOrder) {
    for (const char* name : {"2", "10", "1", "b", "A", "9z"}) {
        ASSERT_TRUE(create_reg_dword((std::string(kServersPath) + "\\" + name).c_str(), "s", 0));
    }
    Names names;
    ASSERT_TRUE(list_reg_subkeys(kServersPath, names));
    EXPECT_EQ(names, (Names{"1", "10", "2", "9z", "A", "b"}));
}

TEST_F(StoreAccessTest, ListingAMissingKeyFailsAndAnEmptyOneSucceedsEmpty) {
    Names names{"stale"};
    EXPECT_FALSE(list_reg_subkeys(kServersPath, names));
    EXPECT_TRUE(names.empty());

    ASSERT_TRUE(create_reg_dword(kServersPath, "last_index", 0));
    names = {"stale"};
    EXPECT_TRUE(list_reg_subkeys(kServersPath, names));
    EXPECT_TRUE(names.empty());
}

TEST_F(StoreAccessTest, MalformedPathsAreRefused) {
    std::string text;
    EXPECT_FALSE(create_reg_dword("\\SOFTWARE\\Quietway2", "x", 1));
    EXPECT_FALSE(delete_reg_key(""));
    EXPECT_FALSE(delete_reg_tree(""));
    EXPECT_FALSE(read_reg_string("\\SOFTWARE\\Quietway2", "x", text));
}

}  // namespace
}  // namespace quietway
