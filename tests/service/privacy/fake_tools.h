#pragma once

#include <filesystem>

namespace quietway::testing {

// Copies the stand-in tool into APP_DIR/bin under the names provisioning starts.
inline void install_fake_tools(const std::filesystem::path& tool,
                               const std::filesystem::path& app_dir) {
    std::filesystem::create_directories(app_dir / "bin");
    const std::filesystem::path source = std::filesystem::absolute(tool);
    for (const char* name : {"curl", "plink"}) {
        std::filesystem::copy_file(source, app_dir / "bin" / (name + source.extension().string()));
    }
}

}  // namespace quietway::testing
