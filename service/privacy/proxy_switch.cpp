#include "service/privacy/proxy_switch.h"

namespace quietway {

bool is_proxy_port(std::string_view text) {
    if (text.empty() || text.size() > 5 || text[0] == '0') return false;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= 65535;
}

}  // namespace quietway
