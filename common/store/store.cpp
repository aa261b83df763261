#include <cstdio>

#include "common/store/store.h"

namespace quietway {

namespace {

constexpr size_t kSectionPathCapacity = 512;

// "SOFTWARE\\Quietway2" or "SOFTWARE\\Quietway2\\<section>"; false when it does not fit.
bool section_path(const char* section, char (&path)[kSectionPathCapacity]) {
    const int length = section != nullptr
                           ? std::snprintf(path, sizeof path, "%s\\%s", kStoreRoot, section)
                           : std::snprintf(path, sizeof path, "%s", kStoreRoot);
    return length >= 0 && static_cast<size_t>(length) < sizeof path;
}

}  // namespace

bool same_store_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if ((x >= 'a' && x <= 'z' ? x - 32 : x) != (y >= 'a' && y <= 'z' ? y - 32 : y))
            return false;
    }
    return true;
}

bool is_open_key(std::string_view path) {
    const std::string_view open(kNotificationsPath);
    return path.size() >= open.size() && same_store_name(path.substr(0, open.size()), open) &&
           (path.size() == open.size() || path[open.size()] == '\\');
}

bool get_setting_string(const char* section, const char* name, std::string& out) {
    char path[kSectionPathCapacity];
    return section_path(section, path) && read_reg_string(path, name, out);
}

bool get_setting_dword(const char* section, const char* name, uint32_t& out) {
    char path[kSectionPathCapacity];
    return section_path(section, path) && read_reg_dword(path, name, out);
}

bool set_setting_string(const char* section, const char* name, const std::string& text) {
    char path[kSectionPathCapacity];
    return section_path(section, path) && write_reg_string(path, name, text);
}

bool set_setting_dword(const char* section, const char* name, uint32_t value) {
    char path[kSectionPathCapacity];
    return section_path(section, path) && write_reg_dword(path, name, value);
}

}  // namespace quietway
