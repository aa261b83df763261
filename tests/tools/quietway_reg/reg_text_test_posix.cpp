#include <gtest/gtest.h>

#include <string>

#include "tools/quietway_reg/reg_text.h"

namespace quietway {
namespace {

TEST(RegTextUtf8, ConvertsUtf16ToUtf8) {
    std::string narrow;
    ASSERT_TRUE(reg_text::utf16_to_narrow(u"caf\u00E9 \u20AC \U0001F512", narrow));
    EXPECT_EQ(narrow, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\x92");
    narrow = "kept";
    EXPECT_FALSE(reg_text::utf16_to_narrow(std::u16string(1, char16_t(0xD800)) + u"x", narrow));
    EXPECT_FALSE(reg_text::utf16_to_narrow(std::u16string(1, char16_t(0xDC00)), narrow));
    EXPECT_EQ(narrow, "kept");
}

}  // namespace
}  // namespace quietway
