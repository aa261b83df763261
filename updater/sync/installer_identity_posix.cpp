#include <string_view>

#include "common/process/run_program.h"
#include "updater/sync/installer_identity.h"

namespace quietway {

const char* const kInstallerProduct = "quietway";

namespace {

// dpkg-deb reads a package's control fields in well under a second.
constexpr uint32_t kReadLimitMs = 30000;
constexpr size_t kMaxField = 100;

// The value of "NAME: value" on one of `text`'s lines.
bool field(std::string_view text, std::string_view name, std::string& value) {
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.size() <= name.size() + 2 || !line.starts_with(name) ||
            line.substr(name.size(), 2) != ": ") {
            continue;
        }
        line.remove_prefix(name.size() + 2);
        if (line.size() > kMaxField) return false;
        value = line;
        return true;
    }
    return false;
}

}  // namespace

bool read_installer_identity(const std::string& path, InstallerIdentity& out) {
    std::string text;
    RunOptions options;
    options.time_limit_ms = kReadLimitMs;
    options.output = &text;
    // Two fields make dpkg-deb name each one on its own line.
    const RunResult result =
        run_program({"dpkg-deb", "--field", path, "Package", "Version"}, options);
    if (!result.started || result.timed_out || result.exit_code != 0) return false;
    return field(text, "Package", out.product) && field(text, "Version", out.version);
}

}  // namespace quietway
