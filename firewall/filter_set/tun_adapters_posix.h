#pragma once

#include <cstdint>
#include <vector>

namespace quietway {

// Interface indexes of the tun/tap devices of the calling thread's network namespace: the
// VPN adapters on Linux. False only when the interface list cannot be read for lack of
// memory; other failures are logged and leave the list empty.
bool find_tun_adapters(std::vector<uint64_t>& indexes);

}  // namespace quietway
