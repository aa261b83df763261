#pragma once

#include <cstdint>

// The privacy mode: the `mode` setting of section "general", which session the engine runs.
namespace quietway {

// plink forwarding a local port to the proxy port of the active server.
inline constexpr int32_t kPrivacyModeSshProxy = 0;
// The same to the server's tor port.
inline constexpr int32_t kPrivacyModeSshTor = 1;
// The OpenVPN client; the only mode the firewall program follows.
inline constexpr int32_t kPrivacyModeVpn = 2;

}  // namespace quietway
