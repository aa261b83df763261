#include "updater/sync/version_record.h"

#include <array>
#include <cstddef>

namespace quietway {
namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether the name could reach outside the directory it is joined to, or name a stream or
// device-like path on Windows.
bool safe_file_name(std::string_view name) {
    if (name.find("..") != std::string_view::npos) return false;
    for (char c : name) {
        if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20) {
            return false;
        }
    }
    return true;
}

// Splits the version into its four dotted numbers; false unless there are exactly four
// non-empty runs of decimal digits.
bool split_version(std::string_view text, std::array<std::string_view, 4>& parts) {
    size_t part = 0;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && is_digit(text[i])) continue;
        if (i < text.size() && text[i] != '.') return false;
        if (i == start || part == parts.size()) return false;
        parts[part++] = text.substr(start, i - start);
        start = i + 1;
    }
    return part == parts.size();
}

// Compares two runs of digits by value, whatever their length.
int compare_numbers(std::string_view a, std::string_view b) {
    while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
    while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

}  // namespace

bool parse_version_record(std::string_view text, VersionRecord& out) {
    // The record is text: whatever follows a NUL byte is not part of it.
    text = text.substr(0, text.find('\0'));
    std::array<std::string_view, 4> tokens;
    size_t count = 0;
    size_t at = 0;
    while (count < tokens.size()) {
        while (at < text.size() && is_blank(text[at])) ++at;
        if (at == text.size()) return false;
        const size_t start = at;
        while (at < text.size() && !is_blank(text[at])) ++at;
        tokens[count++] = text.substr(start, at - start);
    }
    if (tokens[0].size() > kMaxVersionToken || tokens[1].size() > kMaxInstallerName ||
        tokens[2].size() > kMaxDigestToken || tokens[3].size() > kMaxInstallerUrl) {
        return false;
    }
    if (!safe_file_name(tokens[1])) return false;
    out.version = tokens[0];
    out.file_name = tokens[1];
    out.digest = tokens[2];
    out.url = tokens[3];
    return true;
}

bool compare_versions(std::string_view a, std::string_view b, int& order) {
    std::array<std::string_view, 4> first;
    std::array<std::string_view, 4> second;
    if (!split_version(a, first) || !split_version(b, second)) return false;
    order = 0;
    for (size_t i = 0; i < first.size() && order == 0; ++i) {
        order = compare_numbers(first[i], second[i]);
    }
    return true;
}

bool is_newer_version(std::string_view current, std::string_view candidate) {
    std::array<std::string_view, 4> next;
    if (!split_version(candidate, next)) return false;
    int order = 0;
    return !compare_versions(current, candidate, order) || order < 0;
}

}  // namespace quietway
