// Files beside the running program are found from any working directory.
#include "tray/core/program_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace quietway::testing {
namespace {

TEST(ProgramFolderTest, FindsTheProgramsOwnFileFromAnotherWorkingDirectory) {
#ifdef _WIN32
    const char* self = "tray_core_tests.exe";
#else
    const char* self = "tray_core_tests";
#endif
    const TempDir elsewhere;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere.path());
    const std::string found = beside_program(self);
    std::filesystem::current_path(before);
    EXPECT_TRUE(std::filesystem::is_regular_file(found)) << found;
    EXPECT_FALSE(std::filesystem::exists(elsewhere.path() / self));
}

}  // namespace
}  // namespace quietway::testing
