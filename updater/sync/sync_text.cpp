#include <tinyxml2.h>

#include <string>

#include "updater/sync/sync_documents.h"

namespace quietway {

bool element_text(const tinyxml2::XMLElement* parent, const char* name, std::string& out) {
    const tinyxml2::XMLElement* child = parent->FirstChildElement(name);
    const char* text = child ? child->GetText() : nullptr;
    out = text ? text : "";
    return text != nullptr;
}

bool holds_nul_reference(std::string_view document) {
    for (size_t at = document.find("&#"); at != std::string_view::npos;
         at = document.find("&#", at + 2)) {
        size_t digit = at + 2;
        if (digit < document.size() && (document[digit] == 'x' || document[digit] == 'X')) ++digit;
        size_t end = digit;
        while (end < document.size() && document[end] == '0') ++end;
        if (end > digit && end < document.size() && document[end] == ';') return true;
    }
    return false;
}

bool decimal_number(std::string_view text, uint32_t max, uint32_t& value) {
    if (text.empty()) return false;
    uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<uint64_t>(c - '0');
        if (number > max) return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

bool positive_decimal(std::string_view text, uint32_t max, uint32_t& value,
                      std::string& canonical) {
    if (!decimal_number(text, max, value) || value == 0) return false;
    canonical = std::to_string(value);
    return true;
}

}  // namespace quietway
