#include <windows.h>

#include <cstdio>
#include <vector>

#include "updater/sync/installer_identity.h"

namespace quietway {

const char* const kInstallerProduct = "Quietway";

namespace {

// A setup program's version resource is a few kilobytes.
constexpr DWORD kMaxVersionInfo = 64 * 1024;
constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;

struct Translation {
    WORD language;
    WORD code_page;
};

bool product_name(const std::vector<char>& info, std::string& out) {
    void* found = nullptr;
    UINT size = 0;
    if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &found, &size) ||
        size < sizeof(Translation)) {
        return false;
    }
    const Translation first = *static_cast<const Translation*>(found);
    char query[64];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\ProductName", first.language,
                  first.code_page);
    if (!VerQueryValueA(info.data(), query, &found, &size) || size == 0) return false;
    // The size counts the terminating NUL, which is there for a well-formed value.
    out.assign(static_cast<const char*>(found), strnlen(static_cast<const char*>(found), size));
    return true;
}

bool file_version(const std::vector<char>& info, std::string& out) {
    void* found = nullptr;
    UINT size = 0;
    if (!VerQueryValueA(info.data(), "\\", &found, &size) || size < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(found);
    if (fixed->dwSignature != kFixedInfoSignature) return false;
    out = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
          std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
          std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
          std::to_string(LOWORD(fixed->dwFileVersionLS));
    return true;
}

}  // namespace

bool read_installer_identity(const std::string& path, InstallerIdentity& out) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0 || size > kMaxVersionInfo) return false;
    std::vector<char> info(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return false;
    return product_name(info, out.product) && file_version(info, out.version);
}

}  // namespace quietway
