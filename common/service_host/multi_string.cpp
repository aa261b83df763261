#include "common/service_host/multi_string.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace quietway {
namespace {

bool same_name(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::vector<std::string> parse_multi_string(const char* data, size_t size) {
    std::vector<std::string> strings;
    size_t position = 0;
    while (position < size && data[position] != '\0') {
        const char* start = data + position;
        const void* nul = std::memchr(start, '\0', size - position);
        const size_t length = nul != nullptr
                                  ? static_cast<size_t>(static_cast<const char*>(nul) - start)
                                  : size - position;
        strings.emplace_back(start, length);
        position += length + 1;
    }
    return strings;
}

std::string build_multi_string(const std::vector<std::string>& strings) {
    std::string data;
    for (const std::string& s : strings) {
        data += s;
        data += '\0';
    }
    data += '\0';
    return data;
}

bool contains_name(const std::vector<std::string>& strings, const std::string& name) {
    return std::any_of(strings.begin(), strings.end(),
                       [&](const std::string& s) { return same_name(s, name); });
}

bool remove_name(std::vector<std::string>& strings, const std::string& name) {
    const auto end = std::remove_if(strings.begin(), strings.end(),
                                    [&](const std::string& s) { return same_name(s, name); });
    const bool found = end != strings.end();
    strings.erase(end, strings.end());
    return found;
}

}  // namespace quietway
