#pragma once

#include <cstdint>

namespace quietway {

// An IPv4 address read from dotted text: the four dotted parts as parsed and the address as
// a number in host order (the first dotted part in the most significant byte).
struct Ipv4Address {
    uint8_t parts[4] = {0, 0, 0, 0};
    uint32_t value = 0;
};

// Reads dotted text leniently, the way permit entries and range bounds have always been read:
// each part is an 8-bit accumulator (v = v * 10 + digit, wrapping), a non-digit counts as 0,
// missing parts are 0. Text with a fifth dotted part is refused: the result is false and
// `out` is left as it was.
bool parse_ipv4(const char* text, Ipv4Address& out);

}  // namespace quietway
