#include <windows.h>
//
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

#include "common/net/download_dir.h"
#include "common/net/downloader.h"
#include "tests/support/test_support.h"

namespace quietway {
namespace {

// Makes a directory that everyone may write to, as a later change of its access list would.
bool make_open_dir(const std::string& dir) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    const bool made = CreateDirectoryA(dir.c_str(), nullptr) &&
                      ConvertStringSecurityDescriptorToSecurityDescriptorA(
                          "D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &sd, nullptr) &&
                      SetFileSecurityA(dir.c_str(), DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
    return made;
}

// Installers and banners land in a directory of our own, made with its own access list
// (SYSTEM and the administrators write, users read, nothing inherited). One that everyone may
// write to is refused, never used.
TEST(DownloadDirTest, IsMadeAndRefusedWhenOthersMayWrite) {
    testing::TempDir base;
    const std::string made = (base / "a" / "downloads").string();
    {
        testing::ScopedEnv env(kDownloadDirEnv, made);
        EXPECT_EQ(download_dir(), made + "\\");
    }
    const std::string open = (base / "open").string();
    ASSERT_TRUE(make_open_dir(open));
    for (const std::string& refused : {open, std::string("rel\\downloads")}) {
        testing::ScopedEnv env(kDownloadDirEnv, refused);
        EXPECT_EQ(download_dir(), "") << refused;
    }
}

// From its last check until the installer has started, no one may change, rename or delete
// the installer; reading it stays possible.
TEST(DownloadHoldTest, AHeldFileCanBeReadButNotWrittenMovedOrDeleted) {
    testing::TempDir base;
    const std::string path = (base / "setup.exe").string();
    testing::write_file(path, "setup");
    {
        const DownloadHold hold(path);
        ASSERT_TRUE(hold.held());
        EXPECT_EQ(testing::read_file(path), "setup");
        const HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        EXPECT_FALSE(DeleteFileA(path.c_str()));
        EXPECT_FALSE(MoveFileA(path.c_str(), (base / "moved.exe").string().c_str()));
    }
    testing::write_file(path, "changed");
    EXPECT_EQ(testing::read_file(path), "changed");
    EXPECT_FALSE(DownloadHold((base / "missing.exe").string()).held());
}

}  // namespace
}  // namespace quietway
