#include <algorithm>
#include <cstring>

#include "common/os/file_io_posix.h"
#include "common/store/store_limits.h"
#include "common/store/store_tree_posix.h"

namespace quietway::store_tree {

namespace {

constexpr char kValuePrefix = '@';
constexpr char kHexDigits[] = "0123456789ABCDEF";

unsigned char fold(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

bool must_escape(unsigned char c, size_t position, bool key) {
    if (c == '%' || c == '/' || c < 0x20 || c == 0x7F) return true;
    // A leading '.' would hide the entry (and "." / ".." name the directories themselves);
    // a key's leading '@' would read as a value.
    return position == 0 && (c == '.' || (key && c == kValuePrefix));
}

std::string escape(std::string_view name, bool key) {
    std::string entry;
    entry.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (must_escape(c, i, key)) {
            entry += '%';
            entry += kHexDigits[c >> 4];
            entry += kHexDigits[c & 0x0F];
        } else {
            entry += static_cast<char>(c);
        }
    }
    return entry;
}

int hex_value(char c) {
    const char* digit = std::strchr(kHexDigits, c);
    return (c != '\0' && digit != nullptr) ? static_cast<int>(digit - kHexDigits) : -1;
}

bool unescape(std::string_view entry, std::string& name) {
    name.clear();
    for (size_t i = 0; i < entry.size(); ++i) {
        if (entry[i] != '%') {
            name += entry[i];
            continue;
        }
        if (i + 2 >= entry.size()) return false;
        const int high = hex_value(entry[i + 1]);
        const int low = hex_value(entry[i + 2]);
        if (high < 0 || low < 0) return false;
        name += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

// Only the canonical spelling of a name counts, so that every name has exactly one entry.
bool decode(std::string_view entry, bool key, std::string& name) {
    std::string decoded;
    if (!unescape(entry, decoded) || escape(decoded, key) != entry) return false;
    name = std::move(decoded);
    return true;
}

}  // namespace

std::string key_entry_name(std::string_view key_name) { return escape(key_name, true); }

std::string value_entry_name(std::string_view value_name) {
    return kValuePrefix + escape(value_name, false);
}

bool decode_key_entry(std::string_view entry, std::string& key_name) {
    if (entry.empty() || entry.front() == kValuePrefix || entry.front() == '.') return false;
    return decode(entry, true, key_name) && !key_name.empty();
}

bool decode_value_entry(std::string_view entry, std::string& value_name) {
    if (entry.empty() || entry.front() != kValuePrefix) return false;
    return decode(entry.substr(1), false, value_name);
}

bool is_temporary_entry(std::string_view entry) { return entry.starts_with(kTemporaryPrefix); }

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool name_before(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const unsigned char x = fold(static_cast<unsigned char>(a[i]));
        const unsigned char y = fold(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;  // names differing only in case: keep a fixed order
}

bool split_path(const char* path, std::vector<std::string>& names) {
    names.clear();
    if (path == nullptr) return false;
    std::string_view rest(path);
    if (rest.size() > 1 && rest.back() == '\\') rest.remove_suffix(1);  // as the registry allows
    while (!rest.empty()) {
        const size_t end = rest.find('\\');
        const std::string_view name = rest.substr(0, end);
        if (!key_name_fits(name) || names.size() == kMaxKeyDepth) return false;
        names.emplace_back(name);
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
        if (rest.empty()) return false;
    }
    return true;
}

}  // namespace quietway::store_tree
