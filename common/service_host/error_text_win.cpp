#include <windows.h>

#include "common/service_host/error_text.h"

namespace quietway {

uint32_t last_system_error() { return GetLastError(); }

std::string system_error_text(uint32_t code) {
    char buffer[256];
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
    if (length == 0 || length >= sizeof buffer) return {};
    return trim_error_text(std::string(buffer, length));
}

}  // namespace quietway
