#pragma once

#include <cstdint>

namespace quietway {

// Which end of a connection a permitted address names.
inline constexpr uint32_t kPermitLocalAddress = 0;
inline constexpr uint32_t kPermitRemoteAddress = 1;

// One address the kill switch lets through; `address` 0 means the text did not parse and
// the entry gets no filter.
struct PermitEntry {
    uint8_t parts[4] = {0, 0, 0, 0};
    uint32_t address = 0;  // host order, first dotted part most significant
    uint64_t filter_id = 0;
    uint32_t direction = kPermitRemoteAddress;
};

}  // namespace quietway
