// Files beside the running program are found from any working directory.
#include "tray/core/program_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace quietway::testing {

TEST(ProgramFolderTest, FindsAFileBesideTheTestProgramFromAnotherWorkingDirectory) {
    const TempDir elsewhere;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere.path());
    // ctest's own file lies in the folder of every test program.
    const std::string found = beside_program("CTestTestfile.cmake");
    std::filesystem::current_path(before);
    EXPECT_TRUE(std::filesystem::is_regular_file(found)) << found;
}

}  // namespace quietway::testing
