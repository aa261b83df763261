#include "updater/net/http_request.h"

#include <cstdlib>
#include <cstring>

namespace quietway {

int http_stall_seconds(int fallback) {
    const char* text = std::getenv("QUIETWAY_HTTP_STALL_SECONDS");
    if (text == nullptr || *text == '\0' || std::strlen(text) > 4) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > 3600) return fallback;
    return static_cast<int>(value);
}

}  // namespace quietway
