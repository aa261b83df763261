#include <gtest/gtest.h>

#include "common/process/process_kill.h"

namespace quietway {
namespace {

TEST(ImageName, AcceptsBareFileNames) {
    EXPECT_TRUE(is_valid_image_name("quietway_firewall.exe"));
    EXPECT_TRUE(is_valid_image_name("openvpn"));
    EXPECT_TRUE(is_valid_image_name("name with blanks.exe"));
    EXPECT_TRUE(is_valid_image_name(std::string(255, 'n')));
}

TEST(ImageName, RefusesPathsWildcardsAndControlCharacters) {
    for (const char* bad : {"", ".", "..", "*", "quietway*", "a?.exe", "dir/name", "dir\\name",
                            "C:name", "a\"b", "a|b", "a<b", "a>b", "tab\tname", "line\nname"}) {
        EXPECT_FALSE(is_valid_image_name(bad)) << bad;
    }
    EXPECT_FALSE(is_valid_image_name(std::string("nul\0x", 5)));
    EXPECT_FALSE(is_valid_image_name(std::string(256, 'n')));
}

TEST(ImageName, KillRefusesAnInvalidNameWithoutEndingAnything) {
    EXPECT_FALSE(kill_processes_by_name("*"));
    EXPECT_FALSE(kill_processes_by_name(""));
}

TEST(ImageName, KillReportsFalseWhenNoProcessRunsTheImage) {
    EXPECT_FALSE(kill_processes_by_name("quietway-no-such-image-4711"));
}

}  // namespace
}  // namespace quietway
