#include "common/service_host/error_text.h"

namespace quietway {

std::string trim_error_text(const std::string& raw) {
    if (raw.size() >= kErrorTextLimit) return {};
    std::string text = raw;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
}

}  // namespace quietway
