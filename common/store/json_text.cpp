#include "common/store/json_text.h"

namespace quietway {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at the start of `bytes`, 0 when there is none: no
// overlong forms, no surrogates, nothing above U+10FFFF.
size_t sequence_length(std::string_view bytes) {
    const auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length || at(1) < low || at(1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (!continuation(at(i))) return 0;
    }
    return length;
}

// Length of the longest start of `bytes` that is valid UTF-8.
size_t valid_prefix(std::string_view bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t length = sequence_length(bytes.substr(at));
        if (length == 0) break;
        at += length;
    }
    return at;
}

bool is_valid_utf8(std::string_view bytes) { return valid_prefix(bytes) == bytes.size(); }

}  // namespace

std::string valid_utf8(std::string_view bytes) {
    const size_t valid = valid_prefix(bytes);
    std::string text(bytes.substr(0, valid));
    bytes.remove_prefix(valid);
    if (bytes.empty()) return text;
    text.reserve(valid + bytes.size() + kReplacement.size());
    while (!bytes.empty()) {
        const size_t length = sequence_length(bytes);
        if (length == 0) {
            text += kReplacement;
            bytes.remove_prefix(1);
        } else {
            text.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
        }
    }
    return text;
}

Json::Value with_valid_utf8(const Json::Value& value) {
    switch (value.type()) {
        case Json::stringValue: {
            const char* begin = nullptr;
            const char* end = nullptr;
            value.getString(&begin, &end);
            return Json::Value(
                valid_utf8(std::string_view(begin, static_cast<size_t>(end - begin))));
        }
        case Json::arrayValue: {
            Json::Value copy(Json::arrayValue);
            for (const Json::Value& element : value) copy.append(with_valid_utf8(element));
            return copy;
        }
        case Json::objectValue: {
            Json::Value copy(Json::objectValue);
            for (auto it = value.begin(); it != value.end(); ++it)
                copy[valid_utf8(it.name())] = with_valid_utf8(*it);
            return copy;
        }
        default:
            return value;
    }
}

bool all_valid_utf8(const Json::Value& value) {
    switch (value.type()) {
        case Json::stringValue: {
            const char* begin = nullptr;
            const char* end = nullptr;
            value.getString(&begin, &end);
            return is_valid_utf8(std::string_view(begin, static_cast<size_t>(end - begin)));
        }
        case Json::arrayValue:
        case Json::objectValue:
            for (auto it = value.begin(); it != value.end(); ++it) {
                const char* end = nullptr;
                const char* name = value.isObject() ? it.memberName(&end) : nullptr;
                if (name != nullptr &&
                    !is_valid_utf8(std::string_view(name, static_cast<size_t>(end - name))))
                    return false;
                if (!all_valid_utf8(*it)) return false;
            }
            return true;
        default:
            return true;
    }
}

}  // namespace quietway
