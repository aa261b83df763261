#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/store/record_text.h"
#include "common/store/store.h"

namespace quietway::record_text {

bool member_text(const Json::Value& params, const char* name, std::string& out) {
    if (!params.isObject()) {
        out.clear();
        return true;
    }
    try {
        out = params[name].asString();
        return true;
    } catch (const std::exception&) {
        return false;  // an array or object where text belongs
    }
}

int32_t decimal_number(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max())
        return 0;
    return static_cast<int32_t>(value);
}

namespace {

// At most 40 characters of the text, with control characters shown as '?', so that a caller's
// text cannot forge log lines.
std::string printable(const std::string& text) {
    std::string shown = text.substr(0, 40);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return shown;
}

bool has_control(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    }
    return false;
}

}  // namespace

bool child_key_path(const char* parent, const std::string& number, size_t capacity,
                    std::string& path) {
    // An empty number would address the parent itself and a backslash another key entirely;
    // control characters never belong in one.
    if (number.empty() || number.find('\\') != std::string::npos || has_control(number)) {
        log("invalid entry number: \"%s\"", printable(number).c_str());
        return false;
    }
    std::vector<char> buffer(capacity);
    const int length = std::snprintf(buffer.data(), capacity, "%s\\%s", parent, number.c_str());
    if (length < 0 || static_cast<size_t>(length) >= capacity) {
        log("entry number too long: \"%s...\"", printable(number).c_str());
        return false;
    }
    path.assign(buffer.data(), static_cast<size_t>(length));
    return true;
}

}  // namespace quietway::record_text
