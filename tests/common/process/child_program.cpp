#include "tests/common/process/child_program.h"

#include <cstdio>
#include <random>

namespace quietway::testing {

std::string child_program() {
    // absolute() gives a Windows build its drive letter for the build tree's path.
    return std::filesystem::absolute(QUIETWAY_PROCESS_CHILD).make_preferred().string();
}

std::string copy_child_program(const std::filesystem::path& dir, const std::string& stem) {
    const std::filesystem::path source(child_program());
    const std::filesystem::path target = dir / (stem + source.extension().string());
    std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
    return target.string();
}

std::string unique_name(const std::string& prefix) {
    std::random_device rd;
    char digits[9];
    std::snprintf(digits, sizeof(digits), "%08x", static_cast<unsigned>(rd()));
    return prefix + digits;
}

}  // namespace quietway::testing
