// The version record from the update server, and the version comparison it feeds.
#include <string_view>

#include "fuzz/fuzz_environment.h"
#include "updater/sync/version_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quietway;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    VersionRecord record;
    if (parse_version_record(text, record)) {
        fuzz::require(!record.version.empty() && record.version.size() <= kMaxVersionToken &&
                          !record.file_name.empty() &&
                          record.file_name.size() <= kMaxInstallerName && !record.digest.empty() &&
                          record.digest.size() <= kMaxDigestToken && !record.url.empty() &&
                          record.url.size() <= kMaxInstallerUrl,
                      "every token of a parsed record is present and within its limit");
        fuzz::require(record.file_name.find_first_of("/\\") == std::string_view::npos &&
                          record.file_name.find("..") == std::string_view::npos,
                      "the installer name stays inside the download directory");
    }
    // Two versions from the input: never each newer than the other, never newer than itself.
    const size_t cut = text.find('|');
    const std::string_view a = text.substr(0, cut);
    const std::string_view b = cut == std::string_view::npos ? a : text.substr(cut + 1);
    fuzz::require(!(is_newer_version(a, b) && is_newer_version(b, a)), "newer is antisymmetric");
    fuzz::require(!is_newer_version(b, b), "a version is not newer than itself");
    return 0;
}
