#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/net/downloader.h"
#include "tests/support/test_support.h"

namespace quietway {
namespace {

TEST(DownloadDirTest, IsMadeReadableByAllAndRefusedWhenOthersCouldWriteOrItIsALink) {
    testing::TempDir base;
    const std::string made = (base / "a" / "downloads").string();
    {
        testing::ScopedEnv env("QUIETWAY_DOWNLOAD_DIR", made);
        const mode_t old_mask = umask(077);
        EXPECT_EQ(download_dir(), made + "/");
        umask(old_mask);
        struct stat info {};
        ASSERT_EQ(stat(made.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0755u);
    }
    const std::filesystem::path open = base / "open";
    std::filesystem::create_directory(open);
    chmod(open.c_str(), 0777);
    std::filesystem::create_directory_symlink(made, base / "link");
    for (const std::string& refused :
         {open.string(), (base / "link").string(), std::string("rel")}) {
        testing::ScopedEnv env("QUIETWAY_DOWNLOAD_DIR", refused);
        EXPECT_EQ(download_dir(), "") << refused;
    }
}

}  // namespace
}  // namespace quietway
