#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/store/store.h"
#include "common/store/store_admin.h"
#include "tests/support/store_fixture.h"

namespace quietway {
namespace {

using testing::StoreTest;

constexpr const char* kGeneral = "SOFTWARE\\Quietway2\\general";

StoreValue string_value(const std::string& name, const std::string& text) {
    return {name, kValueTypeString, text};
}

class StoreAdminTest : public StoreTest {};

TEST_F(StoreAdminTest, InstalledValuesAreReadByTheProgramsOperations) {
    ASSERT_TRUE(install_reg_value(kGeneral, string_value("user", "alice")));
    ASSERT_TRUE(install_reg_value(kGeneral, {"mode", kValueTypeDword, std::string("\2\0\0\0", 4)}));
    std::string user;
    uint32_t mode = 0;
    EXPECT_TRUE(get_setting_string("general", "user", user));
    EXPECT_TRUE(get_setting_dword("general", "mode", mode));
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(mode, 2u);
}

TEST_F(StoreAdminTest, OnlyStringsAndFourByteNumbersAreInstalled) {
    EXPECT_FALSE(install_reg_value(kGeneral, {"bad", kValueTypeDword, "123"}));
    EXPECT_FALSE(install_reg_value(kGeneral, {"bad", 3, "binary"}));
    StoreValue out;
    EXPECT_FALSE(read_reg_value(kGeneral, "bad", out));
}

TEST_F(StoreAdminTest, ValuesListWithTypesAndData) {
    ASSERT_TRUE(install_reg_value(kGeneral, string_value("user", "alice")));
    ASSERT_TRUE(create_reg_dword(kGeneral, "mode", 1));
    std::vector<StoreValue> values;
    ASSERT_TRUE(list_reg_values(kGeneral, values));
    ASSERT_EQ(values.size(), 2u);
    // Sort for the comparison: Windows lists in creation order, Linux by name.
    if (values[0].name != "mode") std::swap(values[0], values[1]);
    EXPECT_EQ(values[0].name, "mode");
    EXPECT_EQ(values[0].type, kValueTypeDword);
    EXPECT_EQ(values[0].data, std::string("\1\0\0\0", 4));
    EXPECT_EQ(values[1].name, "user");
    EXPECT_EQ(values[1].type, kValueTypeString);
    EXPECT_EQ(values[1].data.substr(0, 5), "alice");

    EXPECT_FALSE(list_reg_values("SOFTWARE\\Quietway2\\missing", values));
}

TEST_F(StoreAdminTest, SingleValuesAreDeleted) {
    ASSERT_TRUE(install_reg_value(kGeneral, string_value("user", "alice")));
    ASSERT_TRUE(install_reg_value(kGeneral, string_value("password", "secret")));
    EXPECT_TRUE(delete_reg_value(kGeneral, "USER"));
    EXPECT_FALSE(delete_reg_value(kGeneral, "user"));
    std::string text;
    EXPECT_FALSE(get_setting_string("general", "user", text));
    EXPECT_TRUE(get_setting_string("general", "password", text));
}

TEST_F(StoreAdminTest, TreesAreDeletedWithEverythingBelow) {
    ASSERT_TRUE(create_reg_dword("SOFTWARE\\Quietway2\\servers\\1", "status", 1));
    ASSERT_TRUE(create_reg_dword("SOFTWARE\\Quietway2\\servers\\2\\deeper", "x", 1));
    ASSERT_TRUE(install_reg_value(kGeneral, string_value("user", "alice")));
    EXPECT_TRUE(delete_reg_tree("SOFTWARE\\Quietway2\\servers"));
    EXPECT_FALSE(reg_key_exists(kServersPath));
    EXPECT_TRUE(reg_key_exists(kGeneral));
    EXPECT_FALSE(delete_reg_tree("SOFTWARE\\Quietway2\\servers"));
}

TEST_F(StoreAdminTest, InstallingAKeyLeavesExistingValuesAlone) {
    ASSERT_TRUE(create_reg_dword(kGeneral, "mode", 2));
    EXPECT_TRUE(install_reg_key(kGeneral));
    uint32_t mode = 0;
    EXPECT_TRUE(get_setting_dword("general", "mode", mode));
    EXPECT_EQ(mode, 2u);
}

}  // namespace
}  // namespace quietway
