#include "tray/linux/tray_log_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/test_support.h"

namespace quietway {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

TEST(TrayLogDirectoryTest, StateHomeOrHomeMadeOnlyForTheUser) {
    TempDir dir;
    const std::string home = (dir / "home").string();
    const std::string state = (dir / "state").string();
    struct Case {
        std::string xdg_state_home;
        std::string expected;
    };
    for (const Case& c :
         {Case{state, state + "/quietway"}, Case{"", home + "/.local/state/quietway"},
          Case{"relative/state", home + "/.local/state/quietway"},
          Case{"/" + std::string(300, 'x'), ""}}) {
        ScopedEnv xdg("XDG_STATE_HOME", c.xdg_state_home);
        ScopedEnv home_env("HOME", home);
        EXPECT_EQ(tray_log_directory(), c.expected) << c.xdg_state_home;
        struct stat info {};
        if (c.expected.empty()) continue;
        ASSERT_EQ(stat(c.expected.c_str(), &info), 0) << c.expected;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << c.expected;
    }
}

}  // namespace
}  // namespace quietway
