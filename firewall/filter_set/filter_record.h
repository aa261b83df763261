#pragma once

#include <cstdint>
#include <cstring>

// The filter set described in platform-neutral terms. The Windows platform turns these
// into WFP objects one to one; the Linux platform into nftables rules and set elements.
namespace quietway {

// An open filter engine: a WFP engine handle on Windows, an nftables session on Linux.
using EngineHandle = void*;

// Status codes of the filter-set operations besides the platform's own errors.
inline constexpr uint32_t kFilterOk = 0;
inline constexpr uint32_t kFilterNothingToDo = 22;  // engine not open, or nothing to act on

// A 16-byte sublayer key (a GUID on Windows); all zero while there is no sublayer.
struct SublayerKey {
    uint8_t bytes[16] = {};

    bool is_zero() const {
        for (uint8_t b : bytes) {
            if (b != 0) return false;
        }
        return true;
    }
    bool operator==(const SublayerKey& other) const {
        return std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
    }
};

struct SublayerRecord {
    SublayerKey key;
    const wchar_t* name = nullptr;
    const wchar_t* description = nullptr;
    uint16_t flags = 0;
    uint16_t weight = 0;
};

// The layer is where outgoing connections are authorised, for IPv4 or IPv6.
enum class FilterLayer : uint8_t { connect_v4, connect_v6 };

// What the filter's single condition looks at (none: the filter matches everything).
enum class FilterField : uint8_t { none, local_interface, local_address, remote_address };

enum class FilterMatch : uint8_t { equal, range };

enum class FilterAction : uint8_t { block, permit };

struct FilterRecord {
    const wchar_t* display_name = nullptr;
    SublayerKey sublayer;
    FilterLayer layer = FilterLayer::connect_v4;
    FilterField field = FilterField::none;
    FilterMatch match = FilterMatch::equal;
    uint64_t interface_luid = 0;  // local_interface: the adapter's interface LUID
    uint32_t address = 0;         // equal: the address (full mask); range: the low bound
    uint32_t address_high = 0;    // range: the high bound
    FilterAction action = FilterAction::block;
    bool weighted = false;  // false: the platform chooses the weight
    uint8_t weight = 0;
};

}  // namespace quietway
