#include "tools/quietway_reg/reg_text.h"

namespace quietway::reg_text {

namespace {

void append_utf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

// Linux text is UTF-8; a lone surrogate has no UTF-8 form and is refused.
bool utf16_to_narrow(const std::u16string& wide, std::string& narrow) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        const char16_t unit = wide[i];
        if (is_high_surrogate(unit) && i + 1 < wide.size() && is_low_surrogate(wide[i + 1])) {
            append_utf8(0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00), out);
            ++i;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            return false;
        } else {
            append_utf8(unit, out);
        }
    }
    narrow = std::move(out);
    return true;
}

}  // namespace quietway::reg_text
