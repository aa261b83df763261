#include "firewall/filter_set/ipv4_text.h"

namespace quietway {

bool parse_ipv4(const char* text, Ipv4Address& out) {
    uint8_t parts[4] = {0, 0, 0, 0};
    unsigned index = 0;
    uint8_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '.') {
            parts[index] = value;
            value = 0;
            if (++index > 3) return false;
            continue;
        }
        const uint8_t digit = (*c >= '0' && *c <= '9') ? static_cast<uint8_t>(*c - '0') : 0;
        value = static_cast<uint8_t>(value * 10 + digit);
    }
    parts[index] = value;

    for (int i = 0; i < 4; ++i) out.parts[i] = parts[i];
    out.value = (uint32_t{parts[0]} << 24) | (uint32_t{parts[1]} << 16) |
                (uint32_t{parts[2]} << 8) | uint32_t{parts[3]};
    return true;
}

}  // namespace quietway
