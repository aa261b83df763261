#include <gtest/gtest.h>
#include <json/value.h>
#include <json/writer.h>

#include <string>

#include "common/store/json_text.h"

namespace quietway {
namespace {

TEST(JsonText, EveryInvalidByteBecomesOneReplacementAndNothingElseChanges) {
    const std::string r = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"Z\xE9rich", "Z" + r + "rich"},
        {"Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x98\x80",
         "Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"\xC0\xAF", r + r},                  // overlong '/'
        {"\xE0\x80\xAF", r + r + r},          // overlong, three bytes
        {"\xED\xA0\x80x", r + r + r + "x"},   // a surrogate
        {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
        {"ab\xE2\x82", "ab" + r + r},         // cut off at the end
        {"\xE2\x82"
         "ab",
         r + r + "ab"},                       // cut off before ASCII
        {"\x80\xBF\xFE\xFF", r + r + r + r},  // bytes that never start a sequence
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(valid_utf8(bytes), text) << bytes;
}

TEST(JsonText, WrittenJsonKeepsTheCharactersAfterABadByte) {
    Json::Value value(Json::objectValue);
    value["list"].append("Z\xE9rich");
    value["n\xE9"] = 7;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    EXPECT_EQ(Json::writeString(builder, with_valid_utf8(value)),
              R"({"list":["Z\ufffdrich"],"n\ufffd":7})");
}

TEST(JsonText, TreesWithABadByteAnywhereAreNotWrittenAsTheyAre) {
    Json::Value good(Json::objectValue);
    good["list"].append("Z\xC3\xBCrich");
    Json::Value bad_element = good, bad_name = good;
    bad_element["list"].append("Z\xE9rich");
    bad_name["n\xE9"] = 7;
    EXPECT_TRUE(all_valid_utf8(good));
    EXPECT_FALSE(all_valid_utf8(bad_element));
    EXPECT_FALSE(all_valid_utf8(bad_name));
}

}  // namespace
}  // namespace quietway
