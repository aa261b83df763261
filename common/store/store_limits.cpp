#include "common/store/store_limits.h"

#include "common/log/rotating_log.h"

namespace quietway {

size_t key_path_depth(std::string_view path) {
    if (path.size() > 1 && path.back() == '\\') path.remove_suffix(1);  // as the registry allows
    if (path.empty()) return 0;
    size_t depth = 1;
    for (const char c : path) depth += c == '\\' ? 1 : 0;
    return depth;
}

bool key_path_fits(std::string_view path) {
    if (path.empty()) return true;
    if (key_path_depth(path) > kMaxKeyDepth || path.size() > max_key_path_length()) return false;
    while (true) {
        const size_t end = path.find('\\');
        if (!key_name_fits(path.substr(0, end))) return false;
        if (end == std::string_view::npos) return true;
        path.remove_prefix(end + 1);
    }
}

bool string_value_fits(const char* value_name, const std::string& text) {
    const char* name = value_name != nullptr ? value_name : "";
    if (text.size() > kMaxStringValue) {
        log("Text of %lu bytes for \"%s\" refused: longer than %lu bytes",
            static_cast<unsigned long>(text.size()), name,
            static_cast<unsigned long>(kMaxStringValue));
        return false;
    }
    // Every read ends at the first NUL: such a text could never be read back whole.
    if (text.find('\0') != std::string::npos) {
        log("Text of %lu bytes for \"%s\" refused: it holds a NUL byte",
            static_cast<unsigned long>(text.size()), name);
        return false;
    }
    return true;
}

}  // namespace quietway
