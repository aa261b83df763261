#pragma once

#include <cstdint>
#include <vector>

namespace quietway {

// The interface index of our VPN device (kVpnDeviceName) when the calling thread's network
// namespace has it and it is a tun/tap device; the tunnels of other programs never count.
// Appends nothing when there is no such device. A status other than 0 only when the
// interface could not be examined for lack of memory.
uint32_t find_vpn_device(std::vector<uint64_t>& indexes);

}  // namespace quietway
