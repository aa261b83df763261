#include <cerrno>
#include <cstring>

#include "common/service_host/error_text.h"

namespace quietway {

uint32_t last_system_error() { return static_cast<uint32_t>(errno); }

std::string system_error_text(uint32_t code) {
    char buffer[256];
    // The GNU variant returns the text, which may or may not live in the buffer.
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    return trim_error_text(text != nullptr ? text : "");
}

}  // namespace quietway
